#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "engine/EngineConstants.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

const std::vector<std::string> kDescribedVirtualUids {
    "QuorVirtualAudioDevice_UID_6", "QuorVirtualAudioDevice_UID_7",  "QuorVirtualAudioDevice_UID_8",
    "QuorVirtualAudioDevice_UID_9", "QuorVirtualAudioDevice_UID_10", "QuorVirtualAudioDevice_UID",
    "QuorVirtualAudioDevice_UID_2", "QuorVirtualAudioDevice_UID_3",  "QuorVirtualAudioDevice_UID_4",
    "QuorVirtualAudioDevice_UID_5",
};

const char* const kVelmar = "Tavrolux Velmar Main Multitrack";
const std::string kMasterUid = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";

class AggregateBuilderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);

        sim::AudioDeviceSpec builtIn;
        builtIn.name = "Built-in Output";
        builtIn.uid = "BuiltInSpeakerDevice";
        builtIn.outputStreams = { 2 };
        builtIn.inputStreams = { 2 };
        builtInDevice = sim::AddAudioDevice (builtIn);
        sim::SetDefaultInput (builtInDevice);
        sim::SetDefaultOutput (builtInDevice);
    }

    void TearDown() override
    {
        engine.reset();
        sim::Reset();
    }

    /** Made on first use, so that a test's machine is complete before the engine sees it. */
    VirtualChannelsEngine& Engine()
    {
        if (engine == nullptr)
            engine = std::make_unique<VirtualChannelsEngine>();

        return *engine;
    }

    static AudioObjectID AddDevice (const std::string& name, const std::string& uid, int outputs)
    {
        sim::AudioDeviceSpec spec;
        spec.name = name;
        spec.uid = uid;
        spec.outputStreams = { outputs };
        spec.inputStreams = { outputs };
        return sim::AddAudioDevice (spec);
    }

    static std::vector<std::string> SubDeviceUids (const sim::AggregateDescription& description)
    {
        std::vector<std::string> uids;

        for (const auto& subDevice : description.subDevices)
            uids.push_back (subDevice.uid);

        return uids;
    }

    static std::vector<std::string> WithMixer (const std::string& mixerUid)
    {
        auto uids = kDescribedVirtualUids;
        uids.push_back (mixerUid);
        return uids;
    }

    static bool Logged (const std::string& line)
    {
        const auto log = sim::CallLog();
        return std::find (log.begin(), log.end(), line) != log.end();
    }

    static long LogIndex (const std::string& line)
    {
        const auto log = sim::CallLog();
        return std::distance (log.begin(), std::find (log.begin(), log.end(), line));
    }

    AudioObjectID builtInDevice = 0;
    std::unique_ptr<VirtualChannelsEngine> engine;
};

TEST_F (AggregateBuilderTest, OneVirtualDeviceBringsInAllTenInTheFixedOrder)
{
    AddDevice ("Virtual 3", "QuorVirtualAudioDevice_UID_3", 2);

    EXPECT_EQ (Engine().CreateAggregateDevice ("", 7), 0);

    const auto descriptions = sim::AggregateDescriptions();
    ASSERT_EQ (descriptions.size(), 1u);
    const auto& description = descriptions[0];
    EXPECT_EQ (description.name, "QUOR Aggregate");
    EXPECT_EQ (description.uid, "com.Quor.VirtualChannelAggregate");
    EXPECT_EQ (SubDeviceUids (description), kDescribedVirtualUids);
    EXPECT_EQ (description.master, "");
    EXPECT_EQ (description.isPrivate, 1);

    for (const auto& subDevice : description.subDevices)
    {
        EXPECT_EQ (subDevice.drift, 1) << subDevice.uid;
        EXPECT_EQ (subDevice.driftQuality, 64) << subDevice.uid;
    }

    const auto& aggregate = engine->aggregate;
    EXPECT_NE (aggregate.deviceId, 0u);
    EXPECT_EQ (aggregate.deviceId, description.id);
    EXPECT_EQ (aggregate.name, "QUOR Aggregate");
    EXPECT_EQ (aggregate.numInputChannels, 10);
    EXPECT_EQ (aggregate.numOutputChannels, 10);
    EXPECT_EQ (aggregate.hidDeviceId, 7);
    EXPECT_EQ (aggregate.hardwareUid, "");
}

TEST_F (AggregateBuilderTest, DriverPrefixCountsAnywhereInAUid)
{
    AddDevice ("Virtual", "com.vendor.QuorVirtualAudioDevice_UID.extra", 2);

    EXPECT_EQ (Engine().CreateAggregateDevice ("", 1), 0);

    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (SubDeviceUids (sim::AggregateDescriptions()[0]), kDescribedVirtualUids);
}

