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

TEST_F (BlockCopyTest, CopiesTenInputsToTenMixerOutputsAndUnroutedSourcesAsSilence)
{
    RouteAll();
    Block block (22, 22, 128);
    block.Run (rig.callback);

    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (block.Carries (10 + c, c)) << c;
    for (int c : { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 20, 21 })
        EXPECT_TRUE (block.Untouched (c)) << c;
    EXPECT_TRUE (block.GuardIntact());

    // Device 3 missing: its two outputs are silent, the others carry their inputs.
    rig.aggregate.routes.erase (Mixer::VirtualDevice3);
    rig.callback.CompileRoutes();
    Block gap (22, 22, 128);
    gap.Run (rig.callback);

    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (c == 4 || c == 5 ? gap.Silent (10 + c) : gap.Carries (10 + c, c)) << c;
}

TEST_F (BlockCopyTest, OutOfRangeIndicesAndNullDestinationsFallBackToSilenceAndTheDiscardBuffer)
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

    // A null destination goes to the discard buffer too.
    Block nullDestination (22, 22, 128);
    nullDestination.outputs_[13] = nullptr;
    nullDestination.Run (rig.callback);
    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE (c == 3 || nullDestination.Carries (10 + c, c)) << c;
    EXPECT_EQ (rig.mixer.discardBuffer.getSample (3, 100), nullDestination.inputData[3][100]);

    // Negative indices: sources 0 and 1 are silent, destinations 0 to 2 discarded.
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
}

TEST_F (BlockCopyTest, ANullSourceOrABlockOfNoOrTooManySamplesWritesNothing)
{
    RouteAll();

    Block nullSource (22, 22, 128);
    nullSource.inputs_[7] = nullptr;
    Block zero (22, 22, 16);
    zero.numSamples = 0;
    Block negative (22, 22, 16);
    negative.numSamples = -16;
    Block longer (22, 22, 129);

    for (auto* block : { &nullSource, &zero, &negative, &longer })
    {
        block->Run (rig.callback);
        for (int c = 0; c < 22; ++c)
            EXPECT_TRUE (block->Untouched (c)) << block->numSamples << " samples, output " << c;
    }

    Block shorter (22, 22, 32);
    shorter.Run (rig.callback);
    EXPECT_TRUE (shorter.Carries (19, 9));
}

} // namespace
