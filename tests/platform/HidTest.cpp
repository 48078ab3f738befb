#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <IOKit/hid/IOHIDManager.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

constexpr std::int64_t kVendor = 0x7A31;

sim::HidId Plug (std::int64_t vendor, std::int64_t uniqueId, std::int64_t product = 114)
{
    return sim::AddHidDevice ({ { kIOHIDVendorIDKey, vendor },
                                { kIOHIDProductIDKey, product },
                                { kIOHIDUniqueIDKey, uniqueId },
                                { kIOHIDSerialNumberKey, std::string ("QV" + std::to_string (uniqueId)) } });
}

/** An open manager with the given matching; the test owns it. */
IOHIDManagerRef OpenManager (CFDictionaryRef matching, bool setMatching = true)
{
    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    EXPECT_NE (manager, nullptr);
    EXPECT_EQ (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    if (setMatching)
        IOHIDManagerSetDeviceMatching (manager, matching);
    return manager;
}

CFMutableDictionaryRef VendorMatching (std::int32_t vendor)
{
    CFMutableDictionaryRef matching = CFDictionaryCreateMutable (kCFAllocatorDefault, 1, &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks);
    CFNumberRef number = CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &vendor);
    CFDictionarySetValue (matching, CFSTR (kIOHIDVendorIDKey), number);
    CFRelease (number);
    return matching;
}

/** The devices a manager lists now, releasing the set it hands out: only for devices that stay plugged in. */
std::vector<IOHIDDeviceRef> Listed (IOHIDManagerRef manager)
{
    std::vector<IOHIDDeviceRef> devices;
    CFSetRef set = IOHIDManagerCopyDevices (manager);
    if (set == nullptr)
        return devices;
    std::vector<const void*> values (static_cast<size_t> (CFSetGetCount (set)));
    CFSetGetValues (set, values.data());
    for (const void* value : values)
        devices.push_back (static_cast<IOHIDDeviceRef> (const_cast<void*> (value)));
    CFRelease (set);
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
        IOReturn result;
        void* sender;
        IOHIDReportType type;
        uint32_t reportId;
        uint8_t* data;
        std::vector<uint8_t> bytes;
    };

    static void Callback (void* context, IOReturn result, void* sender, IOHIDReportType type, uint32_t reportId,
                          uint8_t* report, CFIndex length)
    {
        auto* self = static_cast<Reports*> (context);
        std::lock_guard<std::mutex> lock (self->mutex);
        self->received.push_back (
            { std::this_thread::get_id(), result, sender, type, reportId, report, { report, report + length } });
        self->arrived.notify_all();
    }

    bool WaitFor (size_t count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        return arrived.wait_for (lock, 10s, [&] { return received.size() >= count; });
    }

    std::vector<Report> Received()
    {
        std::lock_guard<std::mutex> lock (mutex);
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

    IOHIDManagerRef manager = OpenManager (nullptr, false);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr) << "no matching set must match nothing";

    // A 32-bit number in the dictionary matches the 64-bit property of the same value.
    CFMutableDictionaryRef matching = VendorMatching (kVendor);
    IOHIDManagerSetDeviceMatching (manager, matching);
    CFDictionarySetValue (matching, CFSTR (kIOHIDVendorIDKey), CFSTR ("changed after the call"));
    auto listed = Listed (manager);
    ASSERT_EQ (listed.size(), 2u);
    EXPECT_EQ (listed[0], sim::HidDeviceRef (ours));
    EXPECT_EQ (listed[1], sim::HidDeviceRef (ours2));

    CFDictionarySetValue (matching, CFSTR (kIOHIDSerialNumberKey), CFSTR ("QV12"));
    CFDictionaryRemoveValue (matching, CFSTR (kIOHIDVendorIDKey));
    IOHIDManagerSetDeviceMatching (manager, matching);
    listed = Listed (manager);
    ASSERT_EQ (listed.size(), 1u);
    EXPECT_EQ (listed[0], sim::HidDeviceRef (other));

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

