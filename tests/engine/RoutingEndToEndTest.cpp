#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/EngineConstants.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

constexpr float kSentinel = -42.5f;
constexpr int kBlockSize = 128;
constexpr int kNumBlocks = 4;
constexpr int kNumSamples = kBlockSize * kNumBlocks;

/** A signal that tells every (virtual device, channel) pair apart, sample by sample. */
std::vector<float> SignalOf (int virtualDevice, int channel)
{
    std::vector<float> samples;

    for (int i = 0; i < kNumSamples; ++i)
        samples.push_back (static_cast<float> (virtualDevice * 1000 + channel * 500 + i % 400) / 4096.0f);

    return samples;
}

/** Audio flows from the virtual driver's devices through the simulated aggregate
    and the "CoreAudio" device type to the mixer's USB audio device. */
class RoutingEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);
        sim::SetOutputPrefill (kSentinel);
        virtualIds = sim::InstallVirtualDriver();

        sim::MixerSpec spec;
        spec.audioDelayMs = 0;
        mixer = sim::PlugMixer (spec);
    }

    void TearDown() override
    {
        engine.reset();
        sim::Reset();
    }

    void BuildAndRun()
    {
        engine = std::make_unique<VirtualChannelsEngine>();
        ASSERT_EQ (engine->CreateAggregateDevice (kMultitrackDeviceNames[0], 1), 0);
        ASSERT_NE (engine->deviceManager.getCurrentAudioDevice(), nullptr);
        ASSERT_EQ (engine->deviceManager.getCurrentAudioDevice()->getCurrentBufferSizeSamples(), kBlockSize);

        // Drop whatever ran before the signals were fed.
        for (int c = 0; c < 12; ++c)
            sim::TakeOutput (mixer.audio, c);

        for (int d = 1; d <= 5; ++d)
            for (int ch = 0; ch < 2; ++ch)
                sim::FeedInput (virtualIds[static_cast<size_t> (d - 1)], ch, SignalOf (d, ch));

        sim::RunAudioBlocks (kNumBlocks);
    }

    static std::vector<float> Constant (float value) { return std::vector<float> (kNumSamples, value); }

    std::vector<AudioObjectID> virtualIds;
    sim::Mixer mixer;
    std::unique_ptr<VirtualChannelsEngine> engine;
};

TEST_F (RoutingEndToEndTest, VirtualDevicesOneToFiveReachTheFirstTenMixerOutputs)
{
    BuildAndRun();

    for (int c = 0; c < 10; ++c)
        EXPECT_EQ (sim::TakeOutput (mixer.audio, c), SignalOf (c / 2 + 1, c % 2)) << "mixer output " << c;

    // Nothing else is written: the mixer's last two outputs and the outputs of
    // virtual devices 6 to 10 keep what the device put there.
    for (int c : { 10, 11 })
        EXPECT_EQ (sim::TakeOutput (mixer.audio, c), Constant (kSentinel)) << "mixer output " << c;

    for (int d = 6; d <= 10; ++d)
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ (sim::TakeOutput (virtualIds[static_cast<size_t> (d - 1)], ch), Constant (kSentinel))
                << "virtual device " << d << " channel " << ch;
}

TEST_F (RoutingEndToEndTest, AnInactiveVirtualDeviceGivesSilenceOnItsTwoOutputs)
{
    sim::RemoveAudioDevice (virtualIds[2]);

    BuildAndRun();

    for (int c = 0; c < 10; ++c)
    {
        const auto expected = (c == 4 || c == 5) ? Constant (0.0f) : SignalOf (c / 2 + 1, c % 2);
        EXPECT_EQ (sim::TakeOutput (mixer.audio, c), expected) << "mixer output " << c;
    }

    for (int c : { 10, 11 })
        EXPECT_EQ (sim::TakeOutput (mixer.audio, c), Constant (kSentinel)) << "mixer output " << c;
}

TEST_F (RoutingEndToEndTest, RoutesOnTheDevicesOwnAudioThread)
{
    sim::SetAudioClock (sim::AudioClock::RealTime);
    engine = std::make_unique<VirtualChannelsEngine>();
    ASSERT_EQ (engine->CreateAggregateDevice (kMultitrackDeviceNames[0], 1), 0);

    sim::FeedInput (virtualIds[4], 1, std::vector<float> (kNumSamples, 0.75f));

    // Virtual device 5's second channel arrives on mixer output 9.
    bool arrived = false;

    for (int attempt = 0; attempt < 500 && !arrived; ++attempt)
    {
        const auto out = sim::TakeOutput (mixer.audio, 9);
        arrived = std::find (out.begin(), out.end(), 0.75f) != out.end();
        juce::Thread::sleep (10);
    }

    EXPECT_TRUE (arrived);
    engine.reset();
}

} // namespace
