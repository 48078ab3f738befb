#pragma once

#include "platform/sim/AudioInternals.h"
#include "platform/sim/ManualBlockSource.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

/** The running half of an opened HalAudioIODevice: its block buffers, the
    channel stores they are filled from and captured into, and, on the
    real-time clock, the audio thread that drives the blocks.

    Everything a block needs is allocated when the stream is made, so running a
    block allocates nothing. Start and Stop are called on the thread that opens
    the device; blocks run on the audio thread or, on the manual clock, in
    sim::RunAudioBlocks. Owned by the device through a shared pointer, which
    RunAudioBlocks also holds while it runs a block. */
class HalAudioStream : public sim::detail::ManualBlockSource, public std::enable_shared_from_this<HalAudioStream>
{
public:
    HalAudioStream (sim::detail::ChannelStores inputs, sim::detail::ChannelStores outputs, int bufferSize,
                    double sampleRate);
    ~HalAudioStream() override;

    /** Begins delivering blocks to the callback, on the clock the machine has now. */
    void Start (juce::AudioIODeviceCallback* callback);

    /** Stops the blocks; when it returns no block is running or will run. Returns the callback that had them. */
    juce::AudioIODeviceCallback* Stop();

    void RunManualBlock() override;

private:
    void RunBlockLocked();
    void AudioThreadLoop();

    const int bufferSize;
    const double sampleRate;

    const sim::detail::ChannelStores inputStores;
    const sim::detail::ChannelStores outputStores;
    juce::AudioBuffer<float> inputBuffer;
    juce::AudioBuffer<float> outputBuffer;

    std::mutex blockMutex; // held while a block runs, so Stop waits for it
    juce::AudioIODeviceCallback* callback = nullptr;

    std::mutex threadMutex;
    std::condition_variable threadWake;
    bool quitThread = false;
    std::thread audioThread;
    bool onManualClock = false;

    JUCE_DECLARE_NON_COPYABLE (HalAudioStream)
};
