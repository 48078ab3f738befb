#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>

#include "engine/AggregateState.h"
#include "engine/DeviceStatus.h"
#include "engine/Mixer.h"
#include "engine/VirtualChanAudioCallback.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

using Channels = std::vector<int>;

/** Just enough of an open device for the about-to-start handler to read. */
class StartedDevice : public juce::AudioIODevice
{
public:
    StartedDevice() : juce::AudioIODevice ("QUOR Aggregate", "CoreAudio") {}

    juce::StringArray getOutputChannelNames() override { return {}; }
    juce::StringArray getInputChannelNames() override { return {}; }
    juce::Array<double> getAvailableSampleRates() override { return { sampleRate }; }
    juce::Array<int> getAvailableBufferSizes() override { return { bufferSize }; }
    int getDefaultBufferSize() override { return bufferSize; }
    juce::String open (const juce::BigInteger&, const juce::BigInteger&, double, int) override { return {}; }
    void close() override {}
    bool isOpen() override { return true; }
    void start (juce::AudioIODeviceCallback*) override {}
    void stop() override {}
    bool isPlaying() override { return true; }
    juce::String getLastError() override { return {}; }
    int getCurrentBufferSizeSamples() override { return bufferSize; }
    double getCurrentSampleRate() override { return sampleRate; }
    int getCurrentBitDepth() override { return 32; }
    juce::BigInteger getActiveOutputChannels() const override { return outputs; }
    juce::BigInteger getActiveInputChannels() const override { return inputs; }
    int getOutputLatencyInSamples() override { return outputLatency; }
    int getInputLatencyInSamples() override { return inputLatency; }

    double sampleRate = 48000.0;
    int bufferSize = 128;
    juce::BigInteger inputs, outputs;
    int inputLatency = 24;
    int outputLatency = 40;
};

/** The routing objects, wired to each other as the engine wires them. */
struct RoutingRig
{
    RoutingRig()
    {
        status.bufferSize.Changed.connect (&Mixer::SetBufferSize, &mixer);
        device.inputs.setRange (0, 10, true);
        device.outputs.setRange (0, 22, true);
    }

    DeviceStatus status;
    AggregateState aggregate;
    Mixer mixer { &aggregate };
    VirtualChanAudioCallback callback { &status, &mixer, &aggregate };
    StartedDevice device;
};

constexpr float kUntouched = -7.0f;
constexpr float kForbidden = 99.0f;

/** Channel arrays for one block. Entries past the counts handed to the callback
    point at a guard buffer: anything read from there shows up as kForbidden in
    an output, and anything written there shows up in the guard itself. */
struct Block
{
    Block (int inputs, int outputs, int samples) : numInputs (inputs), numOutputs (outputs), numSamples (samples)
    {
        guard.assign (static_cast<size_t> (std::max (samples, 1) * 4), kForbidden);
        inputData.resize (static_cast<size_t> (inputs));
        outputData.resize (static_cast<size_t> (outputs));

        for (int c = 0; c < inputs; ++c)
            for (int i = 0; i < samples; ++i)
                inputData[static_cast<size_t> (c)].push_back (static_cast<float> (c * 1000 + i));

        for (auto& channel : outputData)
            channel.assign (static_cast<size_t> (samples), kUntouched);

        for (auto& channel : inputData)
            inputs_.push_back (channel.data());

        for (auto& channel : outputData)
            outputs_.push_back (channel.data());

        for (int extra = 0; extra < 32; ++extra)
        {
            inputs_.push_back (guard.data());
            outputs_.push_back (guard.data());
        }
    }

    void Run (VirtualChanAudioCallback& callback)
    {
        juce::AudioIODeviceCallbackContext context;
        callback.audioDeviceIOCallbackWithContext (inputs_.data(), numInputs, outputs_.data(), numOutputs, numSamples,
                                                   context);
    }

    bool Untouched (int output) const
    {
        for (auto value : outputData[static_cast<size_t> (output)])
            if (value != kUntouched)
                return false;

        return true;
    }

    bool Silent (int output) const
    {
        for (auto value : outputData[static_cast<size_t> (output)])
            if (value != 0.0f)
                return false;

        return true;
    }

