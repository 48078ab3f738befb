// Linked with --wrap for CFNumberCreate and CFDictionaryCreateMutable, so that
// the HID manager's matching dictionary can be made to fail to build.

#include "HidTestSupport.h"

#include "devices/IOHIDManager.h"

#include <gtest/gtest.h>

namespace
{

thread_local bool failNumbers = false;
thread_local bool failDictionaries = false;

} // namespace

extern "C"
{
    CFNumberRef __real_CFNumberCreate (CFAllocatorRef allocator, CFNumberType type, const void* value);
    CFMutableDictionaryRef __real_CFDictionaryCreateMutable (CFAllocatorRef allocator, CFIndex capacity,
                                                             const CFDictionaryKeyCallBacks* keyCallBacks,
                                                             const CFDictionaryValueCallBacks* valueCallBacks);

    CFNumberRef __wrap_CFNumberCreate (CFAllocatorRef allocator, CFNumberType type, const void* value)
    {
        return failNumbers ? nullptr : __real_CFNumberCreate (allocator, type, value);
    }

    CFMutableDictionaryRef __wrap_CFDictionaryCreateMutable (CFAllocatorRef allocator, CFIndex capacity,
                                                             const CFDictionaryKeyCallBacks* keyCallBacks,
                                                             const CFDictionaryValueCallBacks* valueCallBacks)
    {
        return failDictionaries ? nullptr
                                : __real_CFDictionaryCreateMutable (allocator, capacity, keyCallBacks, valueCallBacks);
    }

} // extern "C"

namespace
{

// Handing the manager a null or empty dictionary would match every HID
// device on the system; without the vendor entry it is left unmatched instead.
TEST (VendorMatching, WithoutTheVendorNumberOrTheDictionaryNothingMatches)
{
    for (bool* failure : { &failNumbers, &failDictionaries })
    {
        sim::Reset();
        hidtest::Plug ({ .uniqueId = 1 });
        hidtest::Plug ({ .uniqueId = 2, .vendorId = 0x05AC });
        *failure = true;
        const IOHIDManager hid;
        *failure = false;

        ASSERT_NE (hid.manager, nullptr);
        EXPECT_TRUE (sim::HidMatchingHistory().empty());
        EXPECT_EQ (hidtest::CountCopiedDevices (hid.manager), 0);
    }
}

} // namespace
