#include "HidTestSupport.h"

#include "devices/IOHIDManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace
{

using hidtest::CountCopiedDevices;
using hidtest::CountThreadsNamed;
using hidtest::WaitFor;

class IOHIDManagerTest : public hidtest::SimulatedHidTest
{
protected:
    void SetUp() override
    {
        SimulatedHidTest::SetUp();
        hidtest::Plug ({ .uniqueId = 1 });
        hidtest::Plug ({ .uniqueId = 2, .vendorId = 0x05AC });
        hidtest::DirtyIdTable();
    }
};

TEST_F (IOHIDManagerTest, RunsANamedThreadMatchingOnlyTheMakersVendorId)
{
    auto hid = std::make_unique<IOHIDManager>();
    const IOHIDManagerRef manager = hid->manager;
    ASSERT_NE (manager, nullptr);
    EXPECT_TRUE (hidtest::IdTableAllFree());
    ASSERT_TRUE (WaitFor ([] { return CountThreadsNamed ("IOHIDManager") == 1; }));
    EXPECT_EQ (sim::HidMatchingHistory(),
               (std::vector<std::map<std::string, std::string>> { { { "VendorID", "31281" } } }));
    EXPECT_EQ (CountCopiedDevices (manager), 1);
    EXPECT_EQ (CFGetRetainCount (manager), 2);

    // The loop looks for a stop every 10 ms; a thread that needed the whole
    // 500 ms wait (and then a forced kill) would show here.
    const auto start = std::chrono::steady_clock::now();
    hid.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (400));
    EXPECT_EQ (hidtest::CountLogLines ("IOHIDManagerClose"), 1);
    EXPECT_TRUE (WaitFor ([] { return CountThreadsNamed ("IOHIDManager") == 0; }));
    // Still allocated: exactly one of the two references was given back.
    EXPECT_EQ (CFGetRetainCount (manager), 1);
}

TEST_F (IOHIDManagerTest, AFailedCreateOrOpenLeavesNoMatchingAndNoThread)
{
    for (const auto fault : { sim::Fault::HidManagerCreate, sim::Fault::HidManagerOpen })
    {
        const bool created = fault == sim::Fault::HidManagerOpen;
        hidtest::DirtyIdTable();
        sim::InjectFault (fault);
        auto hid = std::make_unique<IOHIDManager>();
        sim::ClearFault (fault);
        const IOHIDManagerRef manager = hid->manager;
        ASSERT_EQ (manager != nullptr, created);
        EXPECT_TRUE (hidtest::IdTableAllFree());
        EXPECT_TRUE (sim::HidMatchingHistory().empty());
        juce::Thread::sleep (50);
        EXPECT_EQ (CountThreadsNamed ("IOHIDManager"), 0);
        EXPECT_EQ (created ? CountCopiedDevices (manager) : 0, 0);
        EXPECT_EQ (created ? CFGetRetainCount (manager) : 2, 2);

        const auto liveBefore = sim::LiveObjectCount();
        sim::ClearCallLog();
        hid.reset();
        EXPECT_EQ (sim::CallLog(),
                   created ? std::vector<std::string> { "IOHIDManagerClose" } : std::vector<std::string> {});
        // A manager that was made stays allocated: one reference is kept for good.
        EXPECT_EQ (sim::LiveObjectCount(), liveBefore);
        EXPECT_EQ (created ? CFGetRetainCount (manager) : 1, 1);
    }
}

} // namespace
