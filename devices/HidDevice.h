#pragma once

#include <IOKit/hid/IOHIDManager.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

/** The number of slots in a device's input-report ring. */
constexpr std::size_t kReportRingSlots = 1024;

/** The largest "MaxInputReportSize" taken at its word; anything larger (or
    negative) is treated as missing, since its ring could not be allocated. */
constexpr std::int64_t kLargestInputReportSize = 65536;

/** A handle on one HID interface of the maker's devices: finds it by its
    unique-ID text, opens it, reads its firmware version, report size and
    serial number, and while open fills a ring of input reports.

    Attach, Open and destruction run on the message thread (the scan holds its
    devicesMutex around them); OnInputReport runs on the HID thread. The fields
    are read by the scan after Open. */
class HidDevice
{
public:
    /** A detached handle; makes no platform call. */
    HidDevice() = default;

    /** Unregisters the report callback, closes and releases the device when
        attached (whether or not it opened), frees its registry id, then the buffers. */
    ~HidDevice();

    /** Finds the manager's device whose unique-ID text equals uniqueId and
        takes a registry id and a reference of its own to it. Stays detached
        when there is no such device or no free id. */
    void Attach (IOHIDManagerRef manager, const juce::String& uniqueId);

    /** On an attached handle: opens the device, reads its properties (even when
        the open failed), sets up the report ring and, only when the open
        succeeded, registers the handle and its input-report callback. */
    void Open();

    /** IOKit's input-report callback, on the HID thread. context is the
        handle's idTable entry; a report of a handle that has gone, or of
        another device than the one registered under the id, is ignored. */
    static void OnInputReport (void* context, IOReturn result, void* sender, IOHIDReportType type,
                               std::uint32_t reportId, std::uint8_t* report, CFIndex reportLength);

    std::uint8_t firmwareMajor = 0xFF; // 0xFF: not read
    std::uint8_t firmwareMinor = 0xFF;
    std::uint8_t firmwarePatch = 0xFF;
    juce::String serialNumber;                // or the location ID as eight hex digits, or empty
    std::int32_t id = -1;                     // registry id 0-99 while attached
    IOHIDDeviceRef device = nullptr;          // held with a reference of our own while attached
    std::size_t ringBytes = 0;                // slotSize * kReportRingSlots
    std::size_t slotSize = 0;                 // smallest power of two not below reportSize
    std::size_t reportSize = 0;               // the device's "MaxInputReportSize"
    std::atomic<std::size_t> writeSlot { 0 }; // the slot the next report fills
    std::unique_ptr<std::uint8_t[]> ring;
    std::unique_ptr<std::uint8_t[]> reportBuffer; // IOKit's buffer for incoming reports

private:
    /** Copies one report into the next slot; under the registry mutex. */
    void StoreReport (std::uint32_t reportId, const std::uint8_t* report, CFIndex reportLength);

    JUCE_DECLARE_NON_COPYABLE (HidDevice)
};
