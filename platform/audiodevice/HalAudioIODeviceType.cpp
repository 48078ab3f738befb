#include "platform/audiodevice/HalAudioIODeviceType.h"

#include "platform/audiodevice/HalAudioIODevice.h"
#include "platform/seam/PlatformSeam.h"

#include <vector>

namespace
{

const AudioObjectPropertyAddress kDeviceListAddress { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeWildcard,
                                                      kAudioObjectPropertyElementWildcard };

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
    juce::int64 channels = 0;
    for (UInt32 i = 0; i < list->mNumberBuffers && i < fitting; ++i)
        channels += list->mBuffers[i].mNumberChannels;
    return (int) juce::jmin (channels, (juce::int64) std::numeric_limits<int>::max());
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
    AudioObjectAddPropertyListener (kAudioObjectSystemObject, &kDeviceListAddress, DeviceListChanged, this);
}

HalAudioIODeviceType::~HalAudioIODeviceType()
{
    cancelPendingUpdate();
    AudioObjectRemovePropertyListener (kAudioObjectSystemObject, &kDeviceListAddress, DeviceListChanged, this);
}

OSStatus HalAudioIODeviceType::DeviceListChanged (AudioObjectID, UInt32, const AudioObjectPropertyAddress*,
                                                  void* clientData)
{
    // Any thread: the HAL's own, or the message thread's loop.
    static_cast<HalAudioIODeviceType*> (clientData)->triggerAsyncUpdate();
    return 0;
}

void HalAudioIODeviceType::handleAsyncUpdate()
{
    scanForDevices();
    callDeviceChangeListeners();
}

void HalAudioIODeviceType::scanForDevices()
{
    inputDeviceNames.clear();
    outputDeviceNames.clear();
    inputIds.clear();
    outputIds.clear();

    for (const auto id : DeviceIds())
    {
        const auto name = DeviceName (id);
        if (name.isEmpty())
            continue;
        if (ChannelCount (id, kAudioObjectPropertyScopeInput) > 0)
        {
            inputDeviceNames.add (name);
            inputIds.add (id);
        }
        if (ChannelCount (id, kAudioObjectPropertyScopeOutput) > 0)
        {
            outputDeviceNames.add (name);
            outputIds.add (id);
        }
    }

    inputDeviceNames.appendNumbersToDuplicates (false, true);
    outputDeviceNames.appendNumbersToDuplicates (false, true);
}

juce::StringArray HalAudioIODeviceType::getDeviceNames (bool wantInputNames) const
{
    return wantInputNames ? inputDeviceNames : outputDeviceNames;
}

int HalAudioIODeviceType::getDefaultDeviceIndex (bool forInput) const
{
    return juce::jmax (0, (forInput ? inputIds : outputIds).indexOf (DefaultDevice (forInput)));
}

int HalAudioIODeviceType::getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const
{
    auto* halDevice = dynamic_cast<HalAudioIODevice*> (device);
    if (halDevice == nullptr)
        return -1;
    return asInput ? inputIds.indexOf (halDevice->GetInputDeviceId())
                   : outputIds.indexOf (halDevice->GetOutputDeviceId());
}

bool HalAudioIODeviceType::hasSeparateInputsAndOutputs() const
{
    return true;
}

juce::AudioIODevice* HalAudioIODeviceType::createDevice (const juce::String& outputDeviceName,
                                                         const juce::String& inputDeviceName)
{
    // By the names of the last scan, as JUCE's own type does: ids of devices
    // that have gone since then simply fail to open.
    const AudioObjectID input = inputIds[inputDeviceNames.indexOf (inputDeviceName)];
    const AudioObjectID output = outputIds[outputDeviceNames.indexOf (outputDeviceName)];
    if (input == kAudioObjectUnknown && output == kAudioObjectUnknown)
        return nullptr;

    return new HalAudioIODevice (outputDeviceName.isNotEmpty() ? outputDeviceName : inputDeviceName, input, output);
}
