#include "platform/seam/PlatformSeam.h"
#include "platform/sim/SimulatedMachine.h"

#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace
{

using Block = std::function<void (const float* const*, int, float* const*, int, int)>;

class TestCallback : public juce::AudioIODeviceCallback
{
public:
    void audioDeviceIOCallbackWithContext (const float* const* inputs, int numInputs, float* const* outputs,
                                           int numOutputs, int numSamples,
                                           const juce::AudioIODeviceCallbackContext&) override
    {
        lastInputs = numInputs;
        lastOutputs = numOutputs;
        lastSamples = numSamples;
        if (onBlock)
            onBlock (inputs, numInputs, outputs, numOutputs, numSamples);
    }

    void audioDeviceAboutToStart (juce::AudioIODevice* device) override
    {
        ++starts;
        startedDevice = device;
    }

    void audioDeviceStopped() override { ++stops; }

    Block onBlock;
    std::atomic<int> lastInputs { -1 }, lastOutputs { -1 }, lastSamples { -1 };
    std::atomic<int> starts { 0 }, stops { 0 };
    juce::AudioIODevice* startedDevice = nullptr;
};

class ListChangeListener : public juce::AudioIODeviceType::Listener
{
public:
    void audioDeviceListChanged() override { ++changes; }
    int changes = 0;
};

AudioObjectID AddDevice (const std::string& name, std::vector<int> inputs, std::vector<int> outputs,
                         int appearAfterMs = 0)
{
    sim::AudioDeviceSpec spec;
    spec.name = name;
    spec.uid = name + "-uid";
    spec.inputStreams = std::move (inputs);
    spec.outputStreams = std::move (outputs);
    spec.appearAfterMs = appearAfterMs;
    return sim::AddAudioDevice (spec);
}

/** An aggregate of the devices with these UIDs, made through the HAL. */
AudioObjectID CreateAggregate (const char* name, const std::vector<std::string>& subUids)
{
    auto string = [] (const std::string& text)
    { return CFStringCreateWithCString (nullptr, text.c_str(), kCFStringEncodingUTF8); };
    auto put = [&string] (CFMutableDictionaryRef dictionary, const char* key, CFTypeRef value)
    {
        auto k = string (key);
        CFDictionaryAddValue (dictionary, k, value);
        CFRelease (k);
        CFRelease (value);
    };
    auto description =
        CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    put (description, kAudioAggregateDeviceNameKey, string (name));
    put (description, kAudioAggregateDeviceUIDKey, string (std::string (name) + "-uid"));
    auto list = CFArrayCreateMutable (nullptr, 0, &kCFTypeArrayCallBacks);
    for (const auto& uid : subUids)
    {
        auto sub =
            CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        put (sub, kAudioSubDeviceUIDKey, string (uid));
        CFArrayAppendValue (list, sub);
        CFRelease (sub);
    }
    put (description, kAudioAggregateDeviceSubDeviceListKey, list);
    AudioObjectID id = 0;
    EXPECT_EQ (AudioHardwareCreateAggregateDevice (description, &id), 0);
    CFRelease (description);
    return id;
}

std::vector<float> Ramp (float start, int count)
{
    std::vector<float> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back (start + (float) i);
    return samples;
}

bool Logged (const std::string& line)
{
    const auto log = sim::CallLog();
    return std::find (log.begin(), log.end(), line) != log.end();
}

juce::AudioDeviceManager::AudioDeviceSetup SetupFor (const juce::String& name, int bufferSize)
{
    juce::AudioDeviceManager::AudioDeviceSetup setup;
    setup.inputDeviceName = name;
    setup.outputDeviceName = name;
    setup.sampleRate = 48000.0;
    setup.bufferSize = bufferSize;
    return setup;
}

class HalAudioDeviceType : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);
        PlatformSeam::PrepareAudioDeviceManager (manager);
    }

    void TearDown() override
    {
        manager.removeAudioCallback (&callback);
        manager.closeAudioDevice();
    }

    TestCallback callback;
    juce::AudioDeviceManager manager;
};

