#pragma once

// Key-value collections; keys are compared with the key callbacks' equal function.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef const void* (*CFDictionaryRetainCallBack) (CFAllocatorRef allocator, const void* value);
    typedef void (*CFDictionaryReleaseCallBack) (CFAllocatorRef allocator, const void* value);
    typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack) (const void* value);
    typedef Boolean (*CFDictionaryEqualCallBack) (const void* value1, const void* value2);
    typedef CFHashCode (*CFDictionaryHashCallBack) (const void* value);

    typedef struct
    {
        CFIndex version;
        CFDictionaryRetainCallBack retain;
        CFDictionaryReleaseCallBack release;
        CFDictionaryCopyDescriptionCallBack copyDescription;
        CFDictionaryEqualCallBack equal;
        CFDictionaryHashCallBack hash;
    } CFDictionaryKeyCallBacks;

    typedef struct
    {
        CFIndex version;
        CFDictionaryRetainCallBack retain;
        CFDictionaryReleaseCallBack release;
        CFDictionaryCopyDescriptionCallBack copyDescription;
        CFDictionaryEqualCallBack equal;
    } CFDictionaryValueCallBacks;

    /** Keys and values retained going in and released coming out; keys compared with CFEqual. */
    extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
    extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

    typedef const struct __CFDictionary* CFDictionaryRef;
    typedef struct __CFDictionary* CFMutableDictionaryRef;

    CFTypeID CFDictionaryGetTypeID (void);

    /** A new empty mutable dictionary; capacity is only a hint; NULL callbacks store the pointers as they are. */
    CFMutableDictionaryRef CFDictionaryCreateMutable (CFAllocatorRef allocator, CFIndex capacity,
                                                      const CFDictionaryKeyCallBacks* keyCallBacks,
                                                      const CFDictionaryValueCallBacks* valueCallBacks);

    CFIndex CFDictionaryGetCount (CFDictionaryRef dictionary);

    /** The value stored under the key, not retained for the caller, or NULL. */
    const void* CFDictionaryGetValue (CFDictionaryRef dictionary, const void* key);

    /** Fills keys and values (either may be NULL) with the entries, in the order they were added. */
    void CFDictionaryGetKeysAndValues (CFDictionaryRef dictionary, const void** keys, const void** values);

    /** Adds the pair unless the key is already present. */
    void CFDictionaryAddValue (CFMutableDictionaryRef dictionary, const void* key, const void* value);

    /** Adds the pair, or replaces the value of a key already present. */
    void CFDictionarySetValue (CFMutableDictionaryRef dictionary, const void* key, const void* value);

    void CFDictionaryRemoveValue (CFMutableDictionaryRef dictionary, const void* key);

#ifdef __cplusplus
}
#endif
