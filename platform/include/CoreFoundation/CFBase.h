#pragma once

// The common ground of every CoreFoundation object: reference counting,
// type identity, equality and hashing.
//
// Ownership follows the usual rule: a function with Create or Copy in its
// name hands the caller a reference that the caller releases; a Get function
// hands out a value that the caller does not own.

#include <MacTypes.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef const void* CFTypeRef;
    typedef unsigned long CFTypeID;
    typedef unsigned long CFOptionFlags;
    typedef unsigned long CFHashCode;
    typedef signed long CFIndex;

    typedef const struct __CFAllocator* CFAllocatorRef;
    typedef const struct __CFString* CFStringRef;
    typedef struct __CFString* CFMutableStringRef;

    enum
    {
        kCFNotFound = -1
    };

    /** The default allocator; it is NULL, as everywhere. */
    extern const CFAllocatorRef kCFAllocatorDefault;

    /** Takes one more reference; returns the object. NULL is a programming error and aborts. */
    CFTypeRef CFRetain (CFTypeRef object);

    /** Gives up one reference; the last one destroys the object. NULL is a programming error and aborts. */
    void CFRelease (CFTypeRef object);

    CFIndex CFGetRetainCount (CFTypeRef object);
    CFTypeID CFGetTypeID (CFTypeRef object);

    /** Strings compare by content, numbers by value, collections by their elements, everything else by identity. */
    Boolean CFEqual (CFTypeRef first, CFTypeRef second);
    CFHashCode CFHash (CFTypeRef object);

#ifdef __cplusplus
}
#endif
