#include "platform/corefoundation/CFObject.h"
#include "platform/corefoundation/ValueCallBacks.h"

#include <cstddef>
#include <vector>

extern "C" const CFArrayCallBacks kCFTypeArrayCallBacks = { 0, cf::RetainCFType, cf::ReleaseCFType, nullptr, CFEqual };

struct __CFArray final : cf::Object
{
    __CFArray (const CFArrayCallBacks* callBacks_, bool isMutable_)
        : Object (cf::kArrayTypeId),
          callBacks (cf::ValueCallBacks::From (callBacks_)),
          isMutable (isMutable_)
    {
    }

    ~__CFArray() override
    {
        for (const void* value : values)
            callBacks.Drop (value);
    }

    bool Equals (const Object& other) const override
    {
        const auto& that = static_cast<const __CFArray&> (other);
        if (values.size() != that.values.size())
            return false;
        for (size_t i = 0; i < values.size(); ++i)
            if (!callBacks.Same (values[i], that.values[i]))
                return false;
        return true;
    }

    CFHashCode Hash() const override { return values.size(); }

    const cf::ValueCallBacks callBacks;
    const bool isMutable;
    std::vector<const void*> values;
};

namespace
{

__CFArray& ArrayOf (CFTypeRef array, const char* function)
{
    return cf::Checked<__CFArray> (array, cf::kArrayTypeId, function);
}

__CFArray& MutableArrayOf (CFTypeRef array, const char* function)
{
    __CFArray& a = ArrayOf (array, function);
    if (!a.isMutable)
        cf::Fail (function, "immutable array");
    return a;
}

size_t CheckedIndex (const __CFArray& array, CFIndex index, const char* function)
{
    if (index < 0 || static_cast<size_t> (index) >= array.values.size())
        cf::Fail (function, "index out of range");
    return static_cast<size_t> (index);
}

} // namespace

extern "C"
{
    CFTypeID CFArrayGetTypeID (void)
    {
        return cf::kArrayTypeId;
    }

    CFArrayRef CFArrayCreate (CFAllocatorRef, const void** values, CFIndex numValues, const CFArrayCallBacks* callBacks)
    {
        if (numValues < 0 || (values == nullptr && numValues > 0))
            cf::Fail ("CFArrayCreate", "bad values");
        auto* array = new __CFArray (callBacks, false);
        for (CFIndex i = 0; i < numValues; ++i)
            array->values.push_back (array->callBacks.Take (values[i]));
        return array;
    }

    CFMutableArrayRef CFArrayCreateMutable (CFAllocatorRef, CFIndex, const CFArrayCallBacks* callBacks)
    {
        return new __CFArray (callBacks, true);
    }

    CFIndex CFArrayGetCount (CFArrayRef array)
    {
        return static_cast<CFIndex> (ArrayOf (array, "CFArrayGetCount").values.size());
    }

    const void* CFArrayGetValueAtIndex (CFArrayRef array, CFIndex index)
    {
        const __CFArray& a = ArrayOf (array, "CFArrayGetValueAtIndex");
        return a.values[CheckedIndex (a, index, "CFArrayGetValueAtIndex")];
    }

    void CFArrayAppendValue (CFMutableArrayRef array, const void* value)
    {
        __CFArray& a = MutableArrayOf (array, "CFArrayAppendValue");
        a.values.push_back (a.callBacks.Take (value));
    }

    void CFArrayRemoveValueAtIndex (CFMutableArrayRef array, CFIndex index)
    {
        __CFArray& a = MutableArrayOf (array, "CFArrayRemoveValueAtIndex");
        const auto at =
            a.values.begin() + static_cast<std::ptrdiff_t> (CheckedIndex (a, index, "CFArrayRemoveValueAtIndex"));
        const void* removed = *at;
        a.values.erase (at);
        a.callBacks.Drop (removed);
    }

} // extern "C"
