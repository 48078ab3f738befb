#include "platform/iokit/HidSystem.h"

#include "platform/corefoundation/RunLoopInternals.h"
#include "platform/sim/MachineInternals.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

namespace
{

/** A matching value or device property as HidMatchingHistory shows it. */
std::string Describe (CFTypeRef value)
{
    if (CFGetTypeID (value) == CFStringGetTypeID())
    {
        const char* text = CFStringGetCStringPtr (static_cast<CFStringRef> (value), kCFStringEncodingUTF8);
        return text ? text : "";
    }
    if (CFGetTypeID (value) == CFNumberGetTypeID())
    {
        const auto number = static_cast<CFNumberRef> (value);
        const CFNumberType type = CFNumberGetType (number);
        if (type == kCFNumberFloat32Type || type == kCFNumberFloat64Type)
        {
            double real = 0;
            CFNumberGetValue (number, kCFNumberFloat64Type, &real);
            return std::to_string (real);
        }
        long long integer = 0;
        CFNumberGetValue (number, kCFNumberLongLongType, &integer);
        return std::to_string (integer);
    }
    return "?";
}

/** The device's "UniqueID" as text, for the call log. */
std::string UniqueIdText (const __IOHIDDevice& device)
{
    const CFTypeRef value = device.Property (kIOHIDUniqueIDKey);
    return value != nullptr ? Describe (value) : "";
}

/** Takes the manager's matching entries out, for release once the mutex is let go. */
std::vector<CFTypeRef> TakeEntriesLocked (__IOHIDManager& manager)
{
    std::vector<CFTypeRef> held;
    for (auto& entry : manager.entries)
    {
        held.push_back (entry.first);
        held.push_back (entry.second);
    }
    manager.entries.clear();
    return held;
}

template <typename Reference>
void ReleaseAll (const std::vector<Reference>& references)
{
    for (auto reference : references)
        CFRelease (reference);
}

} // namespace

HidSystem& HidSystem::Instance()
{
    // Never destroyed: devices and managers may outlive every static object.
    static HidSystem* const instance = new HidSystem;
    sim::detail::EnsureBooted();
    return *instance;
}

//==============================================================================
sim::HidId HidSystem::AddDevice (const sim::HidProperties& properties)
{
    std::vector<PendingRefresh> pending;
    sim::HidId id = 0;
    {
        std::lock_guard<std::mutex> lock (mutex);
        id = nextId++;
        auto* device = new __IOHIDDevice (id, properties);
        plugged[id] = device;
        alive[id] = device;
        counters[id] = {};
        pending = DevicesChangedLocked();
    }
    PostRefreshes (pending);
    return id;
}

void HidSystem::RemoveDevice (sim::HidId id)
{
    __IOHIDDevice* device = nullptr;
    std::vector<PendingRefresh> pending;
    {
        std::lock_guard<std::mutex> lock (mutex);
        auto found = plugged.find (id);
        if (found == plugged.end())
            return;
        device = found->second;
        device->present = false;
        plugged.erase (found);
        pending = DevicesChangedLocked();
    }
    PostRefreshes (pending);
    CFRelease (device);
}

void HidSystem::FailDeviceOpen (sim::HidId id)
{
    std::lock_guard<std::mutex> lock (mutex);
    if (auto found = alive.find (id); found != alive.end())
        found->second->failOpen = true;
}

IOHIDDeviceRef HidSystem::DeviceRef (sim::HidId id)
{
    std::lock_guard<std::mutex> lock (mutex);
    auto found = alive.find (id);
    return found == alive.end() ? nullptr : found->second;
}

sim::HidDeviceCounters HidSystem::Counters (sim::HidId id)
{
    std::lock_guard<std::mutex> lock (mutex);
    auto found = counters.find (id);
    return found == counters.end() ? sim::HidDeviceCounters {} : found->second;
}

std::vector<std::map<std::string, std::string>> HidSystem::MatchingHistory()
{
    std::lock_guard<std::mutex> lock (mutex);
    return matchingHistory;
}

void HidSystem::Reset()
{
    std::map<sim::HidId, __IOHIDDevice*> unplugged;
    std::vector<PendingRefresh> pending;
    {
        std::lock_guard<std::mutex> lock (mutex);
        unplugged.swap (plugged);
        for (auto& entry : unplugged)
            entry.second->present = false;
        counters.clear();
        matchingHistory.clear();
        pending = DevicesChangedLocked();
    }
    PostRefreshes (pending);
    for (auto& entry : unplugged)
        CFRelease (entry.second);
}