    bool Carries (int output, int input) const
    {
        return outputData[static_cast<size_t> (output)] == inputData[static_cast<size_t> (input)];
    }

    bool GuardIntact() const
    {
        return std::all_of (guard.begin(), guard.end(), [] (float v) { return v == kForbidden; });
    }

    int numInputs, numOutputs, numSamples;
    std::vector<std::vector<float>> inputData, outputData;
    std::vector<float> guard;
    std::vector<const float*> inputs_;
    std::vector<float*> outputs_;
};

const std::string kMixerUid = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";

std::string VirtualUid (int device)
{
    return device == 1 ? "QuorVirtualAudioDevice_UID" : "QuorVirtualAudioDevice_UID_" + std::to_string (device);
}

class RouteTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();

        for (int d = 1; d <= 10; ++d)
            virtualIds[d] = AddDevice (VirtualUid (d));

        mixerId = AddDevice (kMixerUid);
        rig.aggregate.hardwareUid = kMixerUid;
    }

    void TearDown() override { sim::Reset(); }

    static AudioObjectID AddDevice (const std::string& uid)
    {
        sim::AudioDeviceSpec spec;
        spec.name = uid;
        spec.uid = uid;
        spec.inputStreams = { 2 };
        spec.outputStreams = { 2 };
        return sim::AddAudioDevice (spec);
    }

    /** An aggregate whose full list is fullUids and whose active list is activeIds, as given. */
    void MakeAggregate (const std::vector<std::string>& fullUids, const std::vector<AudioObjectID>& activeIds)
    {
        auto* description =
            CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        auto* subDevices = CFArrayCreateMutable (nullptr, 0, &kCFTypeArrayCallBacks);

        for (const auto& uid : fullUids)
        {
            auto* subDevice = CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
            auto uidString = CFStringCreateWithCString (nullptr, uid.c_str(), kCFStringEncodingUTF8);
            CFDictionaryAddValue (subDevice, CFSTR (kAudioSubDeviceUIDKey), uidString);
            CFArrayAppendValue (subDevices, subDevice);
            CFRelease (uidString);
            CFRelease (subDevice);
        }

        CFDictionaryAddValue (description, CFSTR (kAudioAggregateDeviceNameKey), CFSTR ("QUOR Aggregate"));
        CFDictionaryAddValue (description, CFSTR (kAudioAggregateDeviceSubDeviceListKey), subDevices);
        CFRelease (subDevices);

        AudioObjectID aggregateId = 0;
        ASSERT_EQ (AudioHardwareCreateAggregateDevice (description, &aggregateId), 0);
        CFRelease (description);

        sim::PropertyAnswer active;
        active.size = static_cast<UInt32> (activeIds.size() * sizeof (AudioObjectID));
        active.data.resize (active.size);
        std::memcpy (active.data.data(), activeIds.data(), active.size);
        sim::OverrideProperty (aggregateId, kAudioAggregateDevicePropertyActiveSubDeviceList, active);

        rig.aggregate.deviceId = aggregateId;
    }

    /** The builder's order: virtual devices 6 to 10, 1 to 5, then the mixer. */
    std::vector<std::string> BuilderUids() const
    {
        std::vector<std::string> uids;

        for (int d : { 6, 7, 8, 9, 10, 1, 2, 3, 4, 5 })
            uids.push_back (VirtualUid (d));

        uids.push_back (kMixerUid);
        return uids;
    }

    std::vector<AudioObjectID> Ids (std::initializer_list<int> virtualDevices, bool withMixer = true) const
    {
        std::vector<AudioObjectID> ids;

        for (int d : virtualDevices)
            ids.push_back (virtualIds[d]);

        if (withMixer)
            ids.push_back (mixerId);

        return ids;
    }

    void Start() { rig.callback.audioDeviceAboutToStart (&rig.device); }

    Channels Inputs (int kind) const { return rig.aggregate.routes.at (kind).inputChannels; }
    Channels Outputs (int kind) const { return rig.aggregate.routes.at (kind).outputChannels; }

    RoutingRig rig;
    AudioObjectID virtualIds[11] {};
    AudioObjectID mixerId = 0;
};

