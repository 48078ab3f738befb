// Linked with --wrap for CFNumberCreate and CFDictionaryCreateMutable, so that
// the HID manager's matching dictionary can be made to fail to build.

#include "HidTestSupport.h"

#include "devices/IOHIDManager.h"

#include <gtest/gtest.h>

#include <memory>

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

class VendorMatchingTest : public hidtest::SimulatedHidTest
{
protected:
    void SetUp() override
    {
        SimulatedHidTest::SetUp();
        hidtest::Plug ({ .uniqueId = 1 });
        hidtest::Plug ({ .uniqueId = 2, .vendorId = 0x05AC });
    }

    static int CountMatched (IOHIDManagerRef manager)
    {
        const CFSetRef set = IOHIDManagerCopyDevices (manager);

        if (set == nullptr)
            return 0;

        const auto count = static_cast<int> (CFSetGetCount (set));
        CFRelease (set);
        return count;
    }
};

TEST_F (VendorMatchingTest, WithTheDictionaryBuiltOnlyTheMakersDevicesMatch)
{
    const IOHIDManager hid;
    EXPECT_EQ (sim::HidMatchingHistory().size(), 1u);
    EXPECT_EQ (CountMatched (hid.manager), 1);
}

// Handing the manager a null or empty dictionary would match every HID
// device on the system; it is left without matching instead.
TEST_F (VendorMatchingTest, NoVendorNumberMeansNoMatchingAtAll)
{
    failNumbers = true;
    const IOHIDManager hid;
    failNumbers = false;

    ASSERT_NE (hid.manager, nullptr);
    EXPECT_TRUE (sim::HidMatchingHistory().empty());
    EXPECT_EQ (CountMatched (hid.manager), 0);
}

TEST_F (VendorMatchingTest, NoDictionaryMeansNoMatchingAtAll)
{
    failDictionaries = true;
    const IOHIDManager hid;
    failDictionaries = false;

    ASSERT_NE (hid.manager, nullptr);
    EXPECT_TRUE (sim::HidMatchingHistory().empty());
    EXPECT_EQ (CountMatched (hid.manager), 0);
}

} // namespace
