#pragma once

// The part of the collections' callback sets that the stand-in's collections
// use, for the stand-in's own sources only.

#include <CoreFoundation/CoreFoundation.h>

namespace cf
{

/** The retain and release callbacks of the kCFType collection callback sets. */
inline const void* RetainCFType (CFAllocatorRef, const void* value)
{
    return CFRetain (value);
}

inline void ReleaseCFType (CFAllocatorRef, const void* value)
{
    CFRelease (value);
}

/** What a collection does with the values it holds, taken from any of the
    array, set or dictionary callback sets (they share these members). NULL
    callbacks store the pointers as they are and compare them by identity. */
struct ValueCallBacks
{
    const void* (*retain) (CFAllocatorRef, const void*) = nullptr;
    void (*release) (CFAllocatorRef, const void*) = nullptr;
    Boolean (*equal) (const void*, const void*) = nullptr;

    template <typename CallBacks>
    static ValueCallBacks From (const CallBacks* callBacks)
    {
        return callBacks == nullptr ? ValueCallBacks {}
                                    : ValueCallBacks { callBacks->retain, callBacks->release, callBacks->equal };
    }

    const void* Take (const void* value) const { return retain != nullptr ? retain (nullptr, value) : value; }

    void Drop (const void* value) const
    {
        if (release != nullptr)
            release (nullptr, value);
    }

    bool Same (const void* a, const void* b) const { return a == b || (equal != nullptr && equal (a, b)); }
};

} // namespace cf
