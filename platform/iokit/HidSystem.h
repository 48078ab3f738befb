#pragma once

#include "platform/iokit/HidDeviceObject.h"
#include "platform/iokit/HidManagerObject.h"
#include "platform/sim/SimulatedMachine.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

/** The HID half of the simulated machine: the devices plugged in, the managers
    the program made, and what the tests can observe of them. Callable from any
    thread. As on a Mac, a manager enumerates what is plugged in when it is
    opened or given a matching; later arrivals and removals reach its device
    set only when the run loop it is scheduled on runs. No CoreFoundation
    object is released and no program callback runs while its mutex is held,
    because device and manager destructors come back here. */
class HidSystem
{
public:
    static HidSystem& Instance();

    // The machine's side, for SimulatedMachine.h.
    sim::HidId AddDevice (const sim::HidProperties& properties);
    void RemoveDevice (sim::HidId id);
    void FailDeviceOpen (sim::HidId id);
    IOHIDDeviceRef DeviceRef (sim::HidId id);
    sim::HidDeviceCounters Counters (sim::HidId id);
    void SendInputReport (sim::HidId id, std::uint32_t reportId, const std::vector<std::uint8_t>& report);
    std::vector<std::map<std::string, std::string>> MatchingHistory();
    void Reset();

    // The managers, for IOHIDManager.h.
    IOHIDManagerRef CreateManager();
    void SetManagerOpen (__IOHIDManager& manager, bool open);
    void SetMatching (__IOHIDManager& manager, CFDictionaryRef matching);
    void Schedule (__IOHIDManager& manager, CFRunLoopRef loop);
    CFSetRef CopyDevices (__IOHIDManager& manager);

    // The devices, for IOHIDDevice.h.
    IOReturn OpenDevice (__IOHIDDevice& device);
    IOReturn CloseDevice (__IOHIDDevice& device);
    void RegisterInputReportCallback (__IOHIDDevice& device, uint8_t* buffer, CFIndex length,
                                      IOHIDReportCallback callback, void* context);

    // Called by the destructors of the objects, never under the mutex.
    void ForgetDevice (__IOHIDDevice& device);
    void ForgetManager (__IOHIDManager& manager);

private:
    HidSystem() = default;

    bool Matches (const __IOHIDManager& manager, const __IOHIDDevice& device) const;
    std::vector<IOHIDDeviceRef> EnumerateLocked (__IOHIDManager& manager);
    void Refresh (std::uint64_t managerSerial);
    using PendingRefresh = std::pair<std::uint64_t, CFRunLoopRef>; // a manager's serial and its retained loop
    std::vector<PendingRefresh> DevicesChangedLocked();
    void PostRefreshes (const std::vector<PendingRefresh>& pending);
    void Deliver (__IOHIDDevice& device, std::uint32_t reportId, const std::vector<std::uint8_t>& report);

    std::mutex mutex;
    sim::HidId nextId = 1;
    std::uint64_t nextManagerSerial = 1;
    std::map<sim::HidId, __IOHIDDevice*> plugged; // each holds the machine's reference
    std::map<sim::HidId, __IOHIDDevice*> alive;   // every device object not yet destroyed, not retained
    std::vector<__IOHIDManager*> managers;        // every manager not yet destroyed, not retained
    std::map<sim::HidId, sim::HidDeviceCounters> counters;
    std::vector<std::map<std::string, std::string>> matchingHistory;
};
