#include "engine/VirtualChanAudioCallback.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/AggregateState.h"
#include "engine/AudioSystemUtils.h"
#include "engine/DeviceStatus.h"
#include "engine/EngineConstants.h"
#include "engine/Mixer.h"

namespace
{

constexpr int kChannelsPerVirtualDevice = 2;
constexpr int kNumRoutedVirtualDevices = 5;

} // namespace

VirtualChanAudioCallback::VirtualChanAudioCallback (DeviceStatus* status, Mixer* workBuffers,
                                                    AggregateState* aggregateState)
    : deviceStatus (status),
      mixer (workBuffers),
      aggregate (aggregateState)
{
    sourceChannels.fill (kNoChannel);
    destinationChannels.fill (kNoChannel);
}

void VirtualChanAudioCallback::CompileRoutes()
{
    sourceChannels.fill (kNoChannel);
    destinationChannels.fill (kNoChannel);

    for (const auto& [kind, route] : aggregate->routes)
    {
        if (kind >= Mixer::VirtualDevice1 && kind <= Mixer::VirtualDevice5)
        {
            const auto count = std::min<size_t> (route.inputChannels.size(), kChannelsPerVirtualDevice);

            for (size_t j = 0; j < count; ++j)
                sourceChannels[static_cast<size_t> (kind * kChannelsPerVirtualDevice) + j] = route.inputChannels[j];
        }
        else if (kind == Mixer::MixerOutputs)
        {
            const auto count = std::min<size_t> (route.outputChannels.size(), kNumSlots);

            for (size_t j = 0; j < count; ++j)
                destinationChannels[j] = route.outputChannels[j];
        }
    }
}

void VirtualChanAudioCallback::audioDeviceIOCallbackWithContext (const float* const* inputChannelData,
                                                                 int numInputChannels, float* const* outputChannelData,
                                                                 int numOutputChannels, int numSamples,
                                                                 const juce::AudioIODeviceCallbackContext&)
{
    // The work buffers stand in for unrouted slots, so a block longer than
    // them could not be copied whole: such a block copies nothing.
    if (numSamples <= 0 || numSamples > mixer->silenceBuffer.getNumSamples() ||
        numSamples > mixer->discardBuffer.getNumSamples())
        return;

    // A channel index the block does not have (or a missing channel array)
    // leaves its slot at the default: a source reads silence, a destination
    // goes to the discard buffer. So does a null destination.
    const auto inputs = inputChannelData != nullptr ? static_cast<unsigned> (std::max (numInputChannels, 0)) : 0u;
    const auto outputs = outputChannelData != nullptr ? static_cast<unsigned> (std::max (numOutputChannels, 0)) : 0u;

    const float* silence = mixer->silenceBuffer.getReadPointer (0);
    const float* sources[kNumSlots];

    for (size_t c = 0; c < kNumSlots; ++c)
    {
        const auto in = static_cast<unsigned> (sourceChannels[c]);
        sources[c] = in < inputs ? inputChannelData[in] : silence;

        // All ten channels or none: a missing input skips the whole block.
        if (sources[c] == nullptr)
            return;
    }

    float* const* discard = mixer->discardBuffer.getArrayOfWritePointers();
    const auto numBytes = static_cast<size_t> (numSamples) * sizeof (float);

    for (size_t c = 0; c < kNumSlots; ++c)
    {
        const auto out = static_cast<unsigned> (destinationChannels[c]);
        float* destination = out < outputs ? outputChannelData[out] : nullptr;
        std::memcpy (destination != nullptr ? destination : discard[c], sources[c], numBytes);
    }
}

void VirtualChanAudioCallback::audioDeviceAboutToStart (juce::AudioIODevice* device)
{
    aggregate->routes.clear();

    const auto full = AudioSystemUtils::GetSubDeviceUids (aggregate->deviceId);
    const auto active = AudioSystemUtils::GetActiveSubDeviceUids (aggregate->deviceId);

    // Input offsets count only virtual devices 1 to 5, two channels each, in
    // the order they are active. Output offsets count only non-virtual
    // sub-devices, ten channels each, and the mixer's outputs sit ten
    // channels above its own offset, behind the virtual devices' ten.
    int in = 0;
    int out = 0;

    for (const auto& uid : active)
    {
        if (std::find (full.begin(), full.end(), uid) == full.end())
            continue;

        if (uid.contains (kVirtualDeviceUidPrefix))
        {
            for (int k = 0; k < kNumRoutedVirtualDevices; ++k)
            {
                if (uid == kVirtualDeviceUids[k])
                {
                    aggregate->AddRoute (Mixer::VirtualDevice1 + k, in, out, kChannelsPerVirtualDevice, 0);
                    in += kChannelsPerVirtualDevice;
                    break;
                }
            }
        }
        else if (aggregate->hardwareUid.isNotEmpty() && uid.contains (aggregate->hardwareUid))
        {
            aggregate->AddRoute (Mixer::MixerOutputs, in, out + 10, 0, kNumSlots);
            out += 20;
        }
        else
        {
            out += 10;
        }
    }

    CompileRoutes();

    // Publishing the buffer size resizes the mixer's work buffers before the
    // latencies go out.
    deviceStatus->sampleRate.Set (device->getCurrentSampleRate());
    deviceStatus->numInputChannels.Set (
        static_cast<std::uint64_t> (device->getActiveInputChannels().countNumberOfSetBits()));
    deviceStatus->numOutputChannels.Set (
        static_cast<std::uint64_t> (device->getActiveOutputChannels().countNumberOfSetBits()));
    deviceStatus->bufferSize.Set (static_cast<std::uint64_t> (device->getCurrentBufferSizeSamples()));
    deviceStatus->inputLatency.Set (static_cast<std::uint64_t> (device->getInputLatencyInSamples()));
    deviceStatus->outputLatency.Set (static_cast<std::uint64_t> (device->getOutputLatencyInSamples()));
}
