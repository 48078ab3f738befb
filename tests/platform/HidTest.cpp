#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <IOKit/hid/IOHIDManager.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr std::int64_t kVendor = 0x7A31;

sim::HidId Plug (std::int64_t vendor, std::int64_t uniqueId)
{
    return sim::AddHidDevice ({ { kIOHIDVendorIDKey, vendor },
                                { kIOHIDUniqueIDKey, uniqueId },
                                { kIOHIDSerialNumberKey, std::string ("QV" + std::to_string (uniqueId)) } });
}

CFMutableDictionaryRef VendorMatching (int32_t vendor)
{
    CFMutableDictionaryRef matching = CFDictionaryCreateMutable (kCFAllocatorDefault, 1, &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks);
    CFNumberRef number = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &vendor);
    CFDictionarySetValue (matching, CFSTR (kIOHIDVendorIDKey), number);
    CFRelease (number);
    return matching;
}

/** An open manager matching this vendor's devices, or every device; the test owns it. */
IOHIDManagerRef OpenManager (std::optional<int32_t> vendor = std::nullopt)
{
    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    EXPECT_EQ (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    CFMutableDictionaryRef matching = vendor ? VendorMatching (*vendor) : nullptr;
    IOHIDManagerSetDeviceMatching (manager, matching);
    if (matching != nullptr)
        CFRelease (matching);
    return manager;
}

/** The devices a manager lists now, releasing the set it hands out: only for devices that stay plugged in. */
std::vector<const void*> Listed (IOHIDManagerRef manager)
{
    CFSetRef set = IOHIDManagerCopyDevices (manager);
    std::vector<const void*> devices (set != nullptr ? static_cast<size_t> (CFSetGetCount (set)) : 0);
    if (set != nullptr)
    {
        CFSetGetValues (set, devices.data());
        CFRelease (set);
    }
    return devices;
}

/** The HID thread of a test: schedules the manager on its own run loop and runs it in short slices. */
class HidThread
{
public:
    explicit HidThread (IOHIDManagerRef manager)
    {
        std::promise<void> scheduled;
        thread = std::thread (
            [this, manager, &scheduled]
            {
                id = std::this_thread::get_id();
                IOHIDManagerScheduleWithRunLoop (manager, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
                scheduled.set_value();
                while (!stop)
                    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.01, true);
            });
        scheduled.get_future().wait();
    }

    ~HidThread()
    {
        stop = true;
        thread.join();
    }

    std::thread::id id;

private:
    std::atomic<bool> stop { false };
    std::thread thread;
};

/** What the report callback saw, filled on the HID thread. */
struct Reports
{
    struct Report
    {
        std::thread::id thread;
        void* sender;
        uint32_t reportId;
        uint8_t* data;
        Bytes bytes;
    };

    static void Callback (void* context, IOReturn result, void* sender, IOHIDReportType type, uint32_t reportId,
                          uint8_t* report, CFIndex length)
    {
        auto* self = static_cast<Reports*> (context);
        EXPECT_EQ (result, kIOReturnSuccess);
        EXPECT_EQ (type, kIOHIDReportTypeInput);
        std::lock_guard<std::mutex> lock (self->mutex);
        self->received.push_back (
            { std::this_thread::get_id(), sender, reportId, report, { report, report + length } });
        self->arrived.notify_all();
    }

    /** Waits (generously) for count reports in all and returns what has arrived. */
    std::vector<Report> WaitFor (size_t count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        arrived.wait_for (lock, 10s, [&] { return received.size() >= count; });
        return received;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Report> received;
};

} // namespace

TEST (HidManager, MatchesByPropertyValueNothingWithoutMatchingAndEverythingWithNull)
{
    const sim::HidId ours = Plug (kVendor, 11);
    const sim::HidId other = Plug (0x1234, 12);
    const sim::HidId ours2 = Plug (kVendor, 13);

    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    ASSERT_EQ (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr) << "no matching set must match nothing";

    // A 32-bit number in the dictionary matches the 64-bit property of the same value.
    CFMutableDictionaryRef matching = VendorMatching (kVendor);
    IOHIDManagerSetDeviceMatching (manager, matching);
    CFDictionarySetValue (matching, CFSTR (kIOHIDVendorIDKey), CFSTR ("changed after the call"));
    EXPECT_EQ (Listed (manager), (std::vector<const void*> { sim::HidDeviceRef (ours), sim::HidDeviceRef (ours2) }));

    CFDictionarySetValue (matching, CFSTR (kIOHIDSerialNumberKey), CFSTR ("QV12"));
    CFDictionaryRemoveValue (matching, CFSTR (kIOHIDVendorIDKey));
    IOHIDManagerSetDeviceMatching (manager, matching);
    EXPECT_EQ (Listed (manager), (std::vector<const void*> { sim::HidDeviceRef (other) }));
    CFDictionarySetValue (matching, CFSTR (kIOHIDLocationIDKey), CFSTR ("absent on every device"));
    IOHIDManagerSetDeviceMatching (manager, matching);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr);
    CFRelease (matching);

    IOHIDManagerSetDeviceMatching (manager, nullptr);
    EXPECT_EQ (Listed (manager).size(), 3u);
    sim::RemoveHidDevice (other);
    EXPECT_EQ (Listed (manager).size(), 2u);
    EXPECT_EQ (IOHIDManagerClose (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr) << "a closed manager lists nothing";
    CFRelease (manager);

    const auto history = sim::HidMatchingHistory();
    ASSERT_EQ (history.size(), 4u);
    EXPECT_EQ (history[0], (std::map<std::string, std::string> { { "VendorID", "31281" } }));
    EXPECT_EQ (history[1], (std::map<std::string, std::string> { { "SerialNumber", "QV12" } }));
    EXPECT_TRUE (history[3].empty());
}

TEST (HidManager, SetsPropertiesAndUnpluggedDevicesFollowTheOwnershipRules)
{
    const long before = sim::LiveObjectCount();
    const sim::HidId unit = sim::AddHidDevice ({ { kIOHIDVendorIDKey, kVendor },
                                                 { kIOHIDUniqueIDKey, 21 },
                                                 { kIOHIDVersionNumberKey, std::string ("0x0123") } });
    IOHIDManagerRef manager = OpenManager();
    CFSetRef set = IOHIDManagerCopyDevices (manager);
    IOHIDDeviceRef device = sim::HidDeviceRef (unit);
    ASSERT_TRUE (CFSetContainsValue (set, device));
    EXPECT_EQ (CFGetTypeID (device), IOHIDDeviceGetTypeID());
    CFRetain (device);
    CFRelease (set);

    // Properties are not retained for the caller, and a wrongly typed one stays wrongly typed.
    CFTypeRef vendor = IOHIDDeviceGetProperty (device, CFSTR (kIOHIDVendorIDKey));
    ASSERT_NE (vendor, nullptr);
    const CFIndex references = CFGetRetainCount (vendor);
    EXPECT_EQ (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDVendorIDKey)), vendor);
    EXPECT_EQ (CFGetRetainCount (vendor), references);
    EXPECT_EQ (CFGetTypeID (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDVersionNumberKey))), CFStringGetTypeID());
    EXPECT_EQ (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDLocationIDKey)), nullptr);

    // Unplugged but still held: it stays readable, drops out of the list and cannot be opened.
    sim::RemoveHidDevice (unit);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr);
    EXPECT_EQ (sim::HidDeviceRef (unit), device);
    int64_t uniqueId = 0;
    EXPECT_TRUE (
        CFNumberGetValue (static_cast<CFNumberRef> (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDUniqueIDKey))),
                          kCFNumberSInt64Type, &uniqueId));
    EXPECT_EQ (uniqueId, 21);
    EXPECT_NE (IOHIDDeviceOpen (device, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    CFRelease (device);
    EXPECT_EQ (sim::HidDeviceRef (unit), nullptr);
    CFRelease (manager);
    EXPECT_EQ (sim::LiveObjectCount(), before);

    // Reset lets go of every device still plugged in.
    Plug (kVendor, 22);
    sim::Reset();
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (HidManager, OpensClosesAndInjectedFaultsAreCountedAndLogged)
{
    const sim::HidId good = Plug (kVendor, 41);
    const sim::HidId bad = Plug (kVendor, 42);
    sim::FailHidDeviceOpen (bad);
    sim::InjectFault (sim::Fault::HidManagerCreate);
    EXPECT_EQ (IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone), nullptr);
    sim::ClearFault (sim::Fault::HidManagerCreate);
    sim::InjectFault (sim::Fault::HidManagerOpen);
    sim::ClearCallLog();

    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    ASSERT_NE (manager, nullptr);
    EXPECT_NE (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    IOHIDManagerSetDeviceMatching (manager, nullptr);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr);
    sim::ClearFault (sim::Fault::HidManagerOpen);
    EXPECT_EQ (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (Listed (manager).size(), 2u);
    CFRelease (manager);

    EXPECT_EQ (IOHIDDeviceOpen (sim::HidDeviceRef (good), kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_NE (IOHIDDeviceOpen (sim::HidDeviceRef (bad), kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (IOHIDDeviceClose (sim::HidDeviceRef (good), kIOHIDOptionsTypeNone), kIOReturnSuccess);
    IOHIDDeviceClose (sim::HidDeviceRef (bad), kIOHIDOptionsTypeNone);
    const auto goodCounters = sim::GetHidDeviceCounters (good);
    const auto badCounters = sim::GetHidDeviceCounters (bad);
    EXPECT_EQ (std::vector<int> ({ goodCounters.opens, goodCounters.failedOpens, goodCounters.closes }),
               std::vector<int> ({ 1, 0, 1 }));
    EXPECT_EQ (std::vector<int> ({ badCounters.opens, badCounters.failedOpens, badCounters.closes }),
               std::vector<int> ({ 0, 1, 1 }));
    EXPECT_EQ (sim::CallLog(),
               (std::vector<std::string> { "IOHIDManagerCreate", "IOHIDManagerSetDeviceMatching", "IOHIDManagerOpen",
                                           "IOHIDDeviceOpen 41", "IOHIDDeviceClose 41", "IOHIDDeviceClose 42" }));
}

TEST (HidReports, ArriveOnlyThroughAScheduledMatchingManagerTruncatedIntoTheRegisteredBuffer)
{
    const sim::HidId unit = Plug (kVendor, 61);
    const sim::HidId marker = Plug (kVendor, 62);
    const sim::HidId stranger = Plug (0x1234, 63);
    IOHIDManagerRef manager = OpenManager (kVendor);
    IOHIDDeviceRef device = sim::HidDeviceRef (unit);
    uint8_t buffer[4] = {}, markerBuffer[1] = {}, strangerBuffer[2] = {};
    Reports reports;
    IOHIDDeviceRegisterInputReportCallback (device, buffer, sizeof buffer, Reports::Callback, &reports);
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (stranger), strangerBuffer, 2, Reports::Callback,
                                            &reports);
    EXPECT_TRUE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    sim::SendInputReport (unit, 0, { 1 }); // no manager scheduled yet

    HidThread hidThread (manager);
    sim::SendInputReport (stranger, 0, { 2 }); // not matched by the scheduled manager
    sim::SendInputReport (unit, 5, { 5, 1, 2, 3, 4, 6 });
    sim::SendInputReport (unit, 0, { 9, 8 });
    const auto received = reports.WaitFor (2);
    ASSERT_EQ (received.size(), 2u);
    EXPECT_EQ (received[0].thread, hidThread.id);
    EXPECT_EQ (received[0].sender, device);
    EXPECT_EQ (received[0].reportId, 5u);
    EXPECT_EQ (received[0].data, buffer);
    EXPECT_EQ (received[0].bytes, (Bytes { 5, 1, 2, 3 }));
    EXPECT_EQ (received[1].reportId, 0u);
    EXPECT_EQ (received[1].bytes, (Bytes { 9, 8 }));

    // Once unregistered, nothing more is delivered: a marker report on a second device shows the
    // loop has moved past the first device's report.
    IOHIDDeviceRegisterInputReportCallback (device, buffer, 0, nullptr, nullptr);
    EXPECT_FALSE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (marker), markerBuffer, 1, Reports::Callback, &reports);
    sim::SendInputReport (unit, 0, { 7, 7 });
    sim::SendInputReport (marker, 0, { 42 });
    const auto after = reports.WaitFor (3);
    ASSERT_EQ (after.size(), 3u);
    EXPECT_EQ (after[2].bytes, (Bytes { 42 }));
    EXPECT_EQ (buffer[0], 9) << "an unregistered buffer was written";
    EXPECT_EQ (strangerBuffer[0], 0);
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (stranger), strangerBuffer, 0, nullptr, nullptr);
    CFRelease (manager);
}
