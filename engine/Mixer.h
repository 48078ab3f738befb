#pragma once

#include <vector>

#include <juce_audio_basics/juce_audio_basics.h>

struct AggregateState;

/**
    The routing's two work buffers: a silent source for every input slot
    without a route, and a discard destination for every output slot without
    one.

    The engine owns the mixer. It is resized on the message thread (from the
    stream-status holder's buffer-size signal, while no block can run) and
    read by the audio callback on the audio thread.
*/
class Mixer
{
public:
    /** The kinds of route, used as the key of AggregateState::routes. */
    enum RouteKind : int
    {
        VirtualDevice1 = 0,
        VirtualDevice2 = 1,
        VirtualDevice3 = 2,
        VirtualDevice4 = 3,
        VirtualDevice5 = 4,
        MixerOutputs = 5,
    };

    /** Channel indices of the aggregate device, as the audio callback's channel arrays number them. */
    struct Route
    {
        std::vector<int> inputChannels;
        std::vector<int> outputChannels;
    };

    /** The record is the engine's and outlives the mixer. */
    explicit Mixer (AggregateState* aggregateState);

    Mixer (const Mixer&) = delete;
    Mixer& operator= (const Mixer&) = delete;

    /** Sizes both buffers to this many samples, or releases them for 0. Message thread. */
    void SetBufferSize (unsigned long numSamples);

    /** Two channels of silence; channel 0 is every unrouted source. */
    juce::AudioBuffer<float> silenceBuffer;

    /** Ten channels that take every unrouted destination; never read. */
    juce::AudioBuffer<float> discardBuffer;

    /** The record whose routes the block copy follows; the audio callback
        reads them through its own pointer to the same record. */
    AggregateState* aggregate;
};
