#pragma once

#include <cmath>

#include "app/AppInfo.h"
#include "tests/support/SimulatedMachineSetup.h"

namespace quortest
{

/** Signal `tag` for mixer output `channel` (0 to 9). Every sample is a multiple of 2^-24 below 1, so it passes float
    copies bit for bit; the low four bits name the channel and the rest count, so no two outputs ever carry the same
    value and no sample is silence. */
inline std::vector<float> SignalOf (int channel, int tag, int length)
{
    std::vector<float> samples;
    for (long i = 0; i < length; ++i)
        samples.push_back (std::ldexp (float (((tag * length + i) % (1L << 20)) * 16 + channel + 1), -24));
    return samples;
}

/** Mixer output c carries channel c % 2 of virtual device c / 2 + 1. */
inline void FeedVirtualDevices (const std::vector<AudioObjectID>& virtualIds, int tag, int length)
{
    for (int c = 0; c < 10; ++c)
        sim::FeedInput (virtualIds[size_t (c / 2)], c % 2, SignalOf (c, tag, length));
}

inline std::vector<MenuRow> StatusMenu (const juce::String& name, const juce::String& firmware, bool bypassed = false)
{
    return { Line (1, name), Line (2, firmware),          Line (3, juce::String ("App Version: ") + AppInfo::kVersion),
             Separator(),    Choice ("Bypass", bypassed), Line (5, "Latency: Low"),
             Separator(),    Choice ("User Guide"),       Choice ("Quit") };
}

} // namespace quortest