//==============================================================================
void HidSystem::SendInputReport (sim::HidId id, std::uint32_t reportId, const std::vector<std::uint8_t>& report)
{
    __IOHIDDevice* device = nullptr;
    CFRunLoopRef loop = nullptr;
    {
        std::lock_guard<std::mutex> lock (mutex);
        auto found = plugged.find (id);
        if (found == plugged.end() || found->second->reportCallback == nullptr)
            return;
        device = found->second;
        for (auto* manager : managers)
        {
            const auto& set = manager->devices;
            if (manager->open && manager->runLoop != nullptr && std::find (set.begin(), set.end(), device) != set.end())
            {
                loop = manager->runLoop;
                break;
            }
        }
        if (loop == nullptr)
            return;
        // Taking references only touches atomic counts, so it is safe under the mutex;
        // the manager holds the loop and the machine the device until then.
        CFRetain (loop);
        CFRetain (device);
    }

    std::shared_ptr<__IOHIDDevice> held (device, [] (__IOHIDDevice* d) { CFRelease (d); });
    cf::PostToRunLoop (loop, [this, held, reportId, report] { Deliver (*held, reportId, report); });
    CFRelease (loop);
}

void HidSystem::Deliver (__IOHIDDevice& device, std::uint32_t reportId, const std::vector<std::uint8_t>& report)
{
    IOHIDReportCallback callback = nullptr;
    void* context = nullptr;
    uint8_t* buffer = nullptr;
    CFIndex length = 0;
    {
        // Registration is looked at only now: a report queued before the program
        // unregistered must not be written into a buffer it may have freed since.
        std::lock_guard<std::mutex> lock (mutex);
        if (!device.present || device.reportCallback == nullptr)
            return;
        callback = device.reportCallback;
        context = device.reportContext;
        buffer = device.reportBuffer;
        length = std::min<CFIndex> (device.reportLength, static_cast<CFIndex> (report.size()));
        if (buffer != nullptr && length > 0)
            std::memcpy (buffer, report.data(), static_cast<size_t> (length));
        else
            length = 0;
    }
    callback (context, kIOReturnSuccess, &device, kIOHIDReportTypeInput, reportId, buffer, length);
}

//==============================================================================
IOHIDManagerRef HidSystem::CreateManager()
{
    std::lock_guard<std::mutex> lock (mutex);
    auto* manager = new __IOHIDManager (nextManagerSerial++);
    managers.push_back (manager);
    return manager;
}

void HidSystem::SetManagerOpen (__IOHIDManager& manager, bool open)
{
    std::vector<IOHIDDeviceRef> replaced;
    {
        std::lock_guard<std::mutex> lock (mutex);
        manager.open = open;
        replaced = EnumerateLocked (manager);
    }
    ReleaseAll (replaced);
}

void HidSystem::SetMatching (__IOHIDManager& manager, CFDictionaryRef matching)
{
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
    std::map<std::string, std::string> described;
    if (matching != nullptr)
    {
        const auto count = static_cast<size_t> (CFDictionaryGetCount (matching));
        std::vector<const void*> keys (count), values (count);
        CFDictionaryGetKeysAndValues (matching, keys.data(), values.data());
        for (size_t i = 0; i < count; ++i)
        {
            entries.emplace_back (CFRetain (keys[i]), CFRetain (values[i]));
            described[Describe (keys[i])] = Describe (values[i]);
        }
    }

    std::vector<CFTypeRef> replaced;
    std::vector<IOHIDDeviceRef> replacedDevices;
    {
        std::lock_guard<std::mutex> lock (mutex);
        replaced = TakeEntriesLocked (manager);
        manager.entries = std::move (entries);
        manager.matching = matching == nullptr ? __IOHIDManager::Matching::Every : __IOHIDManager::Matching::Entries;
        matchingHistory.push_back (std::move (described));
        replacedDevices = EnumerateLocked (manager);
    }
    ReleaseAll (replaced);
    ReleaseAll (replacedDevices);
}

void HidSystem::Schedule (__IOHIDManager& manager, CFRunLoopRef loop)
{
    CFRunLoopRef previous = nullptr;
    std::vector<PendingRefresh> pending;
    {
        std::lock_guard<std::mutex> lock (mutex);
        if (manager.runLoop == loop)
            return;
        previous = manager.runLoop;
        manager.runLoop = static_cast<CFRunLoopRef> (const_cast<void*> (CFRetain (loop)));
        cf::AddRunLoopSource (loop);
        // What arrived or left since the manager enumerated reaches it on its first run.
        CFRetain (loop);
        pending.emplace_back (manager.serial, loop);
    }
    PostRefreshes (pending);
    if (previous != nullptr)
    {
        cf::RemoveRunLoopSource (previous);
        CFRelease (previous);
    }
}

std::vector<HidSystem::PendingRefresh> HidSystem::DevicesChangedLocked()
{
    // The loop is safe to retain under the mutex: its manager holds it until it takes the mutex itself.
    std::vector<PendingRefresh> pending;
    for (auto* manager : managers)
    {
        if (manager->open && manager->runLoop != nullptr)
        {
            CFRetain (manager->runLoop);
            pending.emplace_back (manager->serial, manager->runLoop);
        }
    }
    return pending;
}

void HidSystem::PostRefreshes (const std::vector<PendingRefresh>& pending)
{
    for (const auto& [serial, loop] : pending)
    {
        cf::PostToRunLoop (loop, [this, managerSerial = serial] { Refresh (managerSerial); });
        CFRelease (loop);
    }
}