TEST_F (AggregateBuilderTest, NothingToBuildCreatesNothing)
{
    // The prefix test is case-sensitive, and a one-output mixer is no candidate.
    AddDevice ("Virtual", "quorvirtualaudiodevice_uid", 2);
    AddDevice (kVelmar, kMasterUid, 1);
    sim::ClearCallLog();

    EXPECT_EQ (Engine().CreateAggregateDevice (kVelmar, 1), kAudioHardwareNotRunningError);

    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    EXPECT_EQ (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
    EXPECT_EQ (sim::DefaultInput(), builtInDevice);
    EXPECT_EQ (sim::DefaultOutput(), builtInDevice);
    EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice(), nullptr);
}

TEST_F (AggregateBuilderTest, FirstMixerWithTheExactNameAndTwoOutputsIsTaken)
{
    sim::InstallVirtualDriver();
    AddDevice ("tavrolux velmar main multitrack", "wrong-case", 12);
    AddDevice (kVelmar, "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:mono:4,5", 1);
    AddDevice (kVelmar, kMasterUid, 2);
    AddDevice (kVelmar, "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:second:4,5", 8);

    EXPECT_EQ (Engine().CreateAggregateDevice (kVelmar, 1), 0);

    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    const auto description = sim::AggregateDescriptions()[0];
    EXPECT_EQ (SubDeviceUids (description), WithMixer (kMasterUid));
    EXPECT_EQ (description.master, kMasterUid);
    EXPECT_EQ (engine->aggregate.hardwareUid, juce::String (kMasterUid));
    EXPECT_EQ (engine->aggregate.numInputChannels, 10);
    EXPECT_EQ (engine->aggregate.numOutputChannels, 12);
}

TEST_F (AggregateBuilderTest, TwentyFourOutputMixerGoesLastAsClockMaster)
{
    sim::InstallVirtualDriver();
    AddDevice (kVelmar, kMasterUid, 24);

    EXPECT_EQ (Engine().CreateAggregateDevice (kVelmar, 1), 0);

    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    const auto description = sim::AggregateDescriptions()[0];
    EXPECT_EQ (SubDeviceUids (description), WithMixer (kMasterUid));
    EXPECT_EQ (description.master, kMasterUid);
    EXPECT_EQ (description.subDevices.back().drift, 1);
    EXPECT_EQ (description.subDevices.back().driftQuality, 64);
    EXPECT_EQ (engine->aggregate.subDeviceUids.size(), 11u);
    EXPECT_EQ (engine->aggregate.numInputChannels, 10);
    EXPECT_EQ (engine->aggregate.numOutputChannels, 34);
}

TEST_F (AggregateBuilderTest, MixerAloneWithoutTheDriverAndWithoutAMasterPattern)
{
    // The UID has the first part of the master pattern but not ":4,5".
    const std::string uid = "AppleUSBAudioEngine:QUOR:Tavrolux Tesk:QT2400001:4,6";
    AddDevice ("Tavrolux Tesk Main Multitrack", uid, 16);

    EXPECT_EQ (Engine().CreateAggregateDevice ("Tavrolux Tesk Main Multitrack", 3), 0);

    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (SubDeviceUids (sim::AggregateDescriptions()[0]), std::vector<std::string> { uid });
    EXPECT_EQ (sim::AggregateDescriptions()[0].master, "");
    EXPECT_EQ (engine->aggregate.numInputChannels, 0);
    EXPECT_EQ (engine->aggregate.numOutputChannels, 16);
}

TEST_F (AggregateBuilderTest, SuccessfulBuildOpensTheAggregateAndSwitchesTheDefaults)
{
    const auto virtualIds = sim::InstallVirtualDriver();
    const auto mixer = AddDevice (kVelmar, kMasterUid, 12);
    sim::SetAggregateAppearDelay (100);
    sim::ClearCallLog();

    EXPECT_EQ (Engine().CreateAggregateDevice (kVelmar, 1234), 0);

    const auto existing = sim::ExistingAggregates();
    ASSERT_EQ (existing.size(), 1u);
    EXPECT_EQ (engine->aggregate.deviceId, existing[0]);
    EXPECT_EQ (engine->aggregate.hidDeviceId, 1234);
    EXPECT_EQ (engine->aggregate.hardwareUid, juce::String (kMasterUid));
    EXPECT_NE (mixer, 0u);

    auto* device = engine->deviceManager.getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_EQ (device->getName(), "QUOR Aggregate");
    EXPECT_EQ (device->getCurrentSampleRate(), 48000.0);
    EXPECT_EQ (device->getCurrentBufferSizeSamples(), 128);
    EXPECT_EQ (device->getActiveInputChannels().countNumberOfSetBits(), 10);
    EXPECT_EQ (device->getActiveOutputChannels().countNumberOfSetBits(), 22);

    // The callback was registered and saw the start.
    EXPECT_EQ (engine->deviceStatus->sampleRate.value, 48000.0);
    EXPECT_EQ (engine->deviceStatus->bufferSize.value, 128u);
    EXPECT_EQ (engine->mixer->discardBuffer.getNumSamples(), 128);
    EXPECT_EQ (engine->aggregate.routes.size(), 6u);

    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);

    const auto setInput = "SetDefaultInputDevice " + std::to_string (virtualIds[0]);
    const auto setOutput = "SetDefaultOutputDevice " + std::to_string (virtualIds[0]);
    ASSERT_TRUE (Logged ("AudioDeviceOpen QUOR Aggregate"));
    ASSERT_TRUE (Logged (setInput));
    ASSERT_TRUE (Logged (setOutput));
    EXPECT_LT (LogIndex ("AudioDeviceOpen QUOR Aggregate"), LogIndex (setInput));
    EXPECT_LT (LogIndex (setInput), LogIndex (setOutput));
}

