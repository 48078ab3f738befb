#pragma once

// What the whole-program scenario and the soak share: the audio signals they
// feed and the check that a signal arrived intact.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/SimulatedMachineSetup.h"

namespace e2e
{

using namespace quortest;

/** Sample `index` of signal `tag` on mixer output `channel` (0 to 9). Every
    value is a multiple of 2^-24 below 1, so it passes through float copies
    bit for bit; the low four bits name the channel and the rest count, so no
    two channels ever carry the same value and no sample is silence. */
inline float SampleOf (int channel, int tag, int index, int length)
{
    const long step = (static_cast<long> (tag) * length + index) % (1L << 20);
    return std::ldexp (static_cast<float> (step * 16 + channel + 1), -24);
}

inline std::vector<float> SignalOf (int channel, int tag, int length)
{
    std::vector<float> samples (static_cast<size_t> (length));

    for (int i = 0; i < length; ++i)
        samples[static_cast<size_t> (i)] = SampleOf (channel, tag, i, length);

    return samples;
}

/** Mixer output c carries channel c % 2 of virtual device c / 2 + 1. */
inline void FeedVirtualDevices (const std::vector<AudioObjectID>& virtualIds, int tag, int length)
{
    for (int c = 0; c < 10; ++c)
        sim::FeedInput (virtualIds[static_cast<size_t> (c / 2)], c % 2, SignalOf (c, tag, length));
}

enum class Arrival
{
    NotYet,  // the signal's first sample has not been seen, or the rest is still coming
    Intact,  // the whole signal is there, sample for sample, in order
    Damaged, // it started, but what follows differs
};

/** Looks for `signal` in what one output captured. */
inline Arrival FindSignal (const std::vector<float>& captured, const std::vector<float>& signal, std::string* why)
{
    const auto start = std::find (captured.begin(), captured.end(), signal.front());

    if (start == captured.end())
        return Arrival::NotYet;

    const auto available = static_cast<size_t> (captured.end() - start);

    for (size_t i = 0; i < std::min (available, signal.size()); ++i)
    {
        if (start[static_cast<std::ptrdiff_t> (i)] != signal[i])
        {
            if (why != nullptr)
            {
                std::ostringstream text;
                text << "sample " << i << " of " << signal.size() << " is " << start[static_cast<std::ptrdiff_t> (i)]
                     << " instead of " << signal[i];
                *why = text.str();
            }

            return Arrival::Damaged;
        }
    }

    return available >= signal.size() ? Arrival::Intact : Arrival::NotYet;
}

/** Collects a device's output channels while the device runs on its own
    thread; the machine keeps only the last few seconds, so it must be polled. */
class OutputRecorder
{
public:
    OutputRecorder (AudioObjectID deviceToRecord, int numChannels)
        : device (deviceToRecord),
          captured (static_cast<size_t> (numChannels))
    {
    }

    void Poll()
    {
        for (size_t c = 0; c < captured.size(); ++c)
        {
            const auto samples = sim::TakeOutput (device, static_cast<int> (c));
            captured[c].insert (captured[c].end(), samples.begin(), samples.end());
        }
    }

    /** Forgets what was collected and what the device holds. */
    void Clear()
    {
        Poll();

        for (auto& samples : captured)
            samples.clear();
    }

    const std::vector<float>& Channel (int c) const { return captured[static_cast<size_t> (c)]; }

private:
    AudioObjectID device;
    std::vector<std::vector<float>> captured;
};

/** Pumps the message loop, recording, until signal `tag` has arrived intact on
    the first ten outputs, or has arrived damaged, or the deadline passes. An
    empty result means it arrived intact. */
inline std::string AwaitSignal (OutputRecorder& recorder, int tag, int length, double timeoutMs = 30000.0)
{
    std::vector<std::vector<float>> signals;

    for (int c = 0; c < 10; ++c)
        signals.push_back (SignalOf (c, tag, length));

    std::string failure = "the signal did not arrive on every output in time";

    quortest::PumpUntil (
        [&]
        {
            recorder.Poll();
            int intact = 0;

            for (int c = 0; c < 10; ++c)
            {
                std::string why;
                const auto arrival = FindSignal (recorder.Channel (c), signals[static_cast<size_t> (c)], &why);

                if (arrival == Arrival::Damaged)
                {
                    failure = "mixer output " + std::to_string (c) + ": " + why;
                    return true;
                }

                intact += arrival == Arrival::Intact ? 1 : 0;
            }

            if (intact == 10)
                failure.clear();

            return intact == 10;
        },
        timeoutMs);

    return failure;
}

} // namespace e2e
