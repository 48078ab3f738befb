#include "platform/audiodevice/HalAudioStream.h"

#include <algorithm>
#include <chrono>

HalAudioStream::HalAudioStream (sim::detail::ChannelStores inputs, sim::detail::ChannelStores outputs, int blockSize,
                                double rate)
    : bufferSize (blockSize),
      sampleRate (rate),
      inputStores (std::move (inputs)),
      outputStores (std::move (outputs)),
      inputBuffer ((int) inputStores.size(), blockSize),
      outputBuffer ((int) outputStores.size(), blockSize)
{
}

HalAudioStream::~HalAudioStream()
{
    Stop();
}

void HalAudioStream::Start (juce::AudioIODeviceCallback* newCallback)
{
    {
        std::lock_guard lock (blockMutex);
        callback = newCallback;
    }

    if (sim::detail::CurrentAudioClock() == sim::AudioClock::Manual)
    {
        onManualClock = true;
        sim::detail::AddManualBlockSource (shared_from_this());
        return;
    }

    {
        std::lock_guard lock (threadMutex);
        quitThread = false;
    }
    audioThread = std::thread ([this] { AudioThreadLoop(); });
}

juce::AudioIODeviceCallback* HalAudioStream::Stop()
{
    if (onManualClock)
    {
        sim::detail::RemoveManualBlockSource (this);
        onManualClock = false;
    }
    if (audioThread.joinable())
    {
        {
            std::lock_guard lock (threadMutex);
            quitThread = true;
        }
        threadWake.notify_all();
        audioThread.join();
    }

    // A RunAudioBlocks that took this stream before it was removed may still be
    // inside a block; taking the lock waits for it, and the null callback ends its run.
    std::lock_guard lock (blockMutex);
    return std::exchange (callback, nullptr);
}

void HalAudioStream::RunManualBlock()
{
    std::lock_guard lock (blockMutex);
    RunBlockLocked();
}

void HalAudioStream::RunBlockLocked()
{
    if (callback == nullptr)
        return;

    auto* const* inputs = inputBuffer.getArrayOfWritePointers();
    auto* const* outputs = outputBuffer.getArrayOfWritePointers();

    sim::detail::ReadInputBlock (inputStores, inputs, bufferSize);
    const auto prefill = sim::detail::OutputPrefill();
    for (int channel = 0; channel < outputBuffer.getNumChannels(); ++channel)
        std::fill (outputs[channel], outputs[channel] + bufferSize, prefill);

    callback->audioDeviceIOCallbackWithContext (inputs, inputBuffer.getNumChannels(), outputs,
                                                outputBuffer.getNumChannels(), bufferSize, {});

    sim::detail::WriteOutputBlock (outputStores, outputs, bufferSize);
    sim::detail::CountAudioBlock();
}

void HalAudioStream::AudioThreadLoop()
{
    using Clock = std::chrono::steady_clock;
    const auto period =
        std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> ((double) bufferSize / sampleRate));
    auto next = Clock::now();

    for (;;)
    {
        {
            std::lock_guard lock (blockMutex);
            RunBlockLocked();
        }

        // Like hardware, keep to the block rate; after a long stall start afresh rather than catch up.
        next += period;
        if (Clock::now() > next + 4 * period)
            next = Clock::now();

        std::unique_lock lock (threadMutex);
        if (threadWake.wait_until (lock, next, [this] { return quitThread; }))
            return;
    }
}
