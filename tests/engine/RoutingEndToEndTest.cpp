#include "EngineTestSupport.h"
#include "engine/EngineConstants.h"

namespace
{

using namespace enginetest;

constexpr float kSentinel = -42.5f;
constexpr int kNumSamples = 128 * 4;

/** A signal that tells every (virtual device, channel) pair apart, sample by sample. */
std::vector<float> SignalOf (int virtualDevice, int channel)
{
    std::vector<float> samples;
    for (int i = 0; i < kNumSamples; ++i)
        samples.push_back (static_cast<float> (virtualDevice * 1000 + channel * 500 + i % 400) / 4096.0f);
    return samples;
}

std::vector<float> Constant (float value)
{
    return std::vector<float> (kNumSamples, value);
}

/** Audio flows from the virtual driver's devices through the simulated
    aggregate and the "CoreAudio" device type to the mixer's USB audio device;
    device 3 may be missing, which leaves its two outputs silent. */
TEST (RoutingEndToEndTest, VirtualDevicesOneToFiveReachTheFirstTenMixerOutputsAndNothingElse)
{
    for (const bool device3Missing : { false, true })
    {
        SCOPED_TRACE (device3Missing ? "virtual device 3 missing" : "all devices present");
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);
        sim::SetOutputPrefill (kSentinel);
        const auto virtualIds = sim::InstallVirtualDriver();
        const auto mixer = Plug (114, "QV2400117");
        if (device3Missing)
            sim::RemoveAudioDevice (virtualIds[2]);

        auto engine = std::make_unique<VirtualChannelsEngine>();
        ASSERT_EQ (engine->CreateAggregateDevice (kMultitrackDeviceNames[0], 1), 0);
        for (int c = 0; c < 12; ++c)
            sim::TakeOutput (mixer.audio, c);
        for (int d = 1; d <= 5; ++d)
            for (int ch = 0; ch < 2; ++ch)
                sim::FeedInput (virtualIds[size_t (d - 1)], ch, SignalOf (d, ch));

        sim::RunAudioBlocks (kNumSamples / 128);

        for (int c = 0; c < 10; ++c)
            EXPECT_EQ (sim::TakeOutput (mixer.audio, c),
                       device3Missing && c / 2 == 2 ? Constant (0.0f) : SignalOf (c / 2 + 1, c % 2))
                << "mixer output " << c;
        for (int c : { 10, 11 })
            EXPECT_EQ (sim::TakeOutput (mixer.audio, c), Constant (kSentinel)) << "mixer output " << c;
        for (int d = 6; d <= 10; ++d)
            EXPECT_EQ (sim::TakeOutput (virtualIds[size_t (d - 1)], 0), Constant (kSentinel)) << "virtual " << d;

        engine.reset();
    }
    sim::Reset();
}

} // namespace
