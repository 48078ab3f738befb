#include "PlatformTestSupport.h"
#include "platform/seam/PlatformSeam.h"

#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <thread>

namespace
{

using namespace platformtest;
using Block = std::function<void (const float* const*, float* const*, int)>;

class TestCallback : public juce::AudioIODeviceCallback
{
public:
    void audioDeviceIOCallbackWithContext (const float* const* inputs, int numInputs, float* const* outputs,
                                           int numOutputs, int numSamples,
                                           const juce::AudioIODeviceCallbackContext&) override
    {
        channels = { numInputs, numOutputs, numSamples };
        if (onBlock)
            onBlock (inputs, outputs, numSamples);
    }

    void audioDeviceAboutToStart (juce::AudioIODevice* device) override { startedDevice = device; }
    void audioDeviceStopped() override { ++stops; }

    Block onBlock;
    std::array<int, 3> channels {}; // inputs, outputs and samples of the last block
    std::atomic<int> stops { 0 };
    juce::AudioIODevice* startedDevice = nullptr;
};

struct ListChangeListener : juce::AudioIODeviceType::Listener
{
    void audioDeviceListChanged() override { ++changes; }
    int changes = 0;
};

std::vector<float> Ramp (float start, int count, float scale = 1.0f)
{
    std::vector<float> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back (scale * (start + (float) i));
    return samples;
}

bool Logged (const std::string& line)
{
    const auto log = sim::CallLog();
    return std::find (log.begin(), log.end(), line) != log.end();
}

class HalAudioDeviceType : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);
        PlatformSeam::PrepareAudioDeviceManager (manager);
        manager.addAudioCallback (&callback);
    }

    void TearDown() override
    {
        manager.removeAudioCallback (&callback);
        manager.closeAudioDevice();
    }

    juce::String Open (const juce::String& name, int bufferSize, int channels = 2)
    {
        setup.inputDeviceName = setup.outputDeviceName = name;
        setup.sampleRate = 48000.0;
        setup.bufferSize = bufferSize;
        return manager.initialise (channels, channels, nullptr, false, {}, &setup);
    }

    TestCallback callback;
    juce::AudioDeviceManager manager;
    juce::AudioDeviceManager::AudioDeviceSetup setup;
};

TEST_F (HalAudioDeviceType, OpensADeviceThatAppearedAfterTheFirstScanUnlessOpeningFails)
{
    AddDevice ("Early", { 2 }, { 2 });
    ASSERT_EQ (manager.initialise (2, 2, nullptr, false), "");
    EXPECT_EQ (manager.getCurrentAudioDevice()->getName(), "Early");
    EXPECT_EQ (manager.getCurrentAudioDevice()->getTypeName(), "CoreAudio");
    auto* type = manager.getCurrentDeviceTypeObject();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    ListChangeListener listener;
    type->addListener (&listener);

    AddDevice ("Late", { 2 }, { 2 }, 1500);
    EXPECT_FALSE (type->getDeviceNames (false).contains ("Late"));
    ASSERT_TRUE (WaitFor ([] { return sim::FindAudioDevice ("Late-uid") != 0; }));
    sim::InjectFault (sim::Fault::AudioDeviceOpen);
    EXPECT_NE (Open ("Late", 128), "");
    EXPECT_EQ (manager.getCurrentAudioDevice(), nullptr);
    EXPECT_FALSE (Logged ("AudioDeviceOpen Late"));
    sim::ClearFault (sim::Fault::AudioDeviceOpen);

    EXPECT_EQ (Open ("Late", 128), "");
    ASSERT_NE (manager.getCurrentAudioDevice(), nullptr);
    EXPECT_EQ (manager.getCurrentAudioDevice()->getName(), "Late");
    EXPECT_EQ (manager.getCurrentAudioDevice()->getCurrentBufferSizeSamples(), 128);
    EXPECT_EQ (manager.getCurrentAudioDevice()->getCurrentSampleRate(), 48000.0);
    EXPECT_TRUE (Logged ("AudioDeviceOpen Late"));
    EXPECT_TRUE (Logged ("AudioDeviceStart Late"));
    EXPECT_EQ (callback.startedDevice, manager.getCurrentAudioDevice());

    // The type tells its listeners about the new device later, on the message thread.
    for (int i = 0; i < 200 && listener.changes == 0; ++i)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    EXPECT_GT (listener.changes, 0);
    type->removeListener (&listener);
}

