// The engine's reactions to mixers coming and going, and to "Bypass".

#include "engine/VirtualChannelsEngine.h"

#include <algorithm>

#include "devices/HidDevices.h"
#include "engine/EngineConstants.h"

namespace
{

// Product IDs 114 + bit: 114, 115, 120 and 121. The older models' product IDs,
// and 116 to 119, never get an aggregate.
constexpr unsigned kAcceptedProductMask = 0xC3;

constexpr double kMultitrackWaitMs = 5000.0;

/** Polls CoreAudio without pausing until a mixer's USB audio device shows, of
    either model; false once the time is up. Always asks at least once. */
bool WaitForMultitrackDevice()
{
    const double deadline = juce::Time::getMillisecondCounterHiRes() + kMultitrackWaitMs;

    while (juce::Time::getMillisecondCounterHiRes() < deadline)
    {
        const auto names = AudioSystemUtils::GetOutputDeviceNames();

        if (std::any_of (names.begin(), names.end(),
                         [] (const juce::String& name)
                         { return name == kVelmarMultitrackName || name == kTeskMultitrackName; }))
            return true;
    }

    return false;
}

} // namespace

bool VirtualChannelsEngine::IsAcceptedProduct (int productId)
{
    const int bit = productId - kFirstMultitrackProductId;
    return bit >= 0 && bit < 8 && ((kAcceptedProductMask >> bit) & 1u) != 0;
}

void VirtualChannelsEngine::OnDeviceConnected (int key)
{
    if (key == -1)
        return;

    // A copy: the detection's lock is not held across the wait or the build.
    const auto info = hidDevices->GetDeviceInfo (key);

    if (!info.has_value() || !IsAcceptedProduct (info->productId))
        return;

    if (!WaitForMultitrackDevice())
        return;

    // One aggregate at a time; a second mixer leaves the menu on the first.
    if (aggregate.deviceId != 0)
        return;

    // A failed build is not reported: the texts are shown all the same.
    CreateAggregateDevice (kMultitrackDeviceNames[info->productId - kFirstMultitrackProductId], key);

    const auto displayName = info->productName + " (" + info->serialNumber + ")";
    const auto firmwareText = juce::String::formatted ("%d.%d.%d", static_cast<unsigned> (info->firmwareMajor),
                                                       static_cast<unsigned> (info->firmwareMinor),
                                                       static_cast<unsigned> (info->firmwarePatch));

    PostTask (
        [this, displayName, firmwareText]
        {
            deviceName.Set (displayName);
            firmwareVersion.Set (firmwareText);
        });
}

void VirtualChannelsEngine::OnDeviceDisconnected (int key)
{
    if (key == -1)
        return;

    if (aggregate.deviceId != 0 && aggregate.hidDeviceId == key)
    {
        // In this order: no block may run while the routes are cleared.
        deviceManager.removeAudioCallback (audioCallback.get());
        deviceManager.closeAudioDevice();

        AudioHardwareDestroyAggregateDevice (aggregate.deviceId);
        aggregate = AggregateState();

        // The default devices stay on virtual device 1 until the engine ends.
        PostTask (
            [this]
            {
                deviceName.Set (juce::String());
                firmwareVersion.Set (juce::String());
            });
    }

    // Offer the lowest-keyed unit that remains: if the aggregate just went, it
    // may be a mixer that was waiting its turn. Only that one is offered.
    const auto keys = hidDevices->GetDeviceKeys();

    if (keys.empty())
        return;

    hidDevices->DeviceConnected (*std::min_element (keys.begin(), keys.end()));
}

void VirtualChannelsEngine::OnProcessingEnabled (bool enabled)
{
    if (audioCallback == nullptr)
        return;

    deviceManager.removeAudioCallback (audioCallback.get());

    // With a device open, adding it calls audioDeviceAboutToStart, which
    // rebuilds the routes and the stream status.
    if (enabled)
        deviceManager.addAudioCallback (audioCallback.get());
}

void VirtualChannelsEngine::PostTask (std::function<void()> task)
{
    juce::MessageManager::callAsync (
        [token = std::weak_ptr<bool> (taskToken), task = std::move (task)]
        {
            if (!token.expired())
                task();
        });
}