TEST_F (RouteTableTest, BuilderOrderRoutesInputsZeroToNineToMixerOutputsTenToNineteen)
{
    MakeAggregate (BuilderUids(), Ids ({ 6, 7, 8, 9, 10, 1, 2, 3, 4, 5 }));
    const auto liveObjects = sim::LiveObjectCount();

    Start();

    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);

    ASSERT_EQ (rig.aggregate.routes.size(), 6u);

    for (int kind = 0; kind < 5; ++kind)
    {
        EXPECT_EQ (Inputs (kind), (Channels { 2 * kind, 2 * kind + 1 })) << kind;
        EXPECT_TRUE (Outputs (kind).empty()) << kind;
    }

    EXPECT_TRUE (Inputs (Mixer::MixerOutputs).empty());
    EXPECT_EQ (Outputs (Mixer::MixerOutputs), (Channels { 10, 11, 12, 13, 14, 15, 16, 17, 18, 19 }));
}

TEST_F (RouteTableTest, InputOffsetsFollowTheActiveOrderOfDevicesOneToFive)
{
    // Device 1 named twice takes the second pair; device 10's UID holds the
    // prefix and device 1's UID, yet is neither and moves nothing.
    MakeAggregate (BuilderUids(), Ids ({ 10, 1, 3, 1 }));

    Start();

    ASSERT_EQ (rig.aggregate.routes.size(), 3u);
    EXPECT_EQ (Inputs (Mixer::VirtualDevice1), (Channels { 4, 5 }));
    EXPECT_EQ (Inputs (Mixer::VirtualDevice3), (Channels { 2, 3 }));
    EXPECT_EQ (Outputs (Mixer::MixerOutputs).front(), 10);
}

TEST_F (RouteTableTest, OutputOffsetCountsOnlyListedForeignDevicesBeforeTheMixer)
{
    const auto foreign = AddDevice ("com.example.Speakers");
    const auto stranger = AddDevice ("com.example.NotInTheAggregate");
    auto uids = BuilderUids();
    uids.insert (uids.begin(), "com.example.Speakers");

    std::vector<AudioObjectID> active { stranger, foreign, virtualIds[2], mixerId };
    MakeAggregate (uids, active);

    Start();

    ASSERT_EQ (rig.aggregate.routes.size(), 2u);
    EXPECT_EQ (Inputs (Mixer::VirtualDevice2), (Channels { 0, 1 }));
    EXPECT_EQ (Outputs (Mixer::MixerOutputs), (Channels { 20, 21, 22, 23, 24, 25, 26, 27, 28, 29 }));
}

TEST_F (RouteTableTest, TheMixerTakesTwentyChannelsOfOffset)
{
    // Listed twice, the mixer's route moves on by its own ten channels and the
    // ten of virtual devices 6 to 10 ahead of it.
    std::vector<AudioObjectID> active { mixerId, virtualIds[1], mixerId };
    MakeAggregate (BuilderUids(), active);

    Start();

    EXPECT_EQ (Inputs (Mixer::VirtualDevice1), (Channels { 0, 1 }));
    EXPECT_EQ (Outputs (Mixer::MixerOutputs), (Channels { 30, 31, 32, 33, 34, 35, 36, 37, 38, 39 }));
}

TEST_F (RouteTableTest, NoMixerRouteWithoutAHardwareUid)
{
    rig.aggregate.hardwareUid = "";
    MakeAggregate (BuilderUids(), Ids ({ 1, 2 }));

    Start();

    EXPECT_EQ (rig.aggregate.routes.size(), 2u);
    EXPECT_EQ (rig.aggregate.routes.count (Mixer::MixerOutputs), 0u);
}

