#include "platform/corefoundation/RunLoopInternals.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

static CFStringRef MakeString (const char* text)
{
    return CFStringCreateWithCString (kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

TEST (CoreFoundation, ValuesReadBackAsTheSystemReadsThemAndCollectionsOwnWhatTheyHold)
{
    const long before = sim::LiveObjectCount();
    // ASCII, then 2-, 3- and 4-byte characters.
    for (const char* text : { "Tavrolux Velmar (A1)", "", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" })
    {
        CFStringRef string = MakeString (text);
        ASSERT_NE (string, nullptr) << text;
        EXPECT_EQ (CFGetTypeID (string), CFStringGetTypeID());
        EXPECT_STREQ (CFStringGetCStringPtr (string, kCFStringEncodingUTF8), text);
        CFRelease (string);
    }
    // Overlong, a surrogate, cut short, above U+10FFFF.
    for (const char* malformed : { "\xC0\xAF", "\xED\xA0\x80", "abc\xE2\x82", "\xF4\x90\x80\x80" })
        EXPECT_EQ (MakeString (malformed), nullptr);

    // The engine writes 32-bit numbers, the HID registry 64-bit ones; both are read as 64-bit.
    const std::pair<CFNumberType, std::int64_t> numbers[] = { { kCFNumberIntType, 0x7A31 },
                                                              { kCFNumberSInt32Type, -1 },
                                                              { kCFNumberSInt64Type, 0x100000A10 } };
    for (const auto& [type, value] : numbers)
    {
        const auto asInt = static_cast<std::int32_t> (value);
        CFNumberRef number =
            CFNumberCreate (kCFAllocatorDefault, type, type == kCFNumberSInt64Type ? (const void*) &value : &asInt);
        std::int64_t read = 0;
        EXPECT_TRUE (CFNumberGetValue (number, kCFNumberLongLongType, &read));
        EXPECT_EQ (std::make_pair (read, CFGetTypeID (number)), std::make_pair (value, CFNumberGetTypeID()));
        CFRelease (number);
    }

    CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable (
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFStringRef key = MakeString ("VendorID"), first = MakeString ("first"), second = MakeString ("second");
    CFDictionaryAddValue (dictionary, key, first);
    CFDictionaryAddValue (dictionary, CFSTR ("VendorID"), second); // Add keeps what a key holds
    EXPECT_EQ (CFDictionaryGetValue (dictionary, CFSTR ("VendorID")), first);
    CFDictionarySetValue (dictionary, CFSTR ("VendorID"), second);
    CFRelease (second);
    CFDictionarySetValue (dictionary, key, second); // its only holder must not free it on the way
    EXPECT_EQ (CFDictionaryGetValue (dictionary, key), second);
    EXPECT_EQ (CFDictionaryGetCount (dictionary), 1);

    CFMutableArrayRef array = CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue (array, dictionary);
    CFArrayAppendValue (array, first);
    EXPECT_EQ (CFGetTypeID (array), CFArrayGetTypeID());
    EXPECT_EQ (CFArrayGetCount (array), 2);
    EXPECT_EQ (CFArrayGetValueAtIndex (array, 1), first);

    CFStringRef alsoFirst = MakeString ("first");
    const void* members[] = { first, key, alsoFirst };
    CFSetRef set = CFSetCreate (kCFAllocatorDefault, members, 3, &kCFTypeSetCallBacks);
    const void* held[2] = {};
    CFSetGetValues (set, held);
    EXPECT_EQ (CFSetGetCount (set), 2);
    EXPECT_TRUE ((held[0] == first && held[1] == key) || (held[0] == key && held[1] == first));

    for (CFTypeRef object : { CFTypeRef (key), CFTypeRef (first), CFTypeRef (alsoFirst), CFTypeRef (dictionary) })
        CFRelease (object);
    EXPECT_EQ (sim::LiveObjectCount(), before + 6); // array, set, dictionary, key, first, second
    CFRelease (array);
    CFRelease (set);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (CoreFoundationDeathTest, MisuseAbortsAsOnAMac)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_DEATH (CFRelease (nullptr), "CFRelease");
    EXPECT_DEATH (CFArrayGetCount (reinterpret_cast<CFArrayRef> (CFSTR ("not an array"))), "wrong type");
}

TEST (RunLoop, RunsInSlicesOnItsOwnThreadAndHandlesWhatOtherThreadsPostInOrder)
{
    std::vector<int> log; // run results and tasks, as the loop's thread saw them
    std::atomic<CFRunLoopRef> loop { nullptr };
    std::thread thread (
        [&]
        {
            log.push_back (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 30.0, true)); // nothing scheduled
            cf::AddRunLoopSource (CFRunLoopGetCurrent()); // what scheduling a HID manager does
            log.push_back (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.01, true));
            loop = CFRunLoopGetCurrent();
            for (int i = 0; i < 2; ++i)
                log.push_back (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 30.0, true));
            CFRetain (loop.load());
        });
    const auto loopThread = thread.get_id();
    while (loop == nullptr)
        std::this_thread::yield();
    std::this_thread::sleep_for (std::chrono::milliseconds (20)); // most likely asleep by now: the post wakes it
    cf::PostToRunLoop (loop, [&] { log.push_back (std::this_thread::get_id() == loopThread ? 101 : -1); });
    cf::PostToRunLoop (loop, [&] { log.push_back (102); });
    thread.join();

    EXPECT_EQ (log, (std::vector<int> { kCFRunLoopRunFinished, kCFRunLoopRunTimedOut, 101, kCFRunLoopRunHandledSource,
                                        102, kCFRunLoopRunHandledSource }));
    EXPECT_FALSE (cf::PostToRunLoop (loop, [] {})) << "its thread has ended";
    CFRelease (loop);
}
