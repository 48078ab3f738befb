#include "engine/VirtualChannelsEngine.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "devices/CFRef.h"
#include "devices/HidDevices.h"
#include "engine/EngineConstants.h"
#include "platform/seam/PlatformSeam.h"

namespace
{

/** A candidate for the mixer's USB audio device. */
struct OutputDeviceInfo
{
    juce::String name;
    juce::String uid;
    int numOutputChannels = 0;
};

void AddString (CFMutableDictionaryRef dictionary, CFStringRef key, const juce::String& text)
{
    const auto value = CFRef<CFStringRef>::Adopt (PlatformSeam::CreateCFString (text));

    if (value)
        CFDictionaryAddValue (dictionary, key, value.Get());
}

void AddSInt32 (CFMutableDictionaryRef dictionary, CFStringRef key, std::int32_t number)
{
    const auto value = CFRef<CFNumberRef>::Adopt (CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt32Type, &number));

    if (value)
        CFDictionaryAddValue (dictionary, key, value.Get());
}

CFRef<CFMutableDictionaryRef> CreateMutableDictionary()
{
    return CFRef<CFMutableDictionaryRef>::Adopt (CFDictionaryCreateMutable (
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

/** Whether any of these devices belongs to the virtual driver: its UID holds the prefix anywhere. */
bool HasVirtualDriverDevice (const std::vector<AudioObjectID>& deviceIds)
{
    return std::any_of (deviceIds.begin(), deviceIds.end(),
                        [] (AudioObjectID device)
                        { return AudioSystemUtils::GetDeviceUid (device).contains (kVirtualDeviceUidPrefix); });
}

/** The last UID that carries both parts of the master pattern, or "". */
juce::String FindMasterUid (const std::vector<juce::String>& uids)
{
    juce::String master;

    for (const auto& uid : uids)
        if (uid.contains (kMasterDeviceUidPattern[0]) && uid.contains (kMasterDeviceUidPattern[1]))
            master = uid;

    return master;
}

/** The HAL's description of the aggregate. */
CFRef<CFMutableDictionaryRef> CreateDescription (const AggregateState& aggregate)
{
    auto description = CreateMutableDictionary();
    AddString (description.Get(), CFSTR (kAudioAggregateDeviceNameKey), aggregate.name);
    AddString (description.Get(), CFSTR (kAudioAggregateDeviceUIDKey), kAggregateDeviceUid);

    const auto subDevices =
        CFRef<CFMutableArrayRef>::Adopt (CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));

    for (const auto& uid : aggregate.subDeviceUids)
    {
        const auto subDevice = CreateMutableDictionary();
        AddString (subDevice.Get(), CFSTR (kAudioSubDeviceUIDKey), uid);
        AddSInt32 (subDevice.Get(), CFSTR (kAudioSubDeviceDriftCompensationKey), 1);
        AddSInt32 (subDevice.Get(), CFSTR (kAudioSubDeviceDriftCompensationQualityKey), 64);
        CFArrayAppendValue (subDevices.Get(), subDevice.Get());
    }

    CFDictionaryAddValue (description.Get(), CFSTR (kAudioAggregateDeviceSubDeviceListKey), subDevices.Get());
    AddString (description.Get(), CFSTR (kAudioAggregateDeviceMasterSubDeviceKey),
               FindMasterUid (aggregate.subDeviceUids));
    AddSInt32 (description.Get(), CFSTR (kAudioAggregateDeviceIsPrivateKey), 1);
    return description;
}

bool IsListed (AudioObjectID device)
{
    const auto ids = AudioSystemUtils::GetDeviceIds();
    return std::find (ids.begin(), ids.end(), device) != ids.end();
}

} // namespace

VirtualChannelsEngine::VirtualChannelsEngine()
    : deviceName (juce::String()),
      firmwareVersion (juce::String()),
      latency (AudioSystemUtils::Latency::Low),
      processingEnabled (true)
{
    // Before the first query: the waits below poll the HAL on the message
    // thread, which would never see a new device while the HAL told this
    // process of it on that same, busy, thread.
    AudioSystemUtils::DetachNotificationsFromMainRunLoop();

    deviceStatus = std::make_unique<DeviceStatus>();

    // Where JUCE has no "CoreAudio" device type of its own, the platform lends one.
    PlatformSeam::PrepareAudioDeviceManager (deviceManager);

    mixer = std::make_unique<Mixer> (&aggregate);
    bufferSizeConnection = deviceStatus->bufferSize.Changed.connect (&Mixer::SetBufferSize, mixer.get());
    mixer->SetBufferSize (deviceStatus->bufferSize.value);

    audioCallback = std::make_unique<VirtualChanAudioCallback> (deviceStatus.get(), mixer.get(), &aggregate);

    // The HID thread starts here even if the engine stays inert below.
    hidDevices = std::make_unique<HidDevices>();

    // Taken before this run changes anything, so that the destructor can put them back.
    savedDefaultInputDevice = AudioSystemUtils::GetDefaultInputDevice();
    savedDefaultOutputDevice = AudioSystemUtils::GetDefaultOutputDevice();

    const auto deviceIds = AudioSystemUtils::GetDeviceIds();
    RemoveStaleAggregates (deviceIds);

    // The driver is looked for once: one installed later is noticed at the next start.
    if (!HasVirtualDriverDevice (deviceIds))
        return;

    deviceDisconnectedConnection =
        hidDevices->DeviceDisconnected.connect (&VirtualChannelsEngine::OnDeviceDisconnected, this);
    deviceConnectedConnection = hidDevices->DeviceConnected.connect (&VirtualChannelsEngine::OnDeviceConnected, this);

    // The first slot of processingEnabled: the routing has changed before the menu hears of it.
    processingEnabledConnection = processingEnabled.Changed.connect (&VirtualChannelsEngine::OnProcessingEnabled, this);

    // Only now, so that the first announcement reaches a complete engine.
    hidDevices->startTimer (250);
}

VirtualChannelsEngine::~VirtualChannelsEngine()
{
    // The audio thread stops entering the callback before the device goes.
    deviceManager.removeAudioCallback (audioCallback.get());
    deviceManager.closeAudioDevice();

    // Always, even when nothing was changed or a saved value is 0.
    AudioSystemUtils::SetDefaultInputDevice (savedDefaultInputDevice);
    AudioSystemUtils::SetDefaultOutputDevice (savedDefaultOutputDevice);

    if (aggregate.deviceId != 0)
        AudioHardwareDestroyAggregateDevice (aggregate.deviceId);

    // Before hidDevices goes, so that nothing it does while shutting down reaches the engine.
    deviceDisconnectedConnection.disconnect();
    deviceConnectedConnection.disconnect();

    // The mixer and the device manager die before the signals that reach them.
    bufferSizeConnection.disconnect();
    processingEnabledConnection.disconnect();
}

void VirtualChannelsEngine::RemoveStaleAggregates (const std::vector<AudioObjectID>& deviceIds)
{
    // An earlier run that did not end cleanly leaves its aggregate behind. It
    // counts only while it still offers outputs; then every device of that name goes.
    const auto outputNames = AudioSystemUtils::GetOutputDeviceNames();

    if (std::find (outputNames.begin(), outputNames.end(), kAggregateDeviceName) == outputNames.end())
        return;

    for (const auto device : deviceIds)
        if (AudioSystemUtils::GetDeviceName (device) == kAggregateDeviceName)
            AudioHardwareDestroyAggregateDevice (device);
}

OSStatus VirtualChannelsEngine::CreateAggregateDevice (const char* multitrackName, int hidDeviceId)
{
    const AudioObjectID previousId = aggregate.deviceId;
    AggregateState built;
    const juce::String multitrack (juce::CharPointer_UTF8 (multitrackName != nullptr ? multitrackName : ""));

    // The virtual driver: as soon as one of its devices is there, all ten go in,
    // two channels each, whichever of them really exist.
    if (HasVirtualDriverDevice (AudioSystemUtils::GetDeviceIds()))
    {
        // Virtual devices 6 to 10 first, then 1 to 5.
        for (int i : { 5, 6, 7, 8, 9, 0, 1, 2, 3, 4 })
            built.subDeviceUids.push_back (kVirtualDeviceUids[i]);

        built.numInputChannels += 10;
        built.numOutputChannels += 10;
    }

    // The mixer's USB audio device, last.
    if (multitrack.isNotEmpty())
    {
        std::vector<OutputDeviceInfo> candidates;

        for (auto device : AudioSystemUtils::GetDeviceIds())
        {
            OutputDeviceInfo info { AudioSystemUtils::GetDeviceName (device), AudioSystemUtils::GetDeviceUid (device),
                                    AudioSystemUtils::GetNumOutputChannels (device) };

            if (info.name.isNotEmpty() && info.numOutputChannels >= 2 &&
                info.numOutputChannels <= kMaxMixerOutputChannels)
                candidates.push_back (std::move (info));
        }

        const auto match = std::find_if (candidates.begin(), candidates.end(),
                                         [&] (const OutputDeviceInfo& info) { return info.name == multitrack; });

        if (match != candidates.end())
        {
            built.hardwareUid = match->uid;

            auto& list = built.subDeviceUids;

            if (std::find (list.begin(), list.end(), match->uid) == list.end())
            {
                list.push_back (match->uid);
                built.numOutputChannels += match->numOutputChannels;
            }
        }
    }

    aggregate = built;
    aggregate.name = kAggregateDeviceName;

    if (aggregate.subDeviceUids.empty())
        return kAudioHardwareNotRunningError;

    auto description = CreateDescription (aggregate);

    if (previousId != 0)
    {
        AudioHardwareDestroyAggregateDevice (previousId);
        aggregate.deviceId = 0;
    }

    const OSStatus status = AudioHardwareCreateAggregateDevice (description.Get(), &aggregate.deviceId);

    // The HAL lists a new aggregate a little later. Running out of time is not
    // an error: the open below simply tries its luck. Polling without a pause
    // keeps the wait as short as the HAL allows.
    const double deadline = juce::Time::getMillisecondCounterHiRes() + kAggregateAppearTimeoutMs;

    while (juce::Time::getMillisecondCounterHiRes() < deadline)
        if (IsListed (aggregate.deviceId))
            break;

    description.Reset();

    if (status != 0)
        return status;

    aggregate.hidDeviceId = hidDeviceId;

    // While "Bypass" is ticked the device opens without routing; re-enabling
    // processing registers the callback.
    if (processingEnabled.value)
        deviceManager.addAudioCallback (audioCallback.get());

    juce::AudioDeviceManager::AudioDeviceSetup setup;
    setup.outputDeviceName = aggregate.name;
    setup.inputDeviceName = aggregate.name;
    setup.sampleRate = kAggregateSampleRate;
    setup.bufferSize = static_cast<int> (latency.value);
    setup.inputChannels.clear();
    setup.outputChannels.clear();
    setup.useDefaultInputChannels = true;
    setup.useDefaultOutputChannels = true;

    // The "CoreAudio" type answers from the list of its last scan, which it
    // renews only when the HAL's notification reaches the message loop: later
    // than this. Without a rescan, an aggregate built again after a replug
    // would be "No such device".
    for (auto* type : deviceManager.getAvailableDeviceTypes())
        if (type->getTypeName() == "CoreAudio")
            type->scanForDevices();

    const auto error = deviceManager.initialise (aggregate.numInputChannels, aggregate.numOutputChannels, nullptr, true,
                                                 juce::String(), &setup);

    if (error.isEmpty())
    {
        AudioSystemUtils::SetDefaultInputDevice (AudioSystemUtils::TranslateUidToDevice (kVirtualDeviceUids[0]));
        AudioSystemUtils::SetDefaultOutputDevice (AudioSystemUtils::TranslateUidToDevice (kVirtualDeviceUids[0]));
    }

    return 0;
}
