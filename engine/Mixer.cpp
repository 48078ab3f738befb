#include "engine/Mixer.h"

#include <limits>

Mixer::Mixer (AggregateState* aggregateState) : aggregate (aggregateState) {}

void Mixer::SetBufferSize (unsigned long numSamples)
{
    // No real block is longer than an int can count; a size that does not fit
    // is treated like none, so that no block copies anything.
    if (numSamples == 0 || numSamples > static_cast<unsigned long> (std::numeric_limits<int>::max()))
    {
        // Assigning empty buffers is what actually gives the storage back;
        // setSize would keep it.
        silenceBuffer = juce::AudioBuffer<float>();
        discardBuffer = juce::AudioBuffer<float>();
        return;
    }

    const int n = static_cast<int> (numSamples);
    silenceBuffer.setSize (2, n);
    discardBuffer.setSize (10, n);
    silenceBuffer.clear();
}