TEST_F (HalAudioDeviceType, StreamsSampleExactDataBetweenSubDeviceChannelsUntilStopped)
{
    const auto a = AddDevice ("A", { 2 }, {});
    const auto b = AddDevice ("B", {}, { 2 });
    const auto m = AddDevice ("M", { 2 }, { 4 });
    // Inputs of the aggregate: A0 A1 M0 M1. Outputs: B0 B1 M0 M1 M2 M3.
    AudioObjectID aggregate = 0;
    ASSERT_EQ (CreateAggregate ("Agg", { "B-uid", "A-uid", "M-uid" }, aggregate), 0);
    sim::SetOutputPrefill (-7.0f);

    setup.useDefaultInputChannels = setup.useDefaultOutputChannels = false;
    for (const int channel : { 1, 2 }) // A1, M0
        setup.inputChannels.setBit (channel);
    for (const int channel : { 0, 3, 5 }) // B0, M1, M3
        setup.outputChannels.setBit (channel);
    callback.onBlock = [] (const float* const* in, float* const* out, int samples)
    {
        for (int i = 0; i < samples; ++i)
        {
            out[0][i] = in[0][i];
            out[1][i] = 2.0f * in[1][i];
        }
    };
    ASSERT_EQ (Open ("Agg", 64, 0), "");

    sim::FeedInput (a, 0, Ramp (-500.0f, 192));
    sim::FeedInput (a, 1, Ramp (0.0f, 192));
    sim::FeedInput (m, 0, Ramp (1000.0f, 192));
    const auto blocksBefore = sim::AudioBlocksRun();
    sim::RunAudioBlocks (3);
    EXPECT_EQ (sim::AudioBlocksRun() - blocksBefore, 3);
    EXPECT_EQ (callback.channels, (std::array<int, 3> { 2, 3, 64 }));
    EXPECT_EQ (sim::TakeOutput (b, 0), Ramp (0.0f, 192));
    EXPECT_EQ (sim::TakeOutput (m, 1), Ramp (1000.0f, 192, 2.0f));
    EXPECT_EQ (sim::TakeOutput (m, 3), std::vector<float> (192, -7.0f)) << "an unwritten channel keeps the prefill";
    EXPECT_TRUE (sim::TakeOutput (m, 0).empty()) << "a disabled channel is not written at all";
    EXPECT_TRUE (sim::TakeOutput (b, 1).empty());

    // Taking empties the capture, and input that has run out is silence.
    EXPECT_TRUE (sim::TakeOutput (b, 0).empty());
    sim::RunAudioBlocks (1);
    EXPECT_EQ (sim::TakeOutput (b, 0), std::vector<float> (64, 0.0f));

    sim::ClearCallLog();
    manager.closeAudioDevice();
    EXPECT_EQ (callback.stops, 1);
    EXPECT_EQ (sim::CallLog(), (std::vector<std::string> { "AudioDeviceStop Agg", "AudioDeviceClose Agg" }));
    const auto blocks = sim::AudioBlocksRun();
    sim::RunAudioBlocks (3);
    EXPECT_EQ (sim::AudioBlocksRun(), blocks);
}

TEST_F (HalAudioDeviceType, CaptureKeepsOnlyTheLatestSamples)
{
    const auto device = AddDevice ("Dev", { 1 }, { 1 });
    sim::FeedInput (device, 0, Ramp (0.0f, 140000));
    callback.onBlock = [] (const float* const* in, float* const* out, int samples)
    { std::copy (in[0], in[0] + samples, out[0]); };
    ASSERT_EQ (Open ("Dev", 2048, 1), "");

    sim::RunAudioBlocks (70); // 143360 samples
    const auto captured = sim::TakeOutput (device, 0);
    ASSERT_EQ (captured.size(), 131072u);
    EXPECT_EQ (captured.front(), (float) (143360 - 131072));
    EXPECT_EQ (captured[131072 - 3360 - 1], 139999.0f);
    EXPECT_EQ (captured.back(), 0.0f);
}

TEST_F (HalAudioDeviceType, RealTimeClockRunsBlocksOnItsOwnThreadWithoutAllocating)
{
    sim::SetAudioClock (sim::AudioClock::RealTime);
    const auto device = AddDevice ("Dev", { 2 }, { 2 });
    sim::FeedInput (device, 0, std::vector<float> (48000, 0.25f));
    std::atomic<int> blocks { 0 };
    std::atomic<bool> otherThread { true };
    callback.onBlock = [&, testThread = std::this_thread::get_id()] (const float* const* in, float* const* out, int n)
    {
        otherThread = otherThread && std::this_thread::get_id() != testThread;
        std::copy (in[0], in[0] + n, out[0]);
        // The first blocks may size JUCE's own buffers; count from the fourth on.
        if (++blocks == 3)
            CountAllocationsOnThisThread (true);
    };
    ASSERT_EQ (Open ("Dev", 64), "");
    ASSERT_TRUE (WaitFor ([&] { return blocks >= 40; }));
    manager.closeAudioDevice();
    EXPECT_TRUE (otherThread);
    EXPECT_EQ (CountedAllocations(), 0);
    const auto captured = sim::TakeOutput (device, 0);
    ASSERT_GE (captured.size(), 64u);
    EXPECT_EQ (captured[10], 0.25f);

    const auto after = sim::AudioBlocksRun();
    juce::Thread::sleep (50);
    EXPECT_EQ (sim::AudioBlocksRun(), after) << "nothing runs once the device is closed";
}

} // namespace
