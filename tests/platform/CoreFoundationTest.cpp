#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>

namespace
{

CFStringRef MakeString (const char* text)
{
    return CFStringCreateWithCString (kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

CFNumberRef MakeNumber (CFNumberType type, const void* value)
{
    return CFNumberCreate (kCFAllocatorDefault, type, value);
}

CFMutableDictionaryRef MakeDictionary()
{
    return CFDictionaryCreateMutable (kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks);
}

} // namespace

TEST (CoreFoundationStrings, KeepValidUtf8AndRejectTheRest)
{
    const long before = sim::LiveObjectCount();
    // a, e-acute (2 bytes), euro sign (3 bytes), and a character outside the basic plane (4 bytes).
    const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    CFStringRef string = MakeString (text);
    ASSERT_NE (string, nullptr);
    EXPECT_EQ (sim::LiveObjectCount(), before + 1);
    EXPECT_EQ (CFStringGetLength (string), 5) << "UTF-16 units";

    char fits[11];
    EXPECT_TRUE (CFStringGetCString (string, fits, sizeof fits, kCFStringEncodingUTF8));
    EXPECT_STREQ (fits, text);
    char tooSmall[10]; // the ten bytes of text, but no room for the terminator
    EXPECT_FALSE (CFStringGetCString (string, tooSmall, sizeof tooSmall, kCFStringEncodingUTF8));
    EXPECT_FALSE (CFStringGetCString (string, fits, sizeof fits, kCFStringEncodingASCII));
    CFRelease (string);
    EXPECT_EQ (sim::LiveObjectCount(), before);

    for (const char* malformed : { "\xC0\xAF", "\xED\xA0\x80", "abc\xE2\x82", "\xF4\x90\x80\x80" })
        EXPECT_EQ (MakeString (malformed), nullptr) << "overlong, surrogate, cut short, above U+10FFFF";

    const UInt8 bytes[] = { 'Q', 'U', 'O', 'R', 'X' };
    string = CFStringCreateWithBytes (kCFAllocatorDefault, bytes, 4, kCFStringEncodingUTF8, false);
    EXPECT_TRUE (CFEqual (string, CFSTR ("QUOR")));
    EXPECT_EQ (CFHash (string), CFHash (CFSTR ("QUOR")));
    EXPECT_FALSE (CFEqual (string, CFSTR ("QUO")));
    CFRelease (string);

    // Constants are shared, uncounted and survive unbalanced releases.
    CFStringRef constant = CFSTR ("VendorID");
    EXPECT_EQ (constant, CFSTR ("VendorID"));
    CFRelease (constant);
    CFRelease (constant);
    EXPECT_STREQ (CFStringGetCStringPtr (constant, kCFStringEncodingUTF8), "VendorID");
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationNumbers, ConvertReportingLossAndCompareByValue)
{
    const int32_t vendor = 0x7A31;
    const int64_t big = -5000000000LL, five64 = 5;
    const double half = 2.5, five = 5.0;
    CFNumberRef number = MakeNumber (kCFNumberIntType, &vendor);
    EXPECT_EQ (CFNumberGetType (number), kCFNumberSInt32Type);
    long long wide = 0;
    EXPECT_TRUE (CFNumberGetValue (number, kCFNumberLongLongType, &wide));
    EXPECT_EQ (wide, 0x7A31);
    int8_t narrow = 0;
    EXPECT_FALSE (CFNumberGetValue (number, kCFNumberSInt8Type, &narrow));
    EXPECT_EQ (narrow, 0x31); // truncated like a cast, and reported as lossy

    CFNumberRef large = MakeNumber (kCFNumberSInt64Type, &big);
    int32_t small = 0;
    EXPECT_FALSE (CFNumberGetValue (large, kCFNumberSInt32Type, &small));
    double real = 0;
    EXPECT_TRUE (CFNumberGetValue (large, kCFNumberFloat64Type, &real));
    EXPECT_EQ (real, -5e9);

    CFNumberRef fraction = MakeNumber (kCFNumberDoubleType, &half);
    EXPECT_FALSE (CFNumberGetValue (fraction, kCFNumberSInt32Type, &small));
    EXPECT_EQ (small, 2);
    EXPECT_EQ (MakeNumber (99, &vendor), nullptr);

    CFNumberRef integer = MakeNumber (kCFNumberSInt64Type, &five64);
    CFNumberRef floating = MakeNumber (kCFNumberFloat64Type, &five);
    EXPECT_TRUE (CFEqual (integer, floating));
    EXPECT_EQ (CFHash (integer), CFHash (floating));
    EXPECT_FALSE (CFEqual (fraction, floating));
    EXPECT_FALSE (CFEqual (integer, CFSTR ("5")));
    for (CFNumberRef n : { number, large, fraction, integer, floating })
        CFRelease (n);
}

TEST (CoreFoundationDictionaries, OwnTheirKeysAndValuesAndLookUpByContent)
{
    const long before = sim::LiveObjectCount();
    CFMutableDictionaryRef dictionary = MakeDictionary();
    CFStringRef key = MakeString ("name");
    CFStringRef first = MakeString ("first");
    CFStringRef second = MakeString ("second");

    CFDictionarySetValue (dictionary, key, first);
    EXPECT_EQ (CFGetRetainCount (key), 2);
    EXPECT_EQ (CFGetRetainCount (first), 2);

    // Add leaves an existing key alone; Set replaces its value and lets go of the old one.
    CFDictionaryAddValue (dictionary, CFSTR ("name"), second);
    EXPECT_EQ (CFDictionaryGetValue (dictionary, key), first);
    EXPECT_EQ (CFGetRetainCount (second), 1);
    CFDictionarySetValue (dictionary, CFSTR ("name"), second);
    EXPECT_EQ (CFDictionaryGetCount (dictionary), 1);
    EXPECT_EQ (CFDictionaryGetValue (dictionary, key), second);
    EXPECT_EQ (CFGetRetainCount (first), 1);
    EXPECT_EQ (CFGetRetainCount (second), 2);

    // Setting the value it already holds must not free it on the way.
    CFRelease (second);
    CFDictionarySetValue (dictionary, key, second);
    EXPECT_EQ (CFGetRetainCount (second), 1);

    // Number keys match by value across types, and order is insertion order.
    const int32_t three = 3;
    const int64_t threeWide = 3;
    CFNumberRef numberKey = MakeNumber (kCFNumberSInt32Type, &three);
    CFNumberRef sameNumber = MakeNumber (kCFNumberSInt64Type, &threeWide);
    CFDictionaryAddValue (dictionary, numberKey, CFSTR ("3"));
    CFRelease (numberKey);
    EXPECT_EQ (CFDictionaryGetValue (dictionary, sameNumber), CFSTR ("3"));
    EXPECT_EQ (CFDictionaryGetValue (dictionary, CFSTR ("c")), nullptr);
    const void* keys[2] = {};
    const void* values[2] = {};
    CFDictionaryGetKeysAndValues (dictionary, keys, values);
    EXPECT_EQ (keys[0], key);
    EXPECT_EQ (values[1], CFSTR ("3"));

    CFDictionaryRemoveValue (dictionary, sameNumber); // frees the number key, held only by the dictionary
    EXPECT_EQ (CFDictionaryGetCount (dictionary), 1);
    EXPECT_EQ (sim::LiveObjectCount(), before + 5); // dictionary, key, two values, sameNumber
    for (CFTypeRef object : { CFTypeRef (key), CFTypeRef (first), CFTypeRef (sameNumber), CFTypeRef (dictionary) })
        CFRelease (object);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationCollections, ArraysAndSetsRetainWhatTheyHoldUnlessGivenNoCallbacks)
{
    const long before = sim::LiveObjectCount();
    CFMutableArrayRef array = CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    CFStringRef first = MakeString ("first");
    CFStringRef second = MakeString ("second");
    CFArrayAppendValue (array, first);
    CFArrayAppendValue (array, second);
    CFArrayAppendValue (array, first);
    EXPECT_EQ (CFArrayGetCount (array), 3);
    EXPECT_EQ (CFGetRetainCount (first), 3);
    CFArrayRemoveValueAtIndex (array, 0);
    EXPECT_EQ (CFGetRetainCount (first), 2);
    EXPECT_EQ (CFArrayGetValueAtIndex (array, 0), second);

    CFMutableArrayRef plain = CFArrayCreateMutable (kCFAllocatorDefault, 0, nullptr);
    CFArrayAppendValue (plain, second);
    EXPECT_EQ (CFGetRetainCount (second), 2);
    CFRelease (plain);
    EXPECT_EQ (CFGetRetainCount (second), 2);

    const void* pair[] = { second, first };
    CFArrayRef copy = CFArrayCreate (kCFAllocatorDefault, pair, 2, &kCFTypeArrayCallBacks);
    EXPECT_TRUE (CFEqual (copy, array));
    CFArrayRemoveValueAtIndex (array, 1);
    EXPECT_FALSE (CFEqual (copy, array));

    // A set drops duplicates by value and keeps only the first of them.
    CFStringRef alsoFirst = MakeString ("first");
    const void* values[] = { first, second, alsoFirst };
    CFSetRef set = CFSetCreate (kCFAllocatorDefault, values, 3, &kCFTypeSetCallBacks);
    EXPECT_EQ (CFSetGetCount (set), 2);
    EXPECT_TRUE (CFSetContainsValue (set, CFSTR ("second")));
    EXPECT_FALSE (CFSetContainsValue (set, CFSTR ("third")));
    EXPECT_EQ (CFGetRetainCount (alsoFirst), 1);
    const void* held[2] = {};
    CFSetGetValues (set, held);
    EXPECT_EQ (held[0], first);
    EXPECT_EQ (held[1], second);

    for (CFTypeRef object :
         { CFTypeRef (copy), CFTypeRef (array), CFTypeRef (first), CFTypeRef (second), CFTypeRef (alsoFirst) })
        CFRelease (object);
    EXPECT_EQ (sim::LiveObjectCount(), before + 3); // the set and its two values
    CFRelease (set);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationDeathTest, MisuseAbortsLoudly)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_DEATH (CFRelease (nullptr), "CFRelease");
    EXPECT_DEATH (CFRetain (nullptr), "CFRetain");
    EXPECT_DEATH (CFArrayGetCount (reinterpret_cast<CFArrayRef> (CFSTR ("not an array"))), "wrong type");
    CFMutableArrayRef array = CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    EXPECT_DEATH (CFArrayGetValueAtIndex (array, 0), "out of range");
    CFRelease (array);
}
