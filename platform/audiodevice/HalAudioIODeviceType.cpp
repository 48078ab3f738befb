#include "platform/audiodevice/HalAudioIODeviceType.h"

#include "platform/audiodevice/HalAudioIODevice.h"
#include "platform/seam/PlatformSeam.h"

namespace
{

constexpr int kListPollMs = 200;

AudioObjectPropertyAddress Address (AudioObjectPropertySelector selector,
                                    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal)
{
    return { selector, scope, kAudioObjectPropertyElementMain };
}

std::vector<AudioObjectID> DeviceIds()
{
    const auto address = Address (kAudioHardwarePropertyDevices);
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize (kAudioObjectSystemObject, &address, 0, nullptr, &size) != 0)
        return {};
    std::vector<AudioObjectID> ids (size / sizeof (AudioObjectID));
    size = (UInt32) (ids.size() * sizeof (AudioObjectID));
    if (ids.empty() ||
        AudioObjectGetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, &size, ids.data()) != 0)
        return {};
    ids.resize (size / sizeof (AudioObjectID));
    return ids;
}

juce::String DeviceName (AudioObjectID device)
{
    const auto address = Address (kAudioObjectPropertyName);
    CFStringRef name = nullptr;
    UInt32 size = sizeof (name);
    if (AudioObjectGetPropertyData (device, &address, 0, nullptr, &size, &name) != 0 || name == nullptr)
        return {};
    const auto text = PlatformSeam::StringFromCF (name);
    CFRelease (name);
    return text;
}

int ChannelCount (AudioObjectID device, AudioObjectPropertyScope scope)
{
    const auto address = Address (kAudioDevicePropertyStreamConfiguration, scope);
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize (device, &address, 0, nullptr, &size) != 0 ||
        size < offsetof (AudioBufferList, mBuffers))
        return 0;
    juce::HeapBlock<char> block (size, true);
    if (AudioObjectGetPropertyData (device, &address, 0, nullptr, &size, block.get()) != 0)
        return 0;
    const auto* list = reinterpret_cast<const AudioBufferList*> (block.get());
    const auto fitting = (size - offsetof (AudioBufferList, mBuffers)) / sizeof (AudioBuffer);
    int channels = 0;
    for (UInt32 i = 0; i < list->mNumberBuffers && i < fitting; ++i)
        channels += (int) list->mBuffers[i].mNumberChannels;
    return channels;
}

AudioObjectID DefaultDevice (bool input)
{
    const auto address =
        Address (input ? kAudioHardwarePropertyDefaultInputDevice : kAudioHardwarePropertyDefaultOutputDevice);
    AudioObjectID device = 0;
    UInt32 size = sizeof (device);
    if (AudioObjectGetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, &size, &device) != 0)
        return 0;
    return device;
}

} // namespace

HalAudioIODeviceType::HalAudioIODeviceType() : juce::AudioIODeviceType ("CoreAudio")
{
    startTimer (kListPollMs);
}

HalAudioIODeviceType::~HalAudioIODeviceType()
{
    stopTimer();
    cancelPendingUpdate();
}

std::vector<HalAudioIODeviceType::Entry> HalAudioIODeviceType::Refresh() const
{
    std::vector<Entry> list;
    for (auto id : DeviceIds())
    {
        Entry entry;
        entry.id = id;
        entry.name = DeviceName (id);
        if (entry.name.isEmpty())
            continue;
        entry.numInputs = ChannelCount (id, kAudioObjectPropertyScopeInput);
        entry.numOutputs = ChannelCount (id, kAudioObjectPropertyScopeOutput);
        list.push_back (entry);
    }

    if (list != lastList)
    {
        lastList = list;
        // The listeners (the device manager) may reopen devices, so they hear of
        // the change later on the message thread, never from inside this query.
        const_cast<HalAudioIODeviceType*> (this)->triggerAsyncUpdate();
    }
    return list;
}

void HalAudioIODeviceType::scanForDevices()
{
    Refresh();
}

juce::StringArray HalAudioIODeviceType::getDeviceNames (bool wantInputNames) const
{
    juce::StringArray names;
    for (const auto& entry : Refresh())
        if (entry.Has (wantInputNames))
            names.add (entry.name);
    return names;
}

int HalAudioIODeviceType::getDefaultDeviceIndex (bool forInput) const
{
    return std::max (0, IndexOf (DefaultDevice (forInput), forInput));
}

int HalAudioIODeviceType::getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const
{
    auto* halDevice = dynamic_cast<HalAudioIODevice*> (device);
    if (halDevice == nullptr)
        return -1;
    return IndexOf (asInput ? halDevice->GetInputDeviceId() : halDevice->GetOutputDeviceId(), asInput);
}

int HalAudioIODeviceType::IndexOf (AudioObjectID device, bool input) const
{
    int index = 0;
    for (const auto& entry : Refresh())
    {
        if (!entry.Has (input))
            continue;
        if (entry.id == device)
            return index;
        ++index;
    }
    return -1;
}

bool HalAudioIODeviceType::hasSeparateInputsAndOutputs() const
{
    return true;
}

juce::AudioIODevice* HalAudioIODeviceType::createDevice (const juce::String& outputDeviceName,
                                                         const juce::String& inputDeviceName)
{
    const auto list = Refresh();
    const auto find = [&list] (const juce::String& name, bool input) -> AudioObjectID
    {
        for (const auto& entry : list)
            if (entry.name == name && entry.Has (input))
                return entry.id;
        return kAudioObjectUnknown;
    };

    const AudioObjectID output =
        outputDeviceName.isEmpty() ? (AudioObjectID) kAudioObjectUnknown : find (outputDeviceName, false);
    const AudioObjectID input =
        inputDeviceName.isEmpty() ? (AudioObjectID) kAudioObjectUnknown : find (inputDeviceName, true);
    if ((outputDeviceName.isNotEmpty() && output == kAudioObjectUnknown) ||
        (inputDeviceName.isNotEmpty() && input == kAudioObjectUnknown) ||
        (output == kAudioObjectUnknown && input == kAudioObjectUnknown))
        return nullptr;

    return new HalAudioIODevice (outputDeviceName.isNotEmpty() ? outputDeviceName : inputDeviceName, input, output);
}

void HalAudioIODeviceType::timerCallback()
{
    Refresh();
}

void HalAudioIODeviceType::handleAsyncUpdate()
{
    callDeviceChangeListeners();
}