TEST (HidManager, CopiedSetsAndUnpluggedDevicesFollowTheOwnershipRules)
{
    const long before = sim::LiveObjectCount();
    const sim::HidId unit = Plug (kVendor, 21);
    IOHIDManagerRef manager = OpenManager (nullptr);

    CFSetRef set = IOHIDManagerCopyDevices (manager);
    ASSERT_NE (set, nullptr);
    IOHIDDeviceRef device = sim::HidDeviceRef (unit);
    ASSERT_TRUE (CFSetContainsValue (set, device));
    EXPECT_EQ (CFGetTypeID (device), IOHIDDeviceGetTypeID());
    EXPECT_EQ (CFGetTypeID (manager), IOHIDManagerGetTypeID());
    CFRetain (device);
    CFRelease (set);

    // Unplugged but still held: it stays readable, drops out of the list and cannot be opened.
    sim::RemoveHidDevice (unit);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr);
    EXPECT_EQ (sim::HidDeviceRef (unit), device);
    CFTypeRef uniqueId = IOHIDDeviceGetProperty (device, CFSTR (kIOHIDUniqueIDKey));
    ASSERT_NE (uniqueId, nullptr);
    int64_t value = 0;
    EXPECT_TRUE (CFNumberGetValue (static_cast<CFNumberRef> (uniqueId), kCFNumberSInt64Type, &value));
    EXPECT_EQ (value, 21);
    EXPECT_NE (IOHIDDeviceOpen (device, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (sim::GetHidDeviceCounters (unit).failedOpens, 1);

    CFRelease (device);
    EXPECT_EQ (sim::HidDeviceRef (unit), nullptr);
    CFRelease (manager);
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (HidManager, ResetLetsGoOfEveryPluggedDevice)
{
    const long before = sim::LiveObjectCount();
    Plug (kVendor, 31);
    Plug (kVendor, 32);
    EXPECT_GT (sim::LiveObjectCount(), before);
    sim::Reset();
    EXPECT_EQ (sim::LiveObjectCount(), before);
}

TEST (HidDevice, PropertiesKeepTheirTypeAndAreNotRetainedForTheCaller)
{
    const sim::HidId unit = sim::AddHidDevice ({ { kIOHIDVendorIDKey, kVendor },
                                                 { kIOHIDVersionNumberKey, std::string ("0x0123") },
                                                 { "SerialNumber", std::string ("QV9") } });
    IOHIDDeviceRef device = sim::HidDeviceRef (unit);

    CFTypeRef vendor = IOHIDDeviceGetProperty (device, CFSTR (kIOHIDVendorIDKey));
    ASSERT_NE (vendor, nullptr);
    ASSERT_EQ (CFGetTypeID (vendor), CFNumberGetTypeID());
    const CFIndex references = CFGetRetainCount (vendor);
    EXPECT_EQ (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDVendorIDKey)), vendor);
    EXPECT_EQ (CFGetRetainCount (vendor), references);

    CFTypeRef version = IOHIDDeviceGetProperty (device, CFSTR (kIOHIDVersionNumberKey));
    ASSERT_NE (version, nullptr);
    EXPECT_EQ (CFGetTypeID (version), CFStringGetTypeID()) << "a wrongly typed property must stay wrongly typed";
    CFStringRef serial = static_cast<CFStringRef> (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDSerialNumberKey)));
    ASSERT_NE (serial, nullptr);
    EXPECT_STREQ (CFStringGetCStringPtr (serial, kCFStringEncodingUTF8), "QV9");
    EXPECT_EQ (IOHIDDeviceGetProperty (device, CFSTR (kIOHIDLocationIDKey)), nullptr);
}

