#pragma once

#include <array>

#include <juce_audio_devices/juce_audio_devices.h>

struct AggregateState;
struct DeviceStatus;
class Mixer;

/**
    The device callback that the engine registers for the aggregate device.

    audioDeviceAboutToStart (message thread, while no block can run) derives
    the routes of virtual devices 1 to 5 and of the mixer's USB audio device
    from the aggregate's sub-device lists and publishes the stream details.
    Each block (audio thread) then copies the ten routed input channels onto
    the ten routed mixer outputs, without allocating, locking or signalling.

    Owns nothing: the stream-status holder, the mixer and the record are the
    engine's and outlive this object.
*/
class VirtualChanAudioCallback : public juce::AudioIODeviceCallback
{
public:
    VirtualChanAudioCallback (DeviceStatus* status, Mixer* workBuffers, AggregateState* aggregateState);
    ~VirtualChanAudioCallback() override = default;

    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels, int numSamples,
                                           const juce::AudioIODeviceCallbackContext& context) override;

    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;

    /** Nothing to do: routes, buffers and stream details stay until the next start. */
    void audioDeviceStopped() override {}

    DeviceStatus* deviceStatus;
    Mixer* mixer;
    AggregateState* aggregate;

private:
    /** Derives the blocks' channel table from the record's routes, right where
        audioDeviceAboutToStart has rebuilt them, so the table is always that of the routes in force. */
    void CompileRoutes();

    static constexpr int kNumSlots = 10;
    static constexpr int kNoChannel = -1;

    // The routes flattened for the audio thread: the aggregate's channel index
    // for each source and destination slot, or kNoChannel for the default.
    // The routes change only while no block runs, so walking them once per
    // start instead of once per block gives the same copies.
    std::array<int, kNumSlots> sourceChannels;
    std::array<int, kNumSlots> destinationChannels;

    JUCE_DECLARE_NON_COPYABLE (VirtualChanAudioCallback)
};
