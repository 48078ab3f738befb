#pragma once

// What the whole-program scenario and the soak share: the signals they feed
// into virtual devices 1 to 5 and the wait for them on a mixer's outputs.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/support/SimulatedMachineSetup.h"

namespace e2e
{

using namespace quortest;

/** Signal `tag` for mixer output `channel` (0 to 9). Every sample is a
    multiple of 2^-24 below 1, so it passes float copies bit for bit; the low
    four bits name the channel and the rest count, so no two outputs ever
    carry the same value and no sample is silence. */
inline std::vector<float> SignalOf (int channel, int tag, int length)
{
    std::vector<float> samples;
    for (long i = 0; i < length; ++i)
        samples.push_back (std::ldexp (static_cast<float> (((tag * length + i) % (1L << 20)) * 16 + channel + 1), -24));
    return samples;
}

/** Mixer output c carries channel c % 2 of virtual device c / 2 + 1. */
inline void FeedVirtualDevices (const std::vector<AudioObjectID>& virtualIds, int tag, int length)
{
    for (int c = 0; c < 10; ++c)
        sim::FeedInput (virtualIds[static_cast<size_t> (c / 2)], c % 2, SignalOf (c, tag, length));
}

/** Pumps the message loop, collecting what the running mixer plays on its
    twelve outputs (the machine keeps only the last few seconds), until signal
    `tag` has come out of outputs 0 to 9 whole and in order; false if it never does. */
inline bool AwaitSignal (AudioObjectID mixer, int tag, int length, std::vector<std::vector<float>>& outputs)
{
    std::vector<std::vector<float>> signals;
    for (int c = 0; c < 10; ++c)
        signals.push_back (SignalOf (c, tag, length));
    outputs.resize (12);
    return PumpUntil (
        [&]
        {
            size_t whole = 0;
            for (size_t c = 0; c < 12; ++c)
            {
                const auto samples = sim::TakeOutput (mixer, int (c));
                auto& out = outputs[c];
                out.insert (out.end(), samples.begin(), samples.end());
                whole +=
                    c < 10 && std::search (out.begin(), out.end(), signals[c].begin(), signals[c].end()) != out.end();
            }
            return whole == 10;
        },
        30000.0);
}

} // namespace e2e
