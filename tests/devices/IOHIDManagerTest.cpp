#include "HidTestSupport.h"

#include "devices/IOHIDManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace
{

using hidtest::CountThreadsNamed;
using hidtest::WaitFor;

class IOHIDManagerTest : public hidtest::SimulatedHidTest
{
};

int CountCopiedDevices (IOHIDManagerRef manager)
{
    const CFSetRef set = IOHIDManagerCopyDevices (manager);

    if (set == nullptr)
        return 0;

    const auto count = static_cast<int> (CFSetGetCount (set));
    CFRelease (set);
    return count;
}

TEST_F (IOHIDManagerTest, RunsANamedThreadMatchingOnlyTheMakersVendorId)
{
    hidtest::Plug ({ .uniqueId = 1 });
    hidtest::Plug ({ .uniqueId = 2, .vendorId = 0x05AC });
    hidtest::DirtyIdTable();

    auto hid = std::make_unique<IOHIDManager>();
    const IOHIDManagerRef manager = hid->manager;
    ASSERT_NE (manager, nullptr);
    EXPECT_TRUE (hidtest::IdTableAllFree());
    ASSERT_TRUE (WaitFor ([] { return CountThreadsNamed ("IOHIDManager") == 1; }));

    const auto history = sim::HidMatchingHistory();
    ASSERT_EQ (history.size(), 1u);
    EXPECT_EQ (history.back(), (std::map<std::string, std::string> { { "VendorID", "31281" } }));
    EXPECT_EQ (CountCopiedDevices (manager), 1);

    const auto referencesWhileRunning = CFGetRetainCount (manager);
    EXPECT_EQ (referencesWhileRunning, 2);

    // The loop looks for a stop every 10 ms; a thread that needed the whole
    // 500 ms wait (and then a forced kill) would show here.
    const auto start = std::chrono::steady_clock::now();
    hid.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (400));

    EXPECT_EQ (hidtest::CountLogLines ("IOHIDManagerClose"), 1);
    EXPECT_TRUE (WaitFor ([] { return CountThreadsNamed ("IOHIDManager") == 0; }));

    // Still allocated: exactly one of our two references was given back.
    EXPECT_EQ (CFGetRetainCount (manager), referencesWhileRunning - 1);
}

TEST_F (IOHIDManagerTest, FailedCreateLeavesNoManagerAndNoThread)
{
    hidtest::DirtyIdTable();
    sim::InjectFault (sim::Fault::HidManagerCreate);

    auto hid = std::make_unique<IOHIDManager>();

    EXPECT_EQ (hid->manager, nullptr);
    EXPECT_TRUE (hidtest::IdTableAllFree());
    juce::Thread::sleep (50);
    EXPECT_EQ (CountThreadsNamed ("IOHIDManager"), 0);

    const auto liveBefore = sim::LiveObjectCount();
    sim::ClearCallLog();
    hid.reset();

    EXPECT_EQ (hidtest::CountLogLines ("IOHIDManager"), 0);
    EXPECT_EQ (sim::LiveObjectCount(), liveBefore);
}

TEST_F (IOHIDManagerTest, FailedOpenKeepsTheManagerWithoutMatchingOrThread)
{
    hidtest::Plug ({ .uniqueId = 1 });
    hidtest::DirtyIdTable();
    sim::InjectFault (sim::Fault::HidManagerOpen);

    auto hid = std::make_unique<IOHIDManager>();
    const IOHIDManagerRef manager = hid->manager;

    ASSERT_NE (manager, nullptr);
    EXPECT_TRUE (hidtest::IdTableAllFree());
    EXPECT_TRUE (sim::HidMatchingHistory().empty());
    EXPECT_EQ (CountCopiedDevices (manager), 0);
    juce::Thread::sleep (50);
    EXPECT_EQ (CountThreadsNamed ("IOHIDManager"), 0);

    const auto references = CFGetRetainCount (manager);
    EXPECT_EQ (references, 2);

    hid.reset();

    EXPECT_EQ (hidtest::CountLogLines ("IOHIDManagerClose"), 1);
    EXPECT_EQ (CFGetRetainCount (manager), references - 1);
}

} // namespace