TEST_F (RouteTableTest, UnreadableFullListMeansNoRoutesButDetailsArePublished)
{
    MakeAggregate (BuilderUids(), Ids ({ 1, 2, 3, 4, 5 }));
    rig.aggregate.AddRoute (Mixer::VirtualDevice4, 6, 0, 2, 0);
    rig.aggregate.AddRoute (Mixer::MixerOutputs, 0, 10, 0, 10);
    rig.callback.CompileRoutes();
    sim::FailProperty (rig.aggregate.deviceId, kAudioAggregateDevicePropertyFullSubDeviceList);
    rig.device.inputs.clear();
    rig.device.inputs.setRange (0, 7, true);
    rig.device.outputs.clear();
    rig.device.outputs.setRange (0, 34, true);
    rig.device.sampleRate = 44100.0;
    rig.device.bufferSize = 256;

    Start();

    EXPECT_TRUE (rig.aggregate.routes.empty());
    EXPECT_EQ (rig.status.sampleRate.value, 44100.0);
    EXPECT_EQ (rig.status.numInputChannels.value, 7u);
    EXPECT_EQ (rig.status.numOutputChannels.value, 34u);
    EXPECT_EQ (rig.status.bufferSize.value, 256u);
    EXPECT_EQ (rig.status.inputLatency.value, 24u);
    EXPECT_EQ (rig.status.outputLatency.value, 40u);
    EXPECT_EQ (rig.mixer.silenceBuffer.getNumSamples(), 256);

    // The blocks that follow no longer route anything.
    Block block (22, 22, 256);
    block.Run (rig.callback);

    for (int c = 0; c < 22; ++c)
        EXPECT_TRUE (block.Untouched (c)) << c;
}

TEST_F (RouteTableTest, PublishingTheBufferSizeSizesTheWorkBuffersOnlyWhenItChanges)
{
    MakeAggregate (BuilderUids(), Ids ({ 1, 2, 3, 4, 5 }));

    Start();

    ASSERT_EQ (rig.mixer.silenceBuffer.getNumChannels(), 2);
    ASSERT_EQ (rig.mixer.silenceBuffer.getNumSamples(), 128);
    ASSERT_EQ (rig.mixer.discardBuffer.getNumChannels(), 10);
    ASSERT_EQ (rig.mixer.discardBuffer.getNumSamples(), 128);

    // Resizing would clear the silence buffer; a restart at the same size must not.
    rig.mixer.silenceBuffer.setSample (1, 5, 0.25f);
    rig.aggregate.routes.clear();

    Start();

    EXPECT_EQ (rig.aggregate.routes.size(), 6u);
    EXPECT_EQ (rig.mixer.silenceBuffer.getSample (1, 5), 0.25f);

    rig.device.bufferSize = 64;
    Start();

    EXPECT_EQ (rig.mixer.discardBuffer.getNumSamples(), 64);
    EXPECT_EQ (rig.mixer.silenceBuffer.getSample (1, 5), 0.0f);
}

//==============================================================================

TEST (MixerTest, SetBufferSizeSizesClearsAndReleases)
{
    AggregateState aggregate;
    Mixer mixer (&aggregate);
    EXPECT_EQ (mixer.silenceBuffer.getNumChannels(), 0);
    EXPECT_EQ (mixer.discardBuffer.getNumChannels(), 0);

    mixer.SetBufferSize (32);
    mixer.silenceBuffer.setSample (0, 31, 1.0f);
    mixer.silenceBuffer.setSample (1, 0, -1.0f);
    mixer.SetBufferSize (48);

    ASSERT_EQ (mixer.silenceBuffer.getNumChannels(), 2);
    ASSERT_EQ (mixer.silenceBuffer.getNumSamples(), 48);
    EXPECT_EQ (mixer.discardBuffer.getNumChannels(), 10);
    EXPECT_EQ (mixer.discardBuffer.getNumSamples(), 48);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 48; ++i)
            ASSERT_EQ (mixer.silenceBuffer.getSample (c, i), 0.0f) << c << ":" << i;

    mixer.SetBufferSize (0);
    EXPECT_EQ (mixer.silenceBuffer.getNumChannels(), 0);
    EXPECT_EQ (mixer.silenceBuffer.getNumSamples(), 0);
    EXPECT_EQ (mixer.discardBuffer.getNumChannels(), 0);
    EXPECT_EQ (mixer.discardBuffer.getNumSamples(), 0);
}

