#pragma once

#include <CoreAudio/CoreAudio.h>

#include <juce_audio_devices/juce_audio_devices.h>

#include <vector>

/** The "CoreAudio" device type over the audio hardware layer: lists the HAL's
    devices by name, inputs and outputs separately, and opens them as
    HalAudioIODevice.

    The list is live: every query reads the HAL afresh, so a device that shows
    up after the device manager's first scan can still be opened by name. When
    the list changes, the type tells its listeners on the message thread, as
    the HAL's own device-list notification would; a timer looks for changes
    that nobody asked about. Created, used and destroyed on the message thread
    (the device manager owns it). */
class HalAudioIODeviceType : public juce::AudioIODeviceType, private juce::Timer, private juce::AsyncUpdater
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
    struct Entry
    {
        AudioObjectID id = 0;
        juce::String name;
        int numInputs = 0;
        int numOutputs = 0;

        bool Has (bool inputs) const { return (inputs ? numInputs : numOutputs) > 0; }

        bool operator== (const Entry& other) const
        {
            return id == other.id && name == other.name && numInputs == other.numInputs &&
                   numOutputs == other.numOutputs;
        }
    };

    /** Reads the HAL's device list and, when it differs from the last one, schedules the listeners' call. */
    std::vector<Entry> Refresh() const;

    /** The device's index among the listed devices with inputs (or outputs), or -1. */
    int IndexOf (AudioObjectID device, bool input) const;

    void timerCallback() override;
    void handleAsyncUpdate() override;

    mutable std::vector<Entry> lastList;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HalAudioIODeviceType)
};
