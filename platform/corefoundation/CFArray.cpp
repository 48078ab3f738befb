#include "platform/corefoundation/CFObject.h"

#include <cstddef>
#include <vector>

namespace
{

const void* RetainValue (CFAllocatorRef, const void* value)
{
    return CFRetain (value);
}

void ReleaseValue (CFAllocatorRef, const void* value)
{
    CFRelease (value);
}

} // namespace

extern "C" const CFArrayCallBacks kCFTypeArrayCallBacks = { 0, RetainValue, ReleaseValue, CFCopyDescription, CFEqual };

struct __CFArray final : cf::Object
{
    __CFArray (const CFArrayCallBacks* callBacks_, bool isMutable_)
        : Object (cf::kArrayTypeId, cf::Counted::Yes),
          callBacks (callBacks_ ? *callBacks_ : CFArrayCallBacks {}),
          isMutable (isMutable_)
    {
    }

    ~__CFArray() override
    {
        for (const void* value : values)
            Drop (value);
    }

    void Append (const void* value) { values.push_back (callBacks.retain ? callBacks.retain (nullptr, value) : value); }

    void Drop (const void* value) const
    {
        if (callBacks.release)
            callBacks.release (nullptr, value);
    }

    bool Equals (const Object& other) const override
    {
        const auto& that = static_cast<const __CFArray&> (other);
        if (values.size() != that.values.size())
            return false;
        for (size_t i = 0; i < values.size(); ++i)
            if (!(callBacks.equal ? callBacks.equal (values[i], that.values[i]) : values[i] == that.values[i]))
                return false;
        return true;
    }

    CFHashCode Hash() const override { return values.size(); }

    const CFArrayCallBacks callBacks;
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
            array->Append (values[i]);
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
        if (index < 0 || static_cast<size_t> (index) >= a.values.size())
            cf::Fail ("CFArrayGetValueAtIndex", "index out of range");
        return a.values[static_cast<size_t> (index)];
    }

    void CFArrayAppendValue (CFMutableArrayRef array, const void* value)
    {
        MutableArrayOf (array, "CFArrayAppendValue").Append (value);
    }

    void CFArrayRemoveValueAtIndex (CFMutableArrayRef array, CFIndex index)
    {
        __CFArray& a = MutableArrayOf (array, "CFArrayRemoveValueAtIndex");
        if (index < 0 || static_cast<size_t> (index) >= a.values.size())
            cf::Fail ("CFArrayRemoveValueAtIndex", "index out of range");
        const void* removed = a.values[static_cast<size_t> (index)];
        a.values.erase (a.values.begin() + index);
        a.Drop (removed);
    }

} // extern "C"
