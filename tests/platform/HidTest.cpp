#include "platform/sim/SimulatedMachine.h"

#include <IOKit/hid/IOHIDManager.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

namespace
{

using Refs = std::set<const void*>;

sim::HidId Plug (std::int64_t vendor, std::int64_t uniqueId)
{
    return sim::AddHidDevice ({ { kIOHIDVendorIDKey, vendor }, { kIOHIDUniqueIDKey, uniqueId } });
}

/** Gives the manager a matching dictionary of one entry, a 32-bit number against the devices' 64-bit ones. */
void Match (IOHIDManagerRef manager, CFStringRef key, int32_t value)
{
    auto matching =
        CFDictionaryCreateMutable (nullptr, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFNumberRef number = CFNumberCreate (nullptr, kCFNumberSInt32Type, &value);
    CFDictionarySetValue (matching, key, number);
    IOHIDManagerSetDeviceMatching (manager, matching);
    CFRelease (number);
    CFRelease (matching);
}

IOHIDManagerRef OpenVendorManager()
{
    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    EXPECT_EQ (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    Match (manager, CFSTR (kIOHIDVendorIDKey), 0x7A31);
    return manager;
}

Refs Listed (IOHIDManagerRef manager)
{
    CFSetRef set = IOHIDManagerCopyDevices (manager);
    std::vector<const void*> devices (set != nullptr ? static_cast<size_t> (CFSetGetCount (set)) : 0);
    if (set != nullptr)
        CFSetGetValues (set, devices.data());
    if (set != nullptr)
        CFRelease (set);
    return { devices.begin(), devices.end() };
}

using Report = std::tuple<void*, uint32_t, uint8_t*, std::vector<uint8_t>>; // sender, report ID, buffer, bytes

void Record (void* context, IOReturn, void* sender, IOHIDReportType, uint32_t reportId, uint8_t* report, CFIndex length)
{
    static_cast<std::vector<Report>*> (context)->push_back ({ sender, reportId, report, { report, report + length } });
}

} // namespace

TEST (HidManager, MatchesEveryEntryByValueNothingUnmatchedEverythingOnNullAndNothingWhenClosed)
{
    const sim::HidId ours = Plug (0x7A31, 11), other = Plug (0x1234, 12), ours2 = Plug (0x7A31, 13);
    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr) << "no matching set must match nothing";
    Match (manager, CFSTR (kIOHIDVendorIDKey), 0x7A31);
    EXPECT_EQ (Listed (manager), (Refs { sim::HidDeviceRef (ours), sim::HidDeviceRef (ours2) }));
    Match (manager, CFSTR (kIOHIDUniqueIDKey), 12);
    EXPECT_EQ (Listed (manager), Refs { sim::HidDeviceRef (other) });
    Match (manager, CFSTR (kIOHIDLocationIDKey), 12); // absent on every device
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr);
    IOHIDManagerSetDeviceMatching (manager, nullptr);
    EXPECT_EQ (Listed (manager).size(), 3u);
    IOHIDManagerClose (manager, kIOHIDOptionsTypeNone);
    EXPECT_EQ (IOHIDManagerCopyDevices (manager), nullptr) << "a closed manager lists nothing";
    CFRelease (manager);
}

TEST (HidManager, ItsDeviceSetChangesOnlyWhenItsScheduledRunLoopRuns)
{
    const long liveBefore = sim::LiveObjectCount();
    const sim::HidId first = Plug (0x7A31, 21);
    const IOHIDDeviceRef firstRef = sim::HidDeviceRef (first);
    IOHIDManagerRef scheduled = OpenVendorManager(), unscheduled = OpenVendorManager();
    IOHIDManagerScheduleWithRunLoop (scheduled, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    const sim::HidId second = Plug (0x7A31, 22);
    EXPECT_EQ (Listed (scheduled), Refs { firstRef });
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (Listed (scheduled), (Refs { firstRef, sim::HidDeviceRef (second) }));
    sim::RemoveHidDevice (first);
    EXPECT_EQ (Listed (scheduled).count (firstRef), 1u);
    EXPECT_EQ (IOHIDDeviceOpen (firstRef, kIOHIDOptionsTypeNone), kIOReturnNoDevice);
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (Listed (scheduled), Refs { sim::HidDeviceRef (second) });
    // Never scheduled: still what it enumerated when opened; scheduled late, it catches up on its first run.
    EXPECT_EQ (Listed (unscheduled), Refs { firstRef });
    IOHIDManagerScheduleWithRunLoop (unscheduled, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (Listed (unscheduled), Refs { sim::HidDeviceRef (second) });
    EXPECT_EQ (sim::HidDeviceRef (first), nullptr) << "the managers let go of the removed device";
    CFRelease (scheduled);
    CFRelease (unscheduled);
    sim::RemoveHidDevice (second);
    EXPECT_EQ (sim::LiveObjectCount(), liveBefore);
}

TEST (HidReports, ArriveOnlyOnTheScheduledRunLoopTruncatedIntoTheRegisteredBuffer)
{
    const sim::HidId unit = Plug (0x7A31, 61);
    IOHIDManagerRef manager = OpenVendorManager();
    const IOHIDDeviceRef device = sim::HidDeviceRef (unit);
    uint8_t buffer[4] = {};
    std::vector<Report> reports;
    IOHIDDeviceRegisterInputReportCallback (device, buffer, sizeof buffer, Record, &reports);
    sim::SendInputReport (unit, 0, { 1 }); // no manager scheduled yet
    IOHIDManagerScheduleWithRunLoop (manager, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
    sim::SendInputReport (unit, 5, { 5, 1, 2, 3, 4, 6 });
    sim::SendInputReport (unit, 0, { 9, 8 });
    EXPECT_TRUE (reports.empty());
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (reports,
               (std::vector<Report> { { device, 5, buffer, { 5, 1, 2, 3 } }, { device, 0, buffer, { 9, 8 } } }));
    sim::SendInputReport (unit, 0, { 7, 7 }); // unregistered before the loop runs: never delivered
    IOHIDDeviceRegisterInputReportCallback (device, buffer, 0, nullptr, nullptr);
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (reports.size(), 2u);
    EXPECT_EQ (buffer[0], 9);
    CFRelease (manager);
}
