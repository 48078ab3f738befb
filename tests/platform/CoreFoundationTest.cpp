#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <cstring>

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

TEST (CoreFoundationStrings, KeepUtf8TextAndCountUtf16Units)
{
    const long before = sim::LiveObjectCount();
    // a, e-acute (2 bytes), euro sign (3 bytes), and a character outside the basic plane (4 bytes).
    const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    CFStringRef string = MakeString (text);
    ASSERT_NE (string, nullptr);
    EXPECT_EQ (sim::LiveObjectCount(), before + 1);
    EXPECT_EQ (CFGetTypeID (string), CFStringGetTypeID());
    EXPECT_EQ (CFStringGetLength (string), 5);

    char fits[11];
    EXPECT_TRUE (CFStringGetCString (string, fits, sizeof fits, kCFStringEncodingUTF8));
    EXPECT_STREQ (fits, text);
    char tooSmall[10]; // the ten bytes of text, but no room for the terminator
    EXPECT_FALSE (CFStringGetCString (string, tooSmall, sizeof tooSmall, kCFStringEncodingUTF8));
    EXPECT_FALSE (CFStringGetCString (string, fits, sizeof fits, kCFStringEncodingASCII));
    EXPECT_EQ (CFStringGetCStringPtr (string, kCFStringEncodingASCII), nullptr);
    EXPECT_GE (CFStringGetMaximumSizeForEncoding (CFStringGetLength (string), kCFStringEncodingUTF8) + 1,
               static_cast<CFIndex> (std::strlen (text) + 1));

    CFRelease (string);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationStrings, RejectMalformedUtf8AndTakeBytesWithTheirLength)
{
    EXPECT_EQ (MakeString ("\xC0\xAF"), nullptr);         // overlong
    EXPECT_EQ (MakeString ("\xED\xA0\x80"), nullptr);     // a surrogate
    EXPECT_EQ (MakeString ("abc\xE2\x82"), nullptr);      // cut short
    EXPECT_EQ (MakeString ("\xF4\x90\x80\x80"), nullptr); // above U+10FFFF

    const UInt8 bytes[] = { 'Q', 'U', 'O', 'R', 'X' };
    CFStringRef string = CFStringCreateWithBytes (kCFAllocatorDefault, bytes, 4, kCFStringEncodingUTF8, false);
    ASSERT_NE (string, nullptr);
    EXPECT_STREQ (CFStringGetCStringPtr (string, kCFStringEncodingUTF8), "QUOR");
    EXPECT_TRUE (CFEqual (string, CFSTR ("QUOR")));
    EXPECT_EQ (CFHash (string), CFHash (CFSTR ("QUOR")));
    EXPECT_FALSE (CFEqual (string, CFSTR ("QUO")));
    CFRelease (string);
}

TEST (CoreFoundationStrings, ConstantsAreSharedImmortalAndUncounted)
{
    const long before = sim::LiveObjectCount();
    CFStringRef first = CFSTR ("VendorID");
    EXPECT_EQ (first, CFSTR ("VendorID"));
    EXPECT_NE (first, CFSTR ("ProductID"));
    EXPECT_EQ (sim::LiveObjectCount(), before);
    CFRelease (first); // a constant survives an unbalanced release
    CFRelease (first);
    EXPECT_STREQ (CFStringGetCStringPtr (first, kCFStringEncodingUTF8), "VendorID");
}