TEST_F (AggregateBuilderTest, FailedCreationWaitsThenChangesNothing)
{
    sim::InstallVirtualDriver();
    AddDevice (kVelmar, kMasterUid, 12);
    Engine();
    sim::InjectFault (sim::Fault::AggregateCreate);
    sim::ClearCallLog();
    const auto liveObjects = sim::LiveObjectCount();

    const auto start = std::chrono::steady_clock::now();
    const auto status = engine->CreateAggregateDevice (kVelmar, 1234);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_NE (status, 0);
    EXPECT_GE (elapsed, std::chrono::milliseconds (500));
    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);

    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (sim::AggregateDescriptions()[0].id, 0u);
    EXPECT_TRUE (sim::ExistingAggregates().empty());

    // Described, not created.
    EXPECT_EQ (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
    EXPECT_EQ (engine->aggregate.subDeviceUids.size(), 11u);
    EXPECT_EQ (engine->aggregate.name, "QUOR Aggregate");

    EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    EXPECT_FALSE (Logged ("AudioDeviceOpen QUOR Aggregate"));
    EXPECT_EQ (sim::DefaultInput(), builtInDevice);
    EXPECT_EQ (sim::DefaultOutput(), builtInDevice);
}

TEST_F (AggregateBuilderTest, FailedOpenKeepsTheAggregateAndTheDefaults)
{
    sim::InstallVirtualDriver();
    AddDevice (kVelmar, kMasterUid, 12);
    sim::InjectFault (sim::Fault::AudioDeviceOpen);

    EXPECT_EQ (Engine().CreateAggregateDevice (kVelmar, 99), 0);

    ASSERT_EQ (sim::ExistingAggregates().size(), 1u);
    EXPECT_EQ (engine->aggregate.deviceId, sim::ExistingAggregates()[0]);
    EXPECT_EQ (engine->aggregate.hidDeviceId, 99);
    EXPECT_EQ (sim::DefaultInput(), builtInDevice);
    EXPECT_EQ (sim::DefaultOutput(), builtInDevice);
}

TEST_F (AggregateBuilderTest, ABuildReplacesTheAggregateItRecorded)
{
    sim::InstallVirtualDriver();
    AddDevice (kVelmar, kMasterUid, 12);
    sim::InjectFault (sim::Fault::AudioDeviceOpen);
    ASSERT_EQ (Engine().CreateAggregateDevice (kVelmar, 1), 0);
    const auto first = engine->aggregate.deviceId;
    ASSERT_NE (first, 0u);

    sim::ClearFault (sim::Fault::AudioDeviceOpen);
    sim::ClearCallLog();
    ASSERT_EQ (engine->CreateAggregateDevice (kVelmar, 2), 0);

    EXPECT_TRUE (Logged ("AudioHardwareDestroyAggregateDevice " + std::to_string (first)));
    ASSERT_EQ (sim::ExistingAggregates().size(), 1u);
    EXPECT_NE (sim::ExistingAggregates()[0], first);
    EXPECT_EQ (engine->aggregate.deviceId, sim::ExistingAggregates()[0]);
}

TEST_F (AggregateBuilderTest, BypassOpensTheDeviceWithoutRouting)
{
    sim::InstallVirtualDriver();
    AddDevice (kVelmar, kMasterUid, 12);
    Engine().processingEnabled.Set (false);

    EXPECT_EQ (engine->CreateAggregateDevice (kVelmar, 1), 0);

    auto* device = engine->deviceManager.getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_TRUE (device->isPlaying());
    EXPECT_TRUE (engine->aggregate.routes.empty());
    EXPECT_EQ (engine->deviceStatus->sampleRate.value, 0.0);
    EXPECT_EQ (sim::DefaultInput(), sim::FindAudioDevice ("QuorVirtualAudioDevice_UID"));

    // Registering the callback later starts the routing on the open device.
    engine->deviceManager.addAudioCallback (engine->audioCallback.get());
    EXPECT_EQ (engine->aggregate.routes.size(), 6u);
    EXPECT_EQ (engine->deviceStatus->sampleRate.value, 48000.0);
}

} // namespace
