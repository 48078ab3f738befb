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

/** The listed devices; an empty set is never handed out, only NULL. */
Refs Listed (IOHIDManagerRef manager)
{
    CFSetRef set = IOHIDManagerCopyDevices (manager);
    if (set == nullptr)
        return {};
    std::vector<const void*> devices (size_t (CFSetGetCount (set)));
    EXPECT_FALSE (devices.empty());
    CFSetGetValues (set, devices.data());
    CFRelease (set);
    return { devices.begin(), devices.end() };
}

using Report = std::tuple<void*, uint32_t, uint8_t*, std::vector<uint8_t>>; // sender, report ID, buffer, bytes

void Record (void* context, IOReturn, void* sender, IOHIDReportType, uint32_t reportId, uint8_t* report, CFIndex length)
{
    static_cast<std::vector<Report>*> (context)->push_back ({ sender, reportId, report, { report, report + length } });
}
} // namespace

TEST (HidManager, MatchesByValueAndChangesItsDeviceSetAndDeliversReportsOnlyWhenItsScheduledRunLoopRuns)
{
    const long liveBefore = sim::LiveObjectCount();
    const sim::HidId first = Plug (0x7A31, 21), other = Plug (0x1234, 12);
    const IOHIDDeviceRef firstRef = sim::HidDeviceRef (first);
    IOHIDManagerRef scheduled = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone),
                    unscheduled = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    EXPECT_EQ (IOHIDManagerOpen (scheduled, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    IOHIDManagerOpen (unscheduled, kIOHIDOptionsTypeNone);
    EXPECT_EQ (Listed (scheduled), Refs {}) << "no matching set must match nothing";
    Match (scheduled, CFSTR (kIOHIDUniqueIDKey), 12);
    EXPECT_EQ (Listed (scheduled), Refs { sim::HidDeviceRef (other) });
    Match (scheduled, CFSTR (kIOHIDLocationIDKey), 12); // absent on every device
    EXPECT_EQ (Listed (scheduled), Refs {});
    IOHIDManagerSetDeviceMatching (scheduled, nullptr);
    EXPECT_EQ (Listed (scheduled).size(), 2u);
    Match (scheduled, CFSTR (kIOHIDVendorIDKey), 0x7A31);
    Match (unscheduled, CFSTR (kIOHIDVendorIDKey), 0x7A31);
    uint8_t buffer[4] = {};
    std::vector<Report> reports;
    IOHIDDeviceRegisterInputReportCallback (firstRef, buffer, sizeof buffer, Record, &reports);
    sim::SendInputReport (first, 0, { 1 }); // no manager scheduled yet
    IOHIDManagerScheduleWithRunLoop (scheduled, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
    sim::SendInputReport (first, 5, { 5, 1, 2, 3, 4, 6 });
    sim::SendInputReport (first, 0, { 9, 8 });
    const sim::HidId second = Plug (0x7A31, 22);
    EXPECT_EQ (std::make_pair (Listed (scheduled), reports.size()), std::make_pair (Refs { firstRef }, size_t (0)));
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (Listed (scheduled), (Refs { firstRef, sim::HidDeviceRef (second) }));
    EXPECT_EQ (reports,
               (std::vector<Report> { { firstRef, 5, buffer, { 5, 1, 2, 3 } }, { firstRef, 0, buffer, { 9, 8 } } }));
    sim::SendInputReport (first, 0, { 7, 7 }); // unregistered before the loop runs: never delivered
    IOHIDDeviceRegisterInputReportCallback (firstRef, buffer, 0, nullptr, nullptr);
    CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0, false);
    EXPECT_EQ (std::make_pair (reports.size(), buffer[0]), std::make_pair (size_t (2), uint8_t (9)));
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
    IOHIDManagerClose (scheduled, kIOHIDOptionsTypeNone);
    EXPECT_EQ (Listed (scheduled), Refs {}) << "a closed manager lists nothing";
    CFRelease (scheduled);
    CFRelease (unscheduled);
    sim::RemoveHidDevice (second);
    sim::RemoveHidDevice (other);
    EXPECT_EQ (sim::LiveObjectCount(), liveBefore);
}