TEST (AggregateStateTest, AddRouteRecordsConsecutiveChannelsAndReplaces)
{
    AggregateState aggregate;
    EXPECT_EQ (aggregate.deviceId, 0u);
    EXPECT_EQ (aggregate.hidDeviceId, -1);

    aggregate.AddRoute (Mixer::MixerOutputs, 3, 10, 0, 10);
    aggregate.AddRoute (Mixer::VirtualDevice2, 6, 99, 2, -1);

    EXPECT_TRUE (aggregate.routes.at (Mixer::MixerOutputs).inputChannels.empty());
    EXPECT_EQ (aggregate.routes.at (Mixer::MixerOutputs).outputChannels,
               (Channels { 10, 11, 12, 13, 14, 15, 16, 17, 18, 19 }));
    EXPECT_EQ (aggregate.routes.at (Mixer::VirtualDevice2).inputChannels, (Channels { 6, 7 }));
    EXPECT_TRUE (aggregate.routes.at (Mixer::VirtualDevice2).outputChannels.empty());

    aggregate.AddRoute (Mixer::VirtualDevice2, 0, 4, 2, 1);
    EXPECT_EQ (aggregate.routes.at (Mixer::VirtualDevice2).inputChannels, (Channels { 0, 1 }));
    EXPECT_EQ (aggregate.routes.at (Mixer::VirtualDevice2).outputChannels, (Channels { 4 }));
}

//==============================================================================
// The block copy, driven directly with channel arrays.

class BlockCopyTest : public ::testing::Test
{
protected:
    void SetUp() override { rig.mixer.SetBufferSize (128); }

    /** The routes of the builder's aggregate. */
    void RouteAll()
    {
        for (int kind = 0; kind < 5; ++kind)
            rig.aggregate.AddRoute (kind, 2 * kind, 0, 2, 0);

        rig.aggregate.AddRoute (Mixer::MixerOutputs, 10, 10, 0, 10);
        rig.callback.CompileRoutes();
    }

    RoutingRig rig;
};

TEST_F (BlockCopyTest, CopiesTenInputsToTenMixerOutputsAndNothingElse)
{
    RouteAll();
    Block block (22, 22, 128);

    block.Run (rig.callback);

    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (block.Carries (10 + c, c)) << c;

    for (int c : { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 20, 21 })
        EXPECT_TRUE (block.Untouched (c)) << c;

    EXPECT_TRUE (block.GuardIntact());
}

TEST_F (BlockCopyTest, UnroutedSourcesAreSilentAndUnroutedDestinationsAreDiscarded)
{
    // No routes: ten channels of silence go to the discard buffer, no output is written.
    rig.mixer.discardBuffer.setSample (3, 7, 5.0f);
    Block none (22, 22, 128);
    none.Run (rig.callback);

    for (int c = 0; c < 22; ++c)
        EXPECT_TRUE (none.Untouched (c)) << c;

    EXPECT_EQ (rig.mixer.discardBuffer.getSample (3, 7), 0.0f);

    // Only the mixer route: its ten outputs receive zeros.
    rig.aggregate.AddRoute (Mixer::MixerOutputs, 0, 10, 0, 10);
    rig.callback.CompileRoutes();
    Block mixerOnly (22, 22, 128);
    mixerOnly.Run (rig.callback);

    for (int c = 10; c < 20; ++c)
        EXPECT_TRUE (mixerOnly.Silent (c)) << c;

    // Device 3 missing: its two outputs are silent, the others carry their inputs.
    RouteAll();
    rig.aggregate.routes.erase (Mixer::VirtualDevice3);
    rig.callback.CompileRoutes();
    Block gap (22, 22, 128);
    gap.Run (rig.callback);

    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (c == 4 || c == 5 ? gap.Silent (10 + c) : gap.Carries (10 + c, c)) << c;
}

