#pragma once

#include "platform/audiodevice/HalAudioStream.h"

#include <CoreAudio/CoreAudio.h>

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>

/** One device of the "CoreAudio" device type: the input side of one HAL
    device and the output side of another (usually the same one).

    The device manager that created it owns it and calls it on the message
    thread. Each channel of the device belongs to the device itself or, for an
    aggregate, to one of its active sub-devices; fed input and captured output
    are kept per such (sub-)device channel. */
class HalAudioIODevice : public juce::AudioIODevice
{
public:
    HalAudioIODevice (const juce::String& name, AudioObjectID inputDevice, AudioObjectID outputDevice);
    ~HalAudioIODevice() override;

    AudioObjectID GetInputDeviceId() const { return inputDevice; }
    AudioObjectID GetOutputDeviceId() const { return outputDevice; }

    juce::StringArray getOutputChannelNames() override;
    juce::StringArray getInputChannelNames() override;
    juce::Array<double> getAvailableSampleRates() override;
    juce::Array<int> getAvailableBufferSizes() override;
    int getDefaultBufferSize() override;

    juce::String open (const juce::BigInteger& inputChannels, const juce::BigInteger& outputChannels, double sampleRate,
                       int bufferSizeSamples) override;
    void close() override;
    bool isOpen() override;
    void start (juce::AudioIODeviceCallback* callback) override;
    void stop() override;
    bool isPlaying() override;
    juce::String getLastError() override;

    int getCurrentBufferSizeSamples() override;
    double getCurrentSampleRate() override;
    int getCurrentBitDepth() override;
    juce::BigInteger getActiveOutputChannels() const override;
    juce::BigInteger getActiveInputChannels() const override;
    int getOutputLatencyInSamples() override;
    int getInputLatencyInSamples() override;

private:
    const AudioObjectID inputDevice;
    const AudioObjectID outputDevice;

    bool playing = false;
    juce::String lastError;
    double currentSampleRate = 0.0;
    int currentBufferSize = 0;
    juce::BigInteger activeInputs;
    juce::BigInteger activeOutputs;
    std::shared_ptr<HalAudioStream> stream; // set while the device is open

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HalAudioIODevice)
};