TEST (CoreFoundationNumbers, ConvertBetweenTypesAndReportLoss)
{
    const int32_t vendor = 0x7A31;
    CFNumberRef number = MakeNumber (kCFNumberIntType, &vendor);
    EXPECT_EQ (CFGetTypeID (number), CFNumberGetTypeID());
    EXPECT_EQ (CFNumberGetType (number), kCFNumberSInt32Type);
    long long wide = 0;
    EXPECT_TRUE (CFNumberGetValue (number, kCFNumberLongLongType, &wide));
    EXPECT_EQ (wide, 0x7A31);
    int8_t narrow = 0;
    EXPECT_FALSE (CFNumberGetValue (number, kCFNumberSInt8Type, &narrow));
    EXPECT_EQ (narrow, 0x31); // truncated like a cast, and reported as lossy
    CFRelease (number);

    const int64_t big = -5000000000LL;
    number = MakeNumber (kCFNumberSInt64Type, &big);
    EXPECT_EQ (CFNumberGetType (number), kCFNumberSInt64Type);
    int32_t small = 0;
    EXPECT_FALSE (CFNumberGetValue (number, kCFNumberSInt32Type, &small));
    double real = 0;
    EXPECT_TRUE (CFNumberGetValue (number, kCFNumberFloat64Type, &real));
    EXPECT_EQ (real, -5e9);
    CFRelease (number);

    const double half = 2.5;
    number = MakeNumber (kCFNumberDoubleType, &half);
    EXPECT_EQ (CFNumberGetType (number), kCFNumberFloat64Type);
    int32_t whole = 0;
    EXPECT_FALSE (CFNumberGetValue (number, kCFNumberSInt32Type, &whole));
    EXPECT_EQ (whole, 2);
    CFRelease (number);

    EXPECT_EQ (MakeNumber (99, &vendor), nullptr);
}

TEST (CoreFoundationNumbers, CompareAndHashByValue)
{
    const int32_t five32 = 5;
    const int64_t five64 = 5;
    const double fiveReal = 5.0;
    const double fiveAndAHalf = 5.5;
    const int64_t six = 6;
    CFNumberRef a = MakeNumber (kCFNumberSInt32Type, &five32);
    CFNumberRef b = MakeNumber (kCFNumberSInt64Type, &five64);
    CFNumberRef c = MakeNumber (kCFNumberFloat64Type, &fiveReal);
    CFNumberRef d = MakeNumber (kCFNumberFloat64Type, &fiveAndAHalf);
    CFNumberRef e = MakeNumber (kCFNumberSInt64Type, &six);

    EXPECT_TRUE (CFEqual (a, b));
    EXPECT_TRUE (CFEqual (b, c));
    EXPECT_EQ (CFHash (a), CFHash (b));
    EXPECT_EQ (CFHash (b), CFHash (c));
    EXPECT_FALSE (CFEqual (c, d));
    EXPECT_FALSE (CFEqual (a, e));
    EXPECT_FALSE (CFEqual (a, CFSTR ("5")));

    for (CFNumberRef n : { a, b, c, d, e })
        CFRelease (n);
}