void HidSystem::Refresh (std::uint64_t managerSerial)
{
    std::vector<IOHIDDeviceRef> replaced;
    {
        std::lock_guard<std::mutex> lock (mutex);
        auto found = std::find_if (managers.begin(), managers.end(),
                                   [managerSerial] (const __IOHIDManager* m) { return m->serial == managerSerial; });
        if (found == managers.end())
            return;
        replaced = EnumerateLocked (**found);
    }
    ReleaseAll (replaced);
}

std::vector<IOHIDDeviceRef> HidSystem::EnumerateLocked (__IOHIDManager& manager)
{
    // Taking references is safe under the mutex; the old set is handed back for release once it is let go.
    std::vector<IOHIDDeviceRef> devices;
    if (manager.open)
    {
        for (auto& entry : plugged)
        {
            if (Matches (manager, *entry.second))
            {
                CFRetain (entry.second);
                devices.push_back (entry.second);
            }
        }
    }
    devices.swap (manager.devices);
    return devices;
}

CFSetRef HidSystem::CopyDevices (__IOHIDManager& manager)
{
    std::lock_guard<std::mutex> lock (mutex);
    if (!manager.open || manager.devices.empty())
        return nullptr;
    std::vector<const void*> matched (manager.devices.begin(), manager.devices.end());
    // Creating the set only takes references, which is safe under the mutex.
    return CFSetCreate (kCFAllocatorDefault, matched.data(), static_cast<CFIndex> (matched.size()),
                        &kCFTypeSetCallBacks);
}

bool HidSystem::Matches (const __IOHIDManager& manager, const __IOHIDDevice& device) const
{
    switch (manager.matching)
    {
        case __IOHIDManager::Matching::Nothing:
            return false;
        case __IOHIDManager::Matching::Every:
            return true;
        case __IOHIDManager::Matching::Entries:
            break;
    }
    for (auto& entry : manager.entries)
    {
        if (CFGetTypeID (entry.first) != CFStringGetTypeID())
            return false;
        const char* key = CFStringGetCStringPtr (static_cast<CFStringRef> (entry.first), kCFStringEncodingUTF8);
        CFTypeRef property = key ? device.Property (key) : nullptr;
        if (property == nullptr || !CFEqual (property, entry.second))
            return false;
    }
    return true;
}

//==============================================================================
IOReturn HidSystem::OpenDevice (__IOHIDDevice& device)
{
    {
        std::lock_guard<std::mutex> lock (mutex);
        auto& counted = counters[device.id];
        if (!device.present)
        {
            ++counted.failedOpens;
            return kIOReturnNoDevice;
        }
        if (device.failOpen)
        {
            ++counted.failedOpens;
            return kIOReturnNotPermitted;
        }
        ++device.openCount;
        ++counted.opens;
    }
    sim::detail::Log ("IOHIDDeviceOpen " + UniqueIdText (device));
    return kIOReturnSuccess;
}

IOReturn HidSystem::CloseDevice (__IOHIDDevice& device)
{
    bool wasOpen = false;
    {
        std::lock_guard<std::mutex> lock (mutex);
        ++counters[device.id].closes;
        wasOpen = device.openCount > 0;
        if (wasOpen)
            --device.openCount;
    }
    sim::detail::Log ("IOHIDDeviceClose " + UniqueIdText (device));
    return wasOpen ? kIOReturnSuccess : kIOReturnNotOpen;
}

void HidSystem::RegisterInputReportCallback (__IOHIDDevice& device, uint8_t* buffer, CFIndex length,
                                             IOHIDReportCallback callback, void* context)
{
    std::lock_guard<std::mutex> lock (mutex);
    const bool registering = callback != nullptr;
    device.reportCallback = callback;
    device.reportBuffer = registering ? buffer : nullptr;
    device.reportLength = registering && buffer != nullptr ? std::max<CFIndex> (length, 0) : 0;
    device.reportContext = registering ? context : nullptr;
    counters[device.id].callbackRegistered = registering;
}

//==============================================================================
void HidSystem::ForgetDevice (__IOHIDDevice& device)
{
    std::lock_guard<std::mutex> lock (mutex);
    auto found = alive.find (device.id);
    if (found != alive.end() && found->second == &device)
        alive.erase (found);
}

void HidSystem::ForgetManager (__IOHIDManager& manager)
{
    std::vector<CFTypeRef> held;
    std::vector<IOHIDDeviceRef> devices;
    CFRunLoopRef loop = nullptr;
    {
        std::lock_guard<std::mutex> lock (mutex);
        managers.erase (std::remove (managers.begin(), managers.end(), &manager), managers.end());
        held = TakeEntriesLocked (manager);
        devices.swap (manager.devices);
        loop = manager.runLoop;
        manager.runLoop = nullptr;
    }
    ReleaseAll (devices);
    if (loop != nullptr)
    {
        cf::RemoveRunLoopSource (loop);
        CFRelease (loop);
    }
    ReleaseAll (held);
}
