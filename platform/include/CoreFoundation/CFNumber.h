#pragma once

// Immutable numbers: an integer of up to 64 bits or a floating-point value.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef const struct __CFNumber* CFNumberRef;
    typedef CFIndex CFNumberType;

    enum
    {
        kCFNumberSInt8Type = 1,
        kCFNumberSInt16Type = 2,
        kCFNumberSInt32Type = 3,
        kCFNumberSInt64Type = 4,
        kCFNumberFloat32Type = 5,
        kCFNumberFloat64Type = 6,
        kCFNumberCharType = 7,
        kCFNumberShortType = 8,
        kCFNumberIntType = 9,
        kCFNumberLongType = 10,
        kCFNumberLongLongType = 11,
        kCFNumberFloatType = 12,
        kCFNumberDoubleType = 13,
        kCFNumberCFIndexType = 14,
        kCFNumberNSIntegerType = 15,
        kCFNumberCGFloatType = 16,
        kCFNumberMaxType = 16
    };

    CFTypeID CFNumberGetTypeID (void);

    /** A new number read from *valuePtr as the given type; NULL for an unknown type. */
    CFNumberRef CFNumberCreate (CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr);

    /** The type the number was made with, as one of the SInt8 to SInt64, Float32 and Float64 types. */
    CFNumberType CFNumberGetType (CFNumberRef number);

    /** Writes the value as the given type; false when that loses information (the value is written all the same). */
    Boolean CFNumberGetValue (CFNumberRef number, CFNumberType theType, void* valuePtr);

#ifdef __cplusplus
}
#endif