//==============================================================================
TEST_F (HalAudioDeviceType, OpensADeviceThatAppearedAfterTheFirstScan)
{
    AddDevice ("Early", { 2 }, { 2 });
    ASSERT_EQ (manager.initialise (2, 2, nullptr, false), "");
    ASSERT_NE (manager.getCurrentAudioDevice(), nullptr);
    EXPECT_EQ (manager.getCurrentAudioDevice()->getName(), "Early");
    EXPECT_EQ (manager.getCurrentAudioDevice()->getTypeName(), "CoreAudio");

    auto* type = manager.getCurrentDeviceTypeObject();
    ASSERT_NE (type, nullptr);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    ListChangeListener listener;
    type->addListener (&listener);

    AddDevice ("Late", { 2 }, { 2 }, 150);
    EXPECT_FALSE (type->getDeviceNames (false).contains ("Late"));
    const auto deadline = juce::Time::getMillisecondCounter() + 10000;
    while (sim::FindAudioDevice ("Late-uid") == 0 && juce::Time::getMillisecondCounter() < deadline)
        juce::Thread::sleep (5);

    auto setup = SetupFor ("Late", 128);
    manager.addAudioCallback (&callback);
    EXPECT_EQ (manager.initialise (2, 2, nullptr, false, {}, &setup), "");
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

TEST_F (HalAudioDeviceType, StreamsSampleExactDataBetweenSubDeviceChannels)
{
    const auto a = AddDevice ("A", { 2 }, {});
    const auto b = AddDevice ("B", {}, { 2 });
    const auto m = AddDevice ("M", { 2 }, { 4 });
    // Inputs of the aggregate: A0 A1 M0 M1. Outputs: B0 B1 M0 M1 M2 M3.
    CreateAggregate ("Agg", { "B-uid", "A-uid", "M-uid" });
    sim::SetOutputPrefill (-7.0f);

    auto setup = SetupFor ("Agg", 64);
    setup.useDefaultInputChannels = false;
    setup.useDefaultOutputChannels = false;
    setup.inputChannels.setBit (1);  // A1
    setup.inputChannels.setBit (2);  // M0
    setup.outputChannels.setBit (0); // B0
    setup.outputChannels.setBit (3); // M1
    setup.outputChannels.setBit (5); // M3
    callback.onBlock = [] (const float* const* in, int, float* const* out, int, int samples)
    {
        for (int i = 0; i < samples; ++i)
        {
            out[0][i] = in[0][i];
            out[1][i] = 2.0f * in[1][i];
        }
    };
    manager.addAudioCallback (&callback);
    ASSERT_EQ (manager.initialise (0, 0, nullptr, false, {}, &setup), "");
    EXPECT_EQ (callback.startedDevice, manager.getCurrentAudioDevice());

    sim::FeedInput (a, 0, Ramp (-500.0f, 192));
    sim::FeedInput (a, 1, Ramp (0.0f, 192));
    sim::FeedInput (m, 0, Ramp (1000.0f, 192));
    const auto blocksBefore = sim::AudioBlocksRun();
    sim::RunAudioBlocks (3);
    EXPECT_EQ (sim::AudioBlocksRun() - blocksBefore, 3);

    EXPECT_EQ (callback.lastInputs, 2);
    EXPECT_EQ (callback.lastOutputs, 3);
    EXPECT_EQ (callback.lastSamples, 64);

    EXPECT_EQ (sim::TakeOutput (b, 0), Ramp (0.0f, 192));
    auto doubled = Ramp (1000.0f, 192);
    for (auto& sample : doubled)
        sample *= 2.0f;
    EXPECT_EQ (sim::TakeOutput (m, 1), doubled);
    EXPECT_EQ (sim::TakeOutput (m, 3), std::vector<float> (192, -7.0f)) << "an unwritten channel keeps the prefill";
    EXPECT_TRUE (sim::TakeOutput (m, 0).empty()) << "a disabled channel is not written at all";
    EXPECT_TRUE (sim::TakeOutput (b, 1).empty());

    // Taking empties the capture, and input that has run out is silence.
    EXPECT_TRUE (sim::TakeOutput (b, 0).empty());
    sim::RunAudioBlocks (1);
    EXPECT_EQ (sim::TakeOutput (b, 0), std::vector<float> (64, 0.0f));
}

TEST_F (HalAudioDeviceType, StoppingEndsTheBlocksAndTellsTheCallback)
{
    AddDevice ("Dev", { 2 }, { 2 });
    auto setup = SetupFor ("Dev", 32);
    manager.addAudioCallback (&callback);
    ASSERT_EQ (manager.initialise (2, 2, nullptr, false, {}, &setup), "");
    sim::RunAudioBlocks (2);
    sim::ClearCallLog();

    manager.closeAudioDevice();
    EXPECT_EQ (callback.stops, 1);
    EXPECT_EQ (sim::CallLog(), (std::vector<std::string> { "AudioDeviceStop Dev", "AudioDeviceClose Dev" }));

    const auto blocks = sim::AudioBlocksRun();
    sim::RunAudioBlocks (3);
    EXPECT_EQ (sim::AudioBlocksRun(), blocks);
}

TEST_F (HalAudioDeviceType, OpenFaultFailsWithAnErrorText)
{
    AddDevice ("Dev", { 2 }, { 2 });
    sim::InjectFault (sim::Fault::AudioDeviceOpen);
    auto setup = SetupFor ("Dev", 64);
    EXPECT_NE (manager.initialise (2, 2, nullptr, false, {}, &setup), "");
    EXPECT_EQ (manager.getCurrentAudioDevice(), nullptr);
    EXPECT_FALSE (Logged ("AudioDeviceOpen Dev"));
}

TEST_F (HalAudioDeviceType, RealTimeClockRunsBlocksOnItsOwnThreadWithoutAllocating)
{
    sim::SetAudioClock (sim::AudioClock::RealTime);
    const auto device = AddDevice ("Dev", { 2 }, { 2 });
    sim::FeedInput (device, 0, std::vector<float> (48000, 0.25f));

    std::atomic<int> blocks { 0 };
    std::atomic<bool> otherThread { true };
    const auto testThread = std::this_thread::get_id();
    callback.onBlock = [&] (const float* const* in, int, float* const* out, int, int samples)
    {
        if (std::this_thread::get_id() == testThread)
            otherThread = false;
        std::copy (in[0], in[0] + samples, out[0]);
        // The first blocks may size JUCE's own buffers; count from the fourth on.
        if (++blocks == 3)
            CountAllocationsOnThisThread (true);
    };
    auto setup = SetupFor ("Dev", 64);
    manager.addAudioCallback (&callback);
    ASSERT_EQ (manager.initialise (2, 2, nullptr, false, {}, &setup), "");

    const auto deadline = juce::Time::getMillisecondCounter() + 20000;
    while (blocks < 40 && juce::Time::getMillisecondCounter() < deadline)
        juce::Thread::sleep (5);
    manager.closeAudioDevice();

    EXPECT_GE (blocks, 40);
    EXPECT_TRUE (otherThread);
    EXPECT_EQ (CountedAllocations(), 0);
    const auto captured = sim::TakeOutput (device, 0);
    ASSERT_GE (captured.size(), 64u);
    EXPECT_EQ (captured[10], 0.25f);

    // Nothing runs once the device is closed.
    const auto after = sim::AudioBlocksRun();
    juce::Thread::sleep (50);
    EXPECT_EQ (sim::AudioBlocksRun(), after);
}

} // namespace
