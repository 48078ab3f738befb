#pragma once

#include <CoreAudio/CoreAudio.h>

#include <juce_audio_devices/juce_audio_devices.h>

/** The "CoreAudio" device type over the audio hardware layer, keeping its
    lists as JUCE's own does on a Mac: scanForDevices fills the names (and
    ids) of the devices with inputs and of those with outputs, numbering
    duplicate names; every other call answers from those lists. They are
    refreshed only when the HAL tells of a new device list: the listener
    triggers an update that rescans and tells the device manager later, on
    the message thread. So a device created after the last scan cannot be
    opened by name until the type has scanned again.

    Created, used and destroyed on the message thread (the device manager owns it). */
class HalAudioIODeviceType : public juce::AudioIODeviceType, private juce::AsyncUpdater
{
public:
    HalAudioIODeviceType();
    ~HalAudioIODeviceType() override;

    void scanForDevices() override;
    juce::StringArray getDeviceNames (bool wantInputNames = false) const override;
    int getDefaultDeviceIndex (bool forInput) const override;
    int getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const override;
    bool hasSeparateInputsAndOutputs() const override;
    juce::AudioIODevice* createDevice (const juce::String& outputDeviceName,
                                       const juce::String& inputDeviceName) override;

private:
    void handleAsyncUpdate() override;

    static OSStatus DeviceListChanged (AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void* clientData);

    juce::StringArray inputDeviceNames, outputDeviceNames;
    juce::Array<AudioObjectID> inputIds, outputIds;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HalAudioIODeviceType)
};
