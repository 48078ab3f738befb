#include "platform/corefoundation/CFObject.h"
#include "platform/corefoundation/ValueCallBacks.h"

#include <cstddef>
#include <vector>

extern "C" const CFSetCallBacks kCFTypeSetCallBacks = {
    0, cf::RetainCFType, cf::ReleaseCFType, nullptr, CFEqual, CFHash
};

/** Values keep the order in which they were first given; the sets here hold a handful. */
struct __CFSet final : cf::Object
{
    explicit __CFSet (const CFSetCallBacks* callBacks_)
        : Object (cf::kSetTypeId),
          callBacks (cf::ValueCallBacks::From (callBacks_))
    {
    }

    ~__CFSet() override
    {
        for (const void* value : values)
            callBacks.Drop (value);
    }

    bool Contains (const void* value) const
    {
        for (const void* held : values)
            if (callBacks.Same (held, value))
                return true;
        return false;
    }

    bool Equals (const Object& other) const override
    {
        const auto& that = static_cast<const __CFSet&> (other);
        if (values.size() != that.values.size())
            return false;
        for (const void* value : values)
            if (!that.Contains (value))
                return false;
        return true;
    }

    CFHashCode Hash() const override { return values.size(); }

    const cf::ValueCallBacks callBacks;
    std::vector<const void*> values;
};

namespace
{

const __CFSet& SetOf (CFTypeRef set, const char* function)
{
    return cf::Checked<const __CFSet> (set, cf::kSetTypeId, function);
}

} // namespace

extern "C"
{
    CFTypeID CFSetGetTypeID (void)
    {
        return cf::kSetTypeId;
    }

    CFSetRef CFSetCreate (CFAllocatorRef, const void** values, CFIndex numValues, const CFSetCallBacks* callBacks)
    {
        if (numValues < 0 || (values == nullptr && numValues > 0))
            cf::Fail ("CFSetCreate", "bad values");
        auto* set = new __CFSet (callBacks);
        for (CFIndex i = 0; i < numValues; ++i)
            if (!set->Contains (values[i]))
                set->values.push_back (set->callBacks.Take (values[i]));
        return set;
    }

    CFIndex CFSetGetCount (CFSetRef set)
    {
        return static_cast<CFIndex> (SetOf (set, "CFSetGetCount").values.size());
    }

    void CFSetGetValues (CFSetRef set, const void** values)
    {
        const auto& s = SetOf (set, "CFSetGetValues");
        if (values == nullptr && !s.values.empty())
            cf::Fail ("CFSetGetValues", "NULL values");
        for (size_t i = 0; i < s.values.size(); ++i)
            values[i] = s.values[i];
    }

    Boolean CFSetContainsValue (CFSetRef set, const void* value)
    {
        return SetOf (set, "CFSetContainsValue").Contains (value);
    }

} // extern "C"