TEST (CoreFoundationDictionaries, OwnTheirKeysAndValues)
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
    EXPECT_STREQ (CFStringGetCStringPtr (static_cast<CFStringRef> (CFDictionaryGetValue (dictionary, key)),
                                         kCFStringEncodingUTF8),
                  "second");

    CFRelease (key);
    CFRelease (first);
    CFRelease (dictionary); // takes the key and the second value with it
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationDictionaries, LookUpByContentKeepOrderAndReleaseOnRemoval)
{
    const long before = sim::LiveObjectCount();
    CFMutableDictionaryRef dictionary = MakeDictionary();
    const int32_t three = 3;
    const int64_t threeWide = 3;
    CFNumberRef numberKey = MakeNumber (kCFNumberSInt32Type, &three);
    CFNumberRef sameNumber = MakeNumber (kCFNumberSInt64Type, &threeWide);
    CFDictionaryAddValue (dictionary, CFSTR ("b"), CFSTR ("1"));
    CFDictionaryAddValue (dictionary, numberKey, CFSTR ("2"));
    CFDictionaryAddValue (dictionary, CFSTR ("a"), CFSTR ("3"));
    CFRelease (numberKey);

    CFStringRef probe = MakeString ("a");
    EXPECT_EQ (CFDictionaryGetValue (dictionary, probe), CFSTR ("3"));
    EXPECT_EQ (CFDictionaryGetValue (dictionary, sameNumber), CFSTR ("2"));
    EXPECT_EQ (CFDictionaryGetValue (dictionary, CFSTR ("c")), nullptr);

    const void* keys[3] = {};
    const void* values[3] = {};
    CFDictionaryGetKeysAndValues (dictionary, keys, values);
    EXPECT_EQ (keys[0], CFSTR ("b"));
    EXPECT_TRUE (CFEqual (keys[1], sameNumber));
    EXPECT_EQ (values[2], CFSTR ("3"));

    CFDictionaryRemoveValue (dictionary, sameNumber); // frees the number key, held only by the dictionary
    EXPECT_EQ (CFDictionaryGetCount (dictionary), 2);
    EXPECT_EQ (CFDictionaryGetValue (dictionary, sameNumber), nullptr);
    EXPECT_EQ (sim::LiveObjectCount(), before + 3);

    CFRelease (probe);
    CFRelease (sameNumber);
    CFRelease (dictionary);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationArrays, RetainWhatTheyHoldUnlessGivenNoCallbacks)
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
    EXPECT_EQ (CFArrayGetValueAtIndex (array, 1), second);

    CFArrayRemoveValueAtIndex (array, 0);
    EXPECT_EQ (CFGetRetainCount (first), 2);
    EXPECT_EQ (CFArrayGetValueAtIndex (array, 0), second);

    CFMutableArrayRef plain = CFArrayCreateMutable (kCFAllocatorDefault, 0, nullptr);
    CFArrayAppendValue (plain, second);
    EXPECT_EQ (CFGetRetainCount (second), 2);
    CFRelease (plain);
    EXPECT_EQ (CFGetRetainCount (second), 2);

    const void* values[] = { first, second };
    CFArrayRef copy = CFArrayCreate (kCFAllocatorDefault, values, 2, &kCFTypeArrayCallBacks);
    CFMutableArrayRef same = CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    CFStringRef firstAgain = MakeString ("first");
    CFArrayAppendValue (same, firstAgain);
    CFArrayAppendValue (same, CFSTR ("second"));
    EXPECT_TRUE (CFEqual (copy, same));
    CFArrayRemoveValueAtIndex (same, 1);
    EXPECT_FALSE (CFEqual (copy, same));

    for (CFTypeRef object : { CFTypeRef (copy), CFTypeRef (same), CFTypeRef (firstAgain), CFTypeRef (array),
                              CFTypeRef (first), CFTypeRef (second) })
        CFRelease (object);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationSets, DropDuplicatesByValueAndOwnTheRest)
{
    const long before = sim::LiveObjectCount();
    CFStringRef a = MakeString ("a");
    CFStringRef alsoA = MakeString ("a");
    CFStringRef b = MakeString ("b");
    const void* values[] = { a, b, alsoA };
    CFSetRef set = CFSetCreate (kCFAllocatorDefault, values, 3, &kCFTypeSetCallBacks);
    EXPECT_EQ (CFGetTypeID (set), CFSetGetTypeID());
    EXPECT_EQ (CFSetGetCount (set), 2);
    EXPECT_TRUE (CFSetContainsValue (set, CFSTR ("b")));
    EXPECT_FALSE (CFSetContainsValue (set, CFSTR ("c")));
    EXPECT_EQ (CFGetRetainCount (a), 2);
    EXPECT_EQ (CFGetRetainCount (alsoA), 1);

    const void* held[2] = {};
    CFSetGetValues (set, held);
    EXPECT_EQ (held[0], a);
    EXPECT_EQ (held[1], b);

    CFRelease (a);
    CFRelease (alsoA);
    CFRelease (b);
    EXPECT_EQ (sim::LiveObjectCount(), before + 3); // the set and its two values
    CFRelease (set);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

using CoreFoundationDeathTest = ::testing::Test;

TEST_F (CoreFoundationDeathTest, MisuseAbortsLoudly)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_DEATH (CFRelease (nullptr), "CFRelease");
    EXPECT_DEATH (CFRetain (nullptr), "CFRetain");
    EXPECT_DEATH (CFGetTypeID (nullptr), "CFGetTypeID");
    EXPECT_DEATH (CFArrayGetCount (reinterpret_cast<CFArrayRef> (CFSTR ("not an array"))), "wrong type");

    CFMutableArrayRef array = CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue (array, CFSTR ("only"));
    EXPECT_DEATH (CFArrayGetValueAtIndex (array, 1), "out of range");
    CFRelease (array);
}
