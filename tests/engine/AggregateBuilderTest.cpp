#include <chrono>

#include "EngineTestSupport.h"
#include "engine/EngineConstants.h"

namespace
{

using namespace enginetest;

const std::vector<std::string> kDescribedVirtualUids {
    "QuorVirtualAudioDevice_UID_6", "QuorVirtualAudioDevice_UID_7",  "QuorVirtualAudioDevice_UID_8",
    "QuorVirtualAudioDevice_UID_9", "QuorVirtualAudioDevice_UID_10", "QuorVirtualAudioDevice_UID",
    "QuorVirtualAudioDevice_UID_2", "QuorVirtualAudioDevice_UID_3",  "QuorVirtualAudioDevice_UID_4",
    "QuorVirtualAudioDevice_UID_5",
};

const char* const kVelmar = "Tavrolux Velmar Main Multitrack";
const std::string kMasterUid = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";

class AggregateBuilderTest : public EngineTest
{
protected:
    static void AddMixer (const std::string& name, const std::string& uid, int outputs)
    {
        AddDevice (name, uid, { outputs }, { outputs });
    }

    static std::vector<std::string> WithMixer (const std::string& mixerUid)
    {
        auto uids = kDescribedVirtualUids;
        uids.push_back (mixerUid);
        return uids;
    }

    void ExpectDefaultsUntouched() const
    {
        EXPECT_EQ (sim::DefaultInput(), builtInInput);
        EXPECT_EQ (sim::DefaultOutput(), builtInOutput);
    }
};

TEST_F (AggregateBuilderTest, OneVirtualDeviceBringsInAllTenInTheFixedOrder)
{
    // The driver's prefix counts anywhere in a UID.
    for (const char* uid : { "QuorVirtualAudioDevice_UID_3", "com.vendor.QuorVirtualAudioDevice_UID.extra" })
    {
        SetUp();
        AddMixer ("Virtual", uid, 2);
        EXPECT_EQ (MakeEngine().CreateAggregateDevice ("", 7), 0);

        const auto descriptions = sim::AggregateDescriptions();
        ASSERT_EQ (descriptions.size(), 1u) << uid;
        EXPECT_EQ (descriptions[0].name, "QUOR Aggregate");
        EXPECT_EQ (descriptions[0].uid, "com.Quor.VirtualChannelAggregate");
        EXPECT_EQ (SubDeviceUids (descriptions[0]), kDescribedVirtualUids);
        EXPECT_EQ (descriptions[0].master, "");
        EXPECT_EQ (descriptions[0].isPrivate, 1);
        EXPECT_EQ (engine->aggregate.deviceId, descriptions[0].id);
        EXPECT_EQ (engine->aggregate.numInputChannels, 10);
        EXPECT_EQ (engine->aggregate.numOutputChannels, 10);
        EXPECT_EQ (engine->aggregate.hidDeviceId, 7);
        engine.reset();
    }
}

TEST_F (AggregateBuilderTest, NothingToBuildCreatesNothing)
{
    // The prefix test is case-sensitive, and a one-output mixer is no candidate.
    AddMixer ("Virtual", "quorvirtualaudiodevice_uid", 2);
    AddMixer (kVelmar, kMasterUid, 1);

    EXPECT_EQ (MakeEngine().CreateAggregateDevice (kVelmar, 1), kAudioHardwareNotRunningError);

    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
    ExpectDefaultsUntouched();
}

TEST_F (AggregateBuilderTest, TheFirstMixerWithTheExactNameAndTwoOutputsIsTheClockMaster)
{
    struct Case
    {
        int outputs;
        int expectedOutputs;
    };

    for (const auto& c : { Case { 2, 12 }, Case { 24, 34 } })
    {
        SetUp();
        InstallDriver();
        AddMixer ("tavrolux velmar main multitrack", "wrong-case", 12);
        AddMixer (kVelmar, "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:mono:4,5", 1);
        AddMixer (kVelmar, kMasterUid, c.outputs);
        AddMixer (kVelmar, "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:second:4,5", 8);

        EXPECT_EQ (MakeEngine().CreateAggregateDevice (kVelmar, 1), 0);

        ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
        const auto description = sim::AggregateDescriptions()[0];
        EXPECT_EQ (SubDeviceUids (description), WithMixer (kMasterUid)) << c.outputs;
        EXPECT_EQ (description.master, kMasterUid);
        for (const auto& subDevice : description.subDevices)
            EXPECT_TRUE (subDevice.drift == 1 && subDevice.driftQuality == 64) << subDevice.uid;
        EXPECT_EQ (engine->aggregate.hardwareUid, juce::String (kMasterUid));
        EXPECT_EQ (engine->aggregate.numInputChannels, 10);
        EXPECT_EQ (engine->aggregate.numOutputChannels, c.expectedOutputs);
        engine.reset();
    }
}

TEST_F (AggregateBuilderTest, AUidWithOnlyPartOfTheMasterPatternGivesNoMaster)
{
    const std::string uid = "AppleUSBAudioEngine:QUOR:Tavrolux Tesk:QT2400001:4,6";
    AddMixer ("Tavrolux Tesk Main Multitrack", uid, 16);

    EXPECT_EQ (MakeEngine().CreateAggregateDevice ("Tavrolux Tesk Main Multitrack", 3), 0);

    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (SubDeviceUids (sim::AggregateDescriptions()[0]), std::vector<std::string> { uid });
    EXPECT_EQ (sim::AggregateDescriptions()[0].master, "");
}

TEST_F (AggregateBuilderTest, SuccessfulBuildOpensTheAggregateThenSwitchesTheDefaults)
{
    InstallDriver();
    AddMixer (kVelmar, kMasterUid, 12);
    sim::SetAggregateAppearDelay (100);
    sim::ClearCallLog();

    EXPECT_EQ (MakeEngine().CreateAggregateDevice (kVelmar, 1234), 0);

    ASSERT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { engine->aggregate.deviceId });
    auto* device = engine->deviceManager.getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_EQ (device->getName(), "QUOR Aggregate");
    EXPECT_EQ (device->getCurrentSampleRate(), 48000.0);
    EXPECT_EQ (device->getCurrentBufferSizeSamples(), 128);
    EXPECT_EQ (device->getActiveInputChannels().countNumberOfSetBits(), 10);
    EXPECT_EQ (device->getActiveOutputChannels().countNumberOfSetBits(), 22);
    EXPECT_EQ (engine->aggregate.routes.size(), 6u);

