#pragma once

#include "devices/HidDeviceInfo.h"
#include "devices/IOHIDManager.h"
#include "devices/SupportedDevice.h"

#include <juce_events/juce_events.h>
#include <sigslot/signal.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

/** The device detection: polls the HID manager on the message thread, keeps
    the details of each accepted interface under its device key, and announces
    arrivals and removals. Owned by the engine, which connects its slots and
    then calls startTimer (250).

    Signals are emitted on the message thread, never with devicesMutex held, so
    a slot may call GetDeviceInfo and GetDeviceKeys. */
class HidDevices : public juce::Timer
{
public:
    /** Creates the HID manager and starts the HID thread; the timer stays stopped. */
    HidDevices();
    ~HidDevices() override;

    /** One scan: removals first, then arrivals, each announced in turn. Message thread. */
    void timerCallback() override;

    /** A copy of the stored details under key, or nothing. Any thread. */
    std::optional<HidDeviceInfo> GetDeviceInfo (int key);

    /** The stored keys, in the map's order. Message thread only (reads without the lock). */
    std::vector<int> GetDeviceKeys() const;

    /** The device key: the low 32 bits of libc++'s string hash of
        "<vendor>#<product>#<serial>", in decimal. */
    static int MakeDeviceKey (std::uint16_t vendorId, std::uint16_t productId, const juce::String& serialNumber);

    /** The first known-product row whose vendor ID matches and whose product ID
        or alternate ID equals productId; nullptr when none does. */
    static const SupportedDevice* FindSupportedDevice (std::uint16_t vendorId, std::uint16_t productId);

    /** Whether an interface of a known product is the one to take: usage page
        0xFF00, or 0x00FF on the first mixer product IDs (0x30, 0x4F). */
    static bool IsAcceptedInterface (std::uint16_t productId, std::uint16_t usagePage);

    /** Carries the key of a device whose record has just been stored. */
    sigslot::signal_base<sigslot::detail::null_mutex, int> DeviceConnected;

    /** Carries the key of a device whose record has just been erased. */
    sigslot::signal_base<sigslot::detail::null_mutex, int> DeviceDisconnected;

private:
    std::vector<HidDeviceInfo> ScanDevices() const;
    void RemoveVanished (const std::vector<HidDeviceInfo>& scanned);
    void AddArrivals (std::vector<HidDeviceInfo>& scanned);
    bool IsStored (const juce::String& uniqueId) const;

    std::mutex devicesMutex;                            // guards deviceInfos; before the registry mutex
    std::unordered_map<int, HidDeviceInfo> deviceInfos; // written only by timerCallback

public:
    /** The HID manager and its thread; destroyed first. */
    std::unique_ptr<IOHIDManager> hidManager;

private:
    JUCE_DECLARE_NON_COPYABLE (HidDevices)
};
