#include "devices/HidDevices.h"

#include "devices/DeviceKeyHash.h"
#include "devices/HidAccess.h"
#include "devices/HidDevice.h"
#include "devices/SupportedDevices.h"

#include <algorithm>

namespace
{

constexpr std::uint16_t kVendorUsagePage = 0xFF00;
constexpr std::uint16_t kMixerAltUsagePage = 0x00FF;
constexpr std::uint16_t kVelmarFirstProductId = 0x30;
constexpr std::uint16_t kTeskFirstProductId = 0x4F;

std::uint16_t Low16 (std::int64_t value)
{
    return static_cast<std::uint16_t> (value & 0xFFFF);
}

} // namespace

HidDevices::HidDevices() : hidManager (std::make_unique<IOHIDManager>()) {}

HidDevices::~HidDevices() = default;

void HidDevices::timerCallback()
{
    auto scanned = ScanDevices();
    RemoveVanished (scanned);
    AddArrivals (scanned);
}

std::vector<HidDeviceInfo> HidDevices::ScanDevices() const
{
    std::vector<HidDeviceInfo> scanned;
    const auto deviceSet = HidAccess::CopyDevices (hidManager->manager);

    for (const auto device : deviceSet.devices)
    {
        HidDeviceInfo info;
        info.vendorId = Low16 (HidAccess::ReadNumber (device, CFSTR (kIOHIDVendorIDKey)));
        info.productId = Low16 (HidAccess::ReadNumber (device, CFSTR (kIOHIDProductIDKey)));
        info.usagePage = Low16 (HidAccess::ReadNumber (device, CFSTR (kIOHIDPrimaryUsagePageKey)));

        if (FindSupportedDevice (info.vendorId, info.productId) == nullptr)
            continue;

        if (!IsAcceptedInterface (info.productId, info.usagePage))
            continue;

        info.uniqueId = HidAccess::UniqueIdText (device);
        scanned.push_back (std::move (info));
    }

    return scanned;
}

void HidDevices::RemoveVanished (const std::vector<HidDeviceInfo>& scanned)
{
    std::vector<int> vanished;

    // Only this thread writes the map, so it is read here without the lock.
    for (const auto& [key, info] : deviceInfos)
    {
        const bool stillThere =
            std::any_of (scanned.begin(), scanned.end(),
                         [&info = info] (const HidDeviceInfo& s) { return s.uniqueId == info.uniqueId; });

        if (!stillThere)
            vanished.push_back (key);
    }

    for (const int key : vanished)
    {
        {
            const std::lock_guard<std::mutex> lock (devicesMutex);
            deviceInfos.erase (key);
        }

        DeviceDisconnected (key);
    }
}

void HidDevices::AddArrivals (std::vector<HidDeviceInfo>& scanned)
{
    for (auto& entry : scanned)
    {
        if (IsStored (entry.uniqueId))
            continue;

        int key = 0;

        {
            const std::lock_guard<std::mutex> lock (devicesMutex);

            if (const auto* row = FindSupportedDevice (entry.vendorId, entry.productId))
                entry.productName = row->name;

            {
                HidDevice probe;
                probe.Attach (hidManager->manager, entry.uniqueId);
                probe.Open();

                entry.serialNumber = probe.serialNumber;
                entry.firmwareMajor = probe.firmwareMajor;
                entry.firmwareMinor = probe.firmwareMinor;
                entry.firmwarePatch = probe.firmwarePatch;
            }

            key = MakeDeviceKey (entry.vendorId, entry.productId, entry.serialNumber);
            deviceInfos[key] = entry;
        }

        DeviceConnected (key);
    }
}

bool HidDevices::IsStored (const juce::String& uniqueId) const
{
    return std::any_of (deviceInfos.begin(), deviceInfos.end(),
                        [&uniqueId] (const auto& stored) { return stored.second.uniqueId == uniqueId; });
}

std::optional<HidDeviceInfo> HidDevices::GetDeviceInfo (int key)
{
    const std::lock_guard<std::mutex> lock (devicesMutex);
    const auto found = deviceInfos.find (key);

    if (found == deviceInfos.end())
        return std::nullopt;

    return found->second;
}

std::vector<int> HidDevices::GetDeviceKeys() const
{
    std::vector<int> keys;
    keys.reserve (deviceInfos.size());

    for (const auto& stored : deviceInfos)
        keys.push_back (stored.first);

    return keys;
}

int HidDevices::MakeDeviceKey (std::uint16_t vendorId, std::uint16_t productId, const juce::String& serialNumber)
{
    const auto text = juce::String (vendorId) + "#" + juce::String (productId) + "#" + serialNumber;
    const auto hash = DeviceKeyHash::Hash (text.toRawUTF8(), text.getNumBytesAsUTF8());
    return static_cast<int> (static_cast<std::uint32_t> (hash));
}

const SupportedDevice* HidDevices::FindSupportedDevice (std::uint16_t vendorId, std::uint16_t productId)
{
    for (const auto& row : SupportedDevices)
    {
        if (row.vendorId != vendorId)
            continue;

        // 0xFFFF in altProductId means "no second ID", never a product ID to match.
        const bool altMatches = row.altProductId != SupportedDevice::kNoAltProductId && row.altProductId == productId;

        if (row.productId == productId || altMatches)
            return &row;
    }

    return nullptr;
}

bool HidDevices::IsAcceptedInterface (std::uint16_t productId, std::uint16_t usagePage)
{
    if (usagePage == kVendorUsagePage)
        return true;

    return usagePage == kMixerAltUsagePage && (productId == kVelmarFirstProductId || productId == kTeskFirstProductId);
}
