#include "devices/HidDevice.h"

#include "devices/HidAccess.h"
#include "devices/HidDeviceRegistry.h"

#include <cstring>
#include <mutex>

namespace
{

/** The smallest power of two not below size, by 32-bit bit smearing: 0 for 0. */
std::size_t SlotSizeFor (std::size_t size)
{
    auto x = static_cast<std::int32_t> (size) - 1;
    x |= x >> 1;
    x |= x >> 2;
    x |= x >> 4;
    x |= x >> 8;
    x |= x >> 16;
    return static_cast<std::size_t> (x + 1);
}

} // namespace

HidDevice::~HidDevice()
{
    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);

        if (device != nullptr)
        {
            IOHIDDeviceRegisterInputReportCallback (device, reportBuffer.get(), 0, nullptr, nullptr);
            IOHIDDeviceClose (device, kIOHIDOptionsTypeNone);
            CFRelease (device);
            device = nullptr;

            // Only a registered handle owns its entries; an attached handle
            // whose open failed never entered them.
            const auto registered = HidDeviceRegistry::devicesById.find (static_cast<std::uint32_t> (id));

            if (registered != HidDeviceRegistry::devicesById.end() && registered->second == this)
            {
                HidDeviceRegistry::devicesById.erase (registered);
                HidDeviceRegistry::idTable[static_cast<std::size_t> (id)] = -1;
            }
        }
    }

    reportBuffer.reset();
    ring.reset();
}

void HidDevice::Attach (IOHIDManagerRef manager, const juce::String& uniqueId)
{
    if (device != nullptr)
        return;

    const auto deviceSet = HidAccess::CopyDevices (manager);

    for (const auto candidate : deviceSet.devices)
    {
        // Two devices with one unique-ID text are not expected; the first one found is kept.
        if (device != nullptr || HidAccess::UniqueIdText (candidate) != uniqueId)
            continue;

        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);

        for (std::int32_t freeId = 0; freeId < kMaxHidDevices; ++freeId)
        {
            if (HidDeviceRegistry::devicesById.count (static_cast<std::uint32_t> (freeId)) == 0)
            {
                id = freeId;
                device = candidate;
                CFRetain (device);
                break;
            }
        }
    }
}

void HidDevice::Open()
{
    if (device == nullptr)
        return;

    const IOReturn openResult = IOHIDDeviceOpen (device, kIOHIDOptionsTypeNone);

    const auto version = HidAccess::ReadNumber (device, CFSTR (kIOHIDVersionNumberKey));
    firmwareMajor = static_cast<std::uint8_t> ((version >> 8) & 0xFF);
    firmwareMinor = static_cast<std::uint8_t> ((version >> 4) & 0x0F);
    firmwarePatch = static_cast<std::uint8_t> (version & 0x0F);

    const auto maxReportSize = HidAccess::ReadNumber (device, CFSTR (kIOHIDMaxInputReportSizeKey));
    reportSize =
        maxReportSize >= 0 && maxReportSize <= kLargestInputReportSize ? static_cast<std::size_t> (maxReportSize) : 0;
    reportBuffer.reset();
    reportBuffer = std::make_unique<std::uint8_t[]> (reportSize);

    slotSize = SlotSizeFor (reportSize);
    ringBytes = slotSize * kReportRingSlots;
    ring.reset();
    ring = std::make_unique<std::uint8_t[]> (ringBytes);

    serialNumber = HidAccess::ReadText (device, CFSTR (kIOHIDSerialNumberKey));

    if (serialNumber.isEmpty())
    {
        const auto locationId = HidAccess::ReadNumber (device, CFSTR (kIOHIDLocationIDKey));

        if (locationId != 0)
            serialNumber = juce::String::formatted ("%08X", static_cast<unsigned int> (locationId & 0xFFFFFFFF));
    }

    if (openResult != kIOReturnSuccess)
        return;

    const auto slot = static_cast<std::size_t> (id);

    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
        HidDeviceRegistry::idTable[slot] = id;
        HidDeviceRegistry::devicesById[static_cast<std::uint32_t> (id)] = this;
    }

    IOHIDDeviceRegisterInputReportCallback (device, reportBuffer.get(), static_cast<CFIndex> (reportSize),
                                            &HidDevice::OnInputReport, &HidDeviceRegistry::idTable[slot]);
}

void HidDevice::OnInputReport (void* context, IOReturn, void* sender, IOHIDReportType, std::uint32_t reportId,
                               std::uint8_t* report, CFIndex reportLength)
{
    const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);

    if (context == nullptr)
        return;

    // A freed entry holds -1, which is never a key.
    const auto entry = *static_cast<const std::int32_t*> (context);
    const auto found = HidDeviceRegistry::devicesById.find (static_cast<std::uint32_t> (entry));

    if (found == HidDeviceRegistry::devicesById.end())
        return;

    HidDevice& handle = *found->second;

    // A late report of a device whose id has since gone to another device.
    if (static_cast<void*> (handle.device) != sender)
        return;

    handle.StoreReport (reportId, report, reportLength);
}

void HidDevice::StoreReport (std::uint32_t reportId, const std::uint8_t* report, CFIndex reportLength)
{
    if (reportLength < 0)
        return;

    auto payload = report;
    auto payloadLength = static_cast<std::size_t> (reportLength);

    if (reportId != 0)
    {
        // The first byte is the report ID; a report too short to hold it carries nothing.
        if (payloadLength == 0)
            return;

        ++payload;
        --payloadLength;
    }

    // Only what fits one slot whole is stored: an empty ring, or a report
    // longer than a slot, leaves the ring as it was.
    if (slotSize == 0 || payloadLength > slotSize || ring == nullptr)
        return;

    if (payloadLength > 0 && payload == nullptr)
        return;

    const auto slot = writeSlot.load();

    if (payloadLength > 0)
        std::memcpy (ring.get() + slotSize * slot, payload, payloadLength);

    writeSlot.store ((slot + 1) & (kReportRingSlots - 1));
}
