#pragma once

// Immutable strings, held as UTF-8.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef UInt32 CFStringEncoding;

    enum
    {
        kCFStringEncodingMacRoman = 0,
        kCFStringEncodingWindowsLatin1 = 0x0500,
        kCFStringEncodingISOLatin1 = 0x0201,
        kCFStringEncodingASCII = 0x0600,
        kCFStringEncodingUTF8 = 0x08000100
    };

    CFTypeID CFStringGetTypeID (void);

    /** An immortal string for a literal, the same object for the same text; retain and release do nothing to it. */
    CFStringRef CFStringMakeConstantString (const char* cStr);

#define CFSTR(cStr) CFStringMakeConstantString ("" cStr "")

    /** A new string from NUL-terminated text (UTF-8, or ASCII); NULL when the text is not valid in the encoding. */
    CFStringRef CFStringCreateWithCString (CFAllocatorRef allocator, const char* cStr, CFStringEncoding encoding);

    /** A new string from numBytes bytes (UTF-8, or ASCII); NULL when they are not valid in the encoding. */
    CFStringRef CFStringCreateWithBytes (CFAllocatorRef allocator, const UInt8* bytes, CFIndex numBytes,
                                         CFStringEncoding encoding, Boolean isExternalRepresentation);

    /** Length in UTF-16 code units. */
    CFIndex CFStringGetLength (CFStringRef string);

    /** The most bytes that length UTF-16 units can take in the encoding, or kCFNotFound. */
    CFIndex CFStringGetMaximumSizeForEncoding (CFIndex length, CFStringEncoding encoding);

    /** Copies the text with its terminator; false, and nothing usable, when it does not fit or cannot be encoded. */
    Boolean CFStringGetCString (CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);

    /** The text itself, valid as long as the string, or NULL when it is not available in the encoding. */
    const char* CFStringGetCStringPtr (CFStringRef string, CFStringEncoding encoding);

#ifdef __cplusplus
}
#endif
