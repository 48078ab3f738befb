#pragma once

// Ordered collections of values.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef const void* (*CFArrayRetainCallBack) (CFAllocatorRef allocator, const void* value);
    typedef void (*CFArrayReleaseCallBack) (CFAllocatorRef allocator, const void* value);
    typedef CFStringRef (*CFArrayCopyDescriptionCallBack) (const void* value);
    typedef Boolean (*CFArrayEqualCallBack) (const void* value1, const void* value2);

    typedef struct
    {
        CFIndex version;
        CFArrayRetainCallBack retain;
        CFArrayReleaseCallBack release;
        CFArrayCopyDescriptionCallBack copyDescription;
        CFArrayEqualCallBack equal;
    } CFArrayCallBacks;

    /** Retains values going in, releases them coming out, compares them with CFEqual. */
    extern const CFArrayCallBacks kCFTypeArrayCallBacks;

    typedef const struct __CFArray* CFArrayRef;
    typedef struct __CFArray* CFMutableArrayRef;

    CFTypeID CFArrayGetTypeID (void);

    /** A new immutable array of numValues values; NULL callbacks store the pointers as they are. */
    CFArrayRef CFArrayCreate (CFAllocatorRef allocator, const void** values, CFIndex numValues,
                              const CFArrayCallBacks* callBacks);

    /** A new empty mutable array; capacity is only a hint. */
    CFMutableArrayRef CFArrayCreateMutable (CFAllocatorRef allocator, CFIndex capacity,
                                            const CFArrayCallBacks* callBacks);

    CFIndex CFArrayGetCount (CFArrayRef array);

    /** The value at the index, not retained for the caller; an index out of range aborts. */
    const void* CFArrayGetValueAtIndex (CFArrayRef array, CFIndex index);

    void CFArrayAppendValue (CFMutableArrayRef array, const void* value);
    void CFArrayRemoveValueAtIndex (CFMutableArrayRef array, CFIndex index);

#ifdef __cplusplus
}
#endif
