#pragma once

// Unordered collections of distinct values.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef const void* (*CFSetRetainCallBack) (CFAllocatorRef allocator, const void* value);
    typedef void (*CFSetReleaseCallBack) (CFAllocatorRef allocator, const void* value);
    typedef CFStringRef (*CFSetCopyDescriptionCallBack) (const void* value);
    typedef Boolean (*CFSetEqualCallBack) (const void* value1, const void* value2);
    typedef CFHashCode (*CFSetHashCallBack) (const void* value);

    typedef struct
    {
        CFIndex version;
        CFSetRetainCallBack retain;
        CFSetReleaseCallBack release;
        CFSetCopyDescriptionCallBack copyDescription;
        CFSetEqualCallBack equal;
        CFSetHashCallBack hash;
    } CFSetCallBacks;

    /** Values retained going in and released coming out; compared with CFEqual. */
    extern const CFSetCallBacks kCFTypeSetCallBacks;

    typedef const struct __CFSet* CFSetRef;
    typedef struct __CFSet* CFMutableSetRef;

    CFTypeID CFSetGetTypeID (void);

    /** A new immutable set of the values, duplicates (by the equal callback) dropped. */
    CFSetRef CFSetCreate (CFAllocatorRef allocator, const void** values, CFIndex numValues,
                          const CFSetCallBacks* callBacks);

    CFIndex CFSetGetCount (CFSetRef set);

    /** Fills values with CFSetGetCount pointers, not retained for the caller. */
    void CFSetGetValues (CFSetRef set, const void** values);

    Boolean CFSetContainsValue (CFSetRef set, const void* value);

#ifdef __cplusplus
}
#endif