    const auto id = std::to_string (virtualIds[0]);
    EXPECT_EQ (LogLines ({ "AudioDeviceOpen", "SetDefault" }),
               (std::vector<std::string> { "AudioDeviceOpen QUOR Aggregate", "SetDefaultInputDevice " + id,
                                           "SetDefaultOutputDevice " + id }));
}

TEST_F (AggregateBuilderTest, FailedCreationWaitsThenChangesNothing)
{
    InstallDriver();
    AddMixer (kVelmar, kMasterUid, 12);
    MakeEngine();
    sim::InjectFault (sim::Fault::AggregateCreate);
    const auto liveObjects = sim::LiveObjectCount();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE (engine->CreateAggregateDevice (kVelmar, 1234), 0);
    EXPECT_GE (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (500));

    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    EXPECT_EQ (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
    EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    ExpectDefaultsUntouched();
}

TEST_F (AggregateBuilderTest, FailedOpenKeepsTheDefaultsAndTheNextBuildReplacesTheAggregate)
{
    InstallDriver();
    AddMixer (kVelmar, kMasterUid, 12);
    sim::InjectFault (sim::Fault::AudioDeviceOpen);

    EXPECT_EQ (MakeEngine().CreateAggregateDevice (kVelmar, 99), 0);
    const auto first = engine->aggregate.deviceId;
    ASSERT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { first });
    EXPECT_EQ (engine->aggregate.hidDeviceId, 99);
    ExpectDefaultsUntouched();

    sim::ClearFault (sim::Fault::AudioDeviceOpen);
    ASSERT_EQ (engine->CreateAggregateDevice (kVelmar, 2), 0);
    ASSERT_EQ (sim::ExistingAggregates().size(), 1u);
    EXPECT_NE (sim::ExistingAggregates()[0], first);
}

TEST_F (AggregateBuilderTest, BypassOpensTheDeviceWithoutTheCallback)
{
    InstallDriver();
    AddMixer (kVelmar, kMasterUid, 12);
    MakeEngine().processingEnabled.Set (false);

    EXPECT_EQ (engine->CreateAggregateDevice (kVelmar, 1), 0);

    auto* device = engine->deviceManager.getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_TRUE (device->isPlaying());
    EXPECT_TRUE (engine->aggregate.routes.empty());
    EXPECT_EQ (engine->deviceStatus->sampleRate.value, 0.0);
    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
}

} // namespace