TEST_F (BlockCopyTest, ANullSourceOrAnEmptyBlockWritesNothing)
{
    RouteAll();

    Block nullSource (22, 22, 128);
    nullSource.inputs_[7] = nullptr;
    nullSource.Run (rig.callback);

    Block zero (22, 22, 16);
    zero.numSamples = 0;
    zero.Run (rig.callback);

    Block negative (22, 22, 16);
    negative.numSamples = -16;
    negative.Run (rig.callback);

    for (int c = 0; c < 22; ++c)
    {
        EXPECT_TRUE (nullSource.Untouched (c)) << c;
        EXPECT_TRUE (zero.Untouched (c)) << c;
        EXPECT_TRUE (negative.Untouched (c)) << c;
    }
}

TEST_F (BlockCopyTest, RouteIndicesBeyondTheBlockFallBackToTheDefaults)
{
    RouteAll();

    // Seven inputs: sources 7 to 9 read silence.
    Block fewInputs (7, 22, 128);
    fewInputs.Run (rig.callback);

    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (c < 7 ? fewInputs.Carries (10 + c, c) : fewInputs.Silent (10 + c)) << c;

    // Fifteen outputs: destinations 5 to 9 go to the discard buffer.
    Block fewOutputs (22, 15, 128);
    fewOutputs.Run (rig.callback);

    for (int c = 0; c < 5; ++c)
        EXPECT_TRUE (fewOutputs.Carries (10 + c, c)) << c;

    EXPECT_TRUE (fewOutputs.GuardIntact());
    EXPECT_EQ (rig.mixer.discardBuffer.getSample (9, 127), fewOutputs.inputData[9][127]);

    // Negative indices: sources 0 and 1 are silent, destinations 0 to 2 discarded,
    // destinations 3 to 9 land on outputs 0 to 6.
    rig.aggregate.AddRoute (Mixer::VirtualDevice1, -2, 0, 2, 0);
    rig.aggregate.AddRoute (Mixer::MixerOutputs, 0, -3, 0, 10);
    rig.callback.CompileRoutes();
    Block negative (22, 22, 128);
    negative.Run (rig.callback);

    for (int c = 3; c < 10; ++c)
        EXPECT_TRUE (negative.Carries (c - 3, c)) << c;

    for (int c = 7; c < 22; ++c)
        EXPECT_TRUE (negative.Untouched (c)) << c;

    EXPECT_TRUE (negative.GuardIntact());

    // No channel arrays at all.
    RouteAll();
    juce::AudioIODeviceCallbackContext context;
    Block noInputs (0, 22, 128);
    rig.callback.audioDeviceIOCallbackWithContext (nullptr, 22, noInputs.outputs_.data(), 22, 128, context);

    for (int c = 10; c < 20; ++c)
        EXPECT_TRUE (noInputs.Silent (c)) << c;

    Block noOutputs (22, 0, 128);
    rig.callback.audioDeviceIOCallbackWithContext (noOutputs.inputs_.data(), 22, nullptr, 22, 128, context);
    EXPECT_EQ (rig.mixer.discardBuffer.getSample (9, 127), noOutputs.inputData[9][127]);
}

TEST_F (BlockCopyTest, NullDestinationGoesToTheDiscardBuffer)
{
    RouteAll();
    Block block (22, 22, 128);
    block.outputs_[13] = nullptr;

    block.Run (rig.callback);

    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (c == 3 || block.Carries (10 + c, c)) << c;

    EXPECT_TRUE (block.Untouched (13));
    EXPECT_EQ (rig.mixer.discardBuffer.getSample (3, 100), block.inputData[3][100]);
}

TEST_F (BlockCopyTest, BlocksLongerThanTheWorkBuffersCopyNothing)
{
    RouteAll();
    Block longer (22, 22, 129);
    longer.Run (rig.callback);

    rig.mixer.SetBufferSize (0);
    Block unsized (22, 22, 64);
    unsized.Run (rig.callback);

    for (int c = 0; c < 22; ++c)
    {
        EXPECT_TRUE (longer.Untouched (c)) << c;
        EXPECT_TRUE (unsized.Untouched (c)) << c;
    }

    // A shorter block is fine.
    rig.mixer.SetBufferSize (128);
    Block shorter (22, 22, 32);
    shorter.Run (rig.callback);
    EXPECT_TRUE (shorter.Carries (19, 9));
}

} // namespace