TEST (HidDevice, OpensAndClosesAreCountedLoggedAndCanBeMadeToFail)
{
    const sim::HidId good = Plug (kVendor, 41);
    const sim::HidId bad = Plug (kVendor, 42);
    sim::FailHidDeviceOpen (bad);
    sim::ClearCallLog();

    EXPECT_EQ (IOHIDDeviceOpen (sim::HidDeviceRef (good), kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_NE (IOHIDDeviceOpen (sim::HidDeviceRef (bad), kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (IOHIDDeviceClose (sim::HidDeviceRef (good), kIOHIDOptionsTypeNone), kIOReturnSuccess);
    IOHIDDeviceClose (sim::HidDeviceRef (bad), kIOHIDOptionsTypeNone);

    const auto goodCounters = sim::GetHidDeviceCounters (good);
    EXPECT_EQ (goodCounters.opens, 1);
    EXPECT_EQ (goodCounters.failedOpens, 0);
    EXPECT_EQ (goodCounters.closes, 1);
    const auto badCounters = sim::GetHidDeviceCounters (bad);
    EXPECT_EQ (badCounters.opens, 0);
    EXPECT_EQ (badCounters.failedOpens, 1);
    EXPECT_EQ (badCounters.closes, 1);
    EXPECT_EQ (sim::CallLog(),
               (std::vector<std::string> { "IOHIDDeviceOpen 41", "IOHIDDeviceClose 41", "IOHIDDeviceClose 42" }));
}

TEST (HidManager, InjectedFaultsFailCreationAndOpening)
{
    Plug (kVendor, 51);
    sim::InjectFault (sim::Fault::HidManagerCreate);
    EXPECT_EQ (IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone), nullptr);
    sim::ClearFault (sim::Fault::HidManagerCreate);

    sim::InjectFault (sim::Fault::HidManagerOpen);
    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    ASSERT_NE (manager, nullptr);
    EXPECT_NE (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    IOHIDManagerSetDeviceMatching (manager, nullptr);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr);
    EXPECT_EQ (sim::CallLog(), (std::vector<std::string> { "IOHIDManagerCreate", "IOHIDManagerSetDeviceMatching" }));

    sim::ClearFault (sim::Fault::HidManagerOpen);
    EXPECT_EQ (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    EXPECT_EQ (Listed (manager).size(), 1u);
    CFRelease (manager);
}

TEST (HidReports, ArriveOnTheSchedulingThreadTruncatedIntoTheRegisteredBuffer)
{
    const sim::HidId unit = Plug (kVendor, 61);
    IOHIDManagerRef manager = OpenManager (nullptr);
    HidThread hidThread (manager);
    IOHIDDeviceRef device = sim::HidDeviceRef (unit);

    uint8_t buffer[4] = {};
    Reports reports;
    IOHIDDeviceRegisterInputReportCallback (device, buffer, sizeof buffer, Reports::Callback, &reports);
    EXPECT_TRUE (sim::GetHidDeviceCounters (unit).callbackRegistered);

    sim::SendInputReport (unit, 5, { 5, 1, 2, 3, 4, 6 });
    sim::SendInputReport (unit, 0, { 9, 8 });
    ASSERT_TRUE (reports.WaitFor (2));

    const auto received = reports.Received();
    EXPECT_EQ (received[0].thread, hidThread.id);
    EXPECT_EQ (received[0].result, kIOReturnSuccess);
    EXPECT_EQ (received[0].sender, device);
    EXPECT_EQ (received[0].type, kIOHIDReportTypeInput);
    EXPECT_EQ (received[0].reportId, 5u);
    EXPECT_EQ (received[0].data, buffer);
    EXPECT_EQ (received[0].bytes, (std::vector<uint8_t> { 5, 1, 2, 3 }));
    EXPECT_EQ (received[1].reportId, 0u);
    EXPECT_EQ (received[1].bytes, (std::vector<uint8_t> { 9, 8 }));

    // Once unregistered, nothing more is delivered: a marker report on a second device shows the
    // loop has moved past the first device's report.
    IOHIDDeviceRegisterInputReportCallback (device, buffer, 0, nullptr, nullptr);
    EXPECT_FALSE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    const sim::HidId marker = Plug (kVendor, 62);
    uint8_t markerBuffer[1] = {};
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (marker), markerBuffer, 1, Reports::Callback, &reports);
    sim::SendInputReport (unit, 0, { 7, 7 });
    sim::SendInputReport (marker, 0, { 42 });
    ASSERT_TRUE (reports.WaitFor (3));
    const auto after = reports.Received();
    ASSERT_EQ (after.size(), 3u);
    EXPECT_EQ (after[2].bytes, (std::vector<uint8_t> { 42 }));
    EXPECT_EQ (buffer[0], 9) << "an unregistered buffer was written";

    CFRelease (manager);
}

TEST (HidReports, AreDroppedWithoutAScheduledManagerThatMatchesTheDevice)
{
    const sim::HidId stranger = Plug (0x1234, 71);
    const sim::HidId unit = Plug (kVendor, 72);
    CFMutableDictionaryRef matching = VendorMatching (kVendor);
    IOHIDManagerRef manager = OpenManager (matching);
    CFRelease (matching);

    Reports reports;
    uint8_t strangerBuffer[2] = {}, unitBuffer[2] = {};
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (stranger), strangerBuffer, 2, Reports::Callback,
                                            &reports);
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (unit), unitBuffer, 2, Reports::Callback, &reports);

    sim::SendInputReport (unit, 0, { 1 }); // no manager scheduled yet
    {
        HidThread hidThread (manager);
        sim::SendInputReport (stranger, 0, { 2 }); // not matched by the scheduled manager
        sim::SendInputReport (unit, 0, { 3 });
        ASSERT_TRUE (reports.WaitFor (1));
        std::this_thread::sleep_for (50ms);
    }
    const auto received = reports.Received();
    ASSERT_EQ (received.size(), 1u);
    EXPECT_EQ (received[0].bytes, (std::vector<uint8_t> { 3 }));
    EXPECT_EQ (strangerBuffer[0], 0);
    CFRelease (manager);
}

TEST (HidMachine, StaysConsistentUnderConcurrentUse)
{
    IOHIDManagerRef manager = OpenManager (nullptr);
    HidThread hidThread (manager);
    const sim::HidId steady = Plug (kVendor, 81);
    uint8_t buffer[8] = {};
    Reports reports;
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (steady), buffer, sizeof buffer, Reports::Callback,
                                            &reports);

    std::atomic<bool> stop { false };
    std::thread plugger (
        [&]
        {
            for (int i = 0; i < 200; ++i)
                sim::RemoveHidDevice (Plug (kVendor, 1000 + i));
        });
    std::thread sender (
        [&]
        {
            for (int i = 0; i < 200; ++i)
                sim::SendInputReport (steady, 0, { static_cast<uint8_t> (i) });
        });
    std::thread lister (
        [&]
        {
            while (!stop)
            {
                // The set keeps its devices alive while they are unplugged under it.
                CFSetRef set = IOHIDManagerCopyDevices (manager);
                ASSERT_NE (set, nullptr);
                std::vector<const void*> devices (static_cast<size_t> (CFSetGetCount (set)));
                CFSetGetValues (set, devices.data());
                for (const void* device : devices)
                    EXPECT_NE (IOHIDDeviceGetProperty (static_cast<IOHIDDeviceRef> (const_cast<void*> (device)),
                                                       CFSTR (kIOHIDUniqueIDKey)),
                               nullptr);
                CFRelease (set);
            }
        });
    plugger.join();
    sender.join();
    stop = true;
    lister.join();

    ASSERT_TRUE (reports.WaitFor (200));
    EXPECT_EQ (Listed (manager).size(), 1u);
    IOHIDDeviceRegisterInputReportCallback (sim::HidDeviceRef (steady), buffer, 0, nullptr, nullptr);
    CFRelease (manager);
}
