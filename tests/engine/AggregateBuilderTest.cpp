#include <chrono>
#include <climits>

#include "EngineTestSupport.h"

namespace
{

using namespace enginetest;

const std::vector<std::string> kVirtualOrder {
    "QuorVirtualAudioDevice_UID_6", "QuorVirtualAudioDevice_UID_7",  "QuorVirtualAudioDevice_UID_8",
    "QuorVirtualAudioDevice_UID_9", "QuorVirtualAudioDevice_UID_10", "QuorVirtualAudioDevice_UID",
    "QuorVirtualAudioDevice_UID_2", "QuorVirtualAudioDevice_UID_3",  "QuorVirtualAudioDevice_UID_4",
    "QuorVirtualAudioDevice_UID_5",
};

const char* const kVelmar = "Tavrolux Velmar Main Multitrack";
const std::string kMaster = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";

using AggregateBuilderTest = EngineTest;

TEST_F (AggregateBuilderTest, DescribesTheVirtualDevicesThenTheFirstFittingMixerDevice)
{
    struct Device
    {
        std::string name, uid;
        int outputs;
    };
    struct Case
    {
        const char* what;
        std::vector<Device> devices;
        const char* multitrack;
        bool virtualDevices;
        std::string mixerUid, master;
        int outputs;
    };
    const std::string partial = "AppleUSBAudioEngine:QUOR:Tavrolux:4,6";
    const Device third { "V3", "QuorVirtualAudioDevice_UID_3", 2 }, infix { "V", "x.QuorVirtualAudioDevice_UID.y", 2 };
    const Device mono { kVelmar, "mono", 1 }, stereo { kVelmar, kMaster, 2 }, wide { kVelmar, kMaster, 24 };
    const Device wrongCase { "tavrolux velmar main multitrack", "case", 8 }, second { kVelmar, "2nd", 8 };
    const Device inexact { kVelmar, partial, 16 }, huge { kVelmar, "huge", INT_MAX }, mixer { kVelmar, kMaster, 12 };
    const Case cases[] = {
        { "one virtual device brings all ten", { third }, "", true, "", "", 10 },
        { "the prefix counts anywhere", { infix }, kVelmar, true, "", "", 10 },
        { "one output is too few, two will do", { third, mono, stereo }, kVelmar, true, kMaster, kMaster, 12 },
        { "exact name, the first of two", { third, wrongCase, wide, second }, kVelmar, true, kMaster, kMaster, 34 },
        { "part of the pattern is no master", { inexact }, kVelmar, false, partial, "", 16 },
        { "nor is the other part", { { kVelmar, "USB:4,5", 16 } }, kVelmar, false, "USB:4,5", "", 16 },
        { "an absurd count is no candidate", { huge, mixer }, kVelmar, false, kMaster, kMaster, 12 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SetUp();
        for (const auto& device : c.devices)
        {
            // A real device of 2^31-1 channels would not fit in memory: the HAL's answer claims it.
            const auto id =
                AddDevice (device.name, device.uid, { device.outputs == INT_MAX ? 2 : device.outputs }, { 2 });
            if (device.outputs == INT_MAX)
                sim::OverrideProperty (id, kAudioDevicePropertyStreamConfiguration,
                                       StreamConfiguration (1, { UInt32 (INT_MAX) }));
        }
        EXPECT_EQ (MakeEngine().CreateAggregateDevice (c.multitrack, 7), 0);

        auto expectedUids = c.virtualDevices ? kVirtualOrder : std::vector<std::string> {};
        if (!c.mixerUid.empty())
            expectedUids.push_back (c.mixerUid);
        const auto descriptions = sim::AggregateDescriptions();
        ASSERT_EQ (descriptions.size(), 1u);
        EXPECT_EQ (descriptions[0].name, "QUOR Aggregate");
        EXPECT_EQ (descriptions[0].uid, "com.Quor.VirtualChannelAggregate");
        EXPECT_EQ (SubDeviceUids (descriptions[0]), expectedUids);
        for (const auto& subDevice : descriptions[0].subDevices)
            EXPECT_TRUE (subDevice.drift == 1 && subDevice.driftQuality == 64) << subDevice.uid;
        EXPECT_EQ (descriptions[0].master, c.master);
        EXPECT_EQ (descriptions[0].isPrivate, 1);
        EXPECT_EQ (engine->aggregate.deviceId, descriptions[0].id);
        EXPECT_EQ (engine->aggregate.hidDeviceId, 7);
        EXPECT_EQ (engine->aggregate.hardwareUid, juce::String (c.mixerUid));
        EXPECT_EQ (engine->aggregate.numInputChannels, c.virtualDevices ? 10 : 0);
        EXPECT_EQ (engine->aggregate.numOutputChannels, c.outputs);
        if (!c.virtualDevices)
        {
            // Never more channels asked for than the opened device has.
            ASSERT_NE (engine->deviceManager.getCurrentAudioDevice(), nullptr);
            EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice()->getActiveOutputChannels().countNumberOfSetBits(),
                       c.outputs);
        }
        engine.reset();
    }
    // Nothing to build: the prefix is case-sensitive, and the mixer has one output.
    SetUp();
    AddDevice ("V", "quorvirtualaudiodevice_uid", { 2 });
    AddDevice (kVelmar, kMaster, { 1 });
    EXPECT_EQ (MakeEngine().CreateAggregateDevice (kVelmar, 1), kAudioHardwareNotRunningError);
    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
}

// The open waits for the new aggregate to be listed; then the defaults move to virtual device 1.
TEST_F (AggregateBuilderTest, OpensTheListedAggregateThenSwitchesTheDefaults)
{
    InstallDriver();
    AddDevice (kVelmar, kMaster, { 12 }, { 12 });
    sim::SetAggregateAppearDelay (400);
    MakeEngine();
    sim::ClearCallLog();

    EXPECT_EQ (engine->CreateAggregateDevice (kVelmar, 1234), 0);
    EXPECT_EQ (engine->aggregate.hidDeviceId, 1234);
    auto* device = engine->deviceManager.getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_EQ (device->getName(), "QUOR Aggregate");
    EXPECT_EQ (device->getCurrentSampleRate(), 48000.0);
    EXPECT_EQ (device->getCurrentBufferSizeSamples(), 128);
    EXPECT_EQ (device->getActiveInputChannels().countNumberOfSetBits(), 10);
    EXPECT_EQ (device->getActiveOutputChannels().countNumberOfSetBits(), 22);
    const auto id = std::to_string (virtualIds[0]);
    EXPECT_EQ (LogLines ({ "AudioDeviceOpen", "SetDefault" }),
               (std::vector<std::string> { "AudioDeviceOpen QUOR Aggregate", "SetDefaultInputDevice " + id,
                                           "SetDefaultOutputDevice " + id }));
}

TEST_F (AggregateBuilderTest, FailuresChangeNoDefaultsAndTheNextBuildReplacesTheAggregate)
{
    InstallDriver();
    AddDevice (kVelmar, kMaster, { 12 }, { 12 });
    MakeEngine();
    const auto liveObjects = sim::LiveObjectCount();

    // A failed creation still waits for the device, then returns its status.
    sim::InjectFault (sim::Fault::AggregateCreate);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE (engine->CreateAggregateDevice (kVelmar, 5), 0);
    EXPECT_GE (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (500));
    sim::ClearFault (sim::Fault::AggregateCreate);
    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
    EXPECT_EQ (engine->aggregate.subDeviceUids.size(), 11u);

    // An aggregate not listed within 500 ms, or a failed open: no device, the defaults stay.
    sim::SetAggregateAppearDelay (650);
    EXPECT_EQ (engine->CreateAggregateDevice (kVelmar, 98), 0);
    sim::SetAggregateAppearDelay (0);
    sim::InjectFault (sim::Fault::AudioDeviceOpen);
    EXPECT_EQ (engine->CreateAggregateDevice (kVelmar, 99), 0);
    sim::ClearFault (sim::Fault::AudioDeviceOpen);
    const auto first = engine->aggregate.deviceId;
    EXPECT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { first });
    EXPECT_EQ (engine->aggregate.hidDeviceId, 99);
    EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    EXPECT_EQ (sim::DefaultInput(), builtInInput);
    EXPECT_EQ (sim::DefaultOutput(), builtInOutput);

    // Built while "Bypass" is ticked: open, playing, but not routing.
    engine->processingEnabled.Set (false);
    ASSERT_EQ (engine->CreateAggregateDevice (kVelmar, 2), 0);
    ASSERT_EQ (sim::ExistingAggregates().size(), 1u);
    EXPECT_NE (sim::ExistingAggregates()[0], first);
    auto* device = engine->deviceManager.getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_TRUE (device->isPlaying());
    EXPECT_TRUE (engine->aggregate.routes.empty());
    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);
}

} // namespace
