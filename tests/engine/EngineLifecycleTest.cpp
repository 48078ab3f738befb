#include "EngineTestSupport.h"

#include <optional>

namespace
{

using enginetest::EngineTest;
using enginetest::LogLines;
using enginetest::PumpUntil;
using enginetest::RunPostedTasks;

const std::vector<std::string> kReleaseCalls { "CallbackStopped", "AudioDevice", "SetDefault",
                                               "AudioHardwareDestroyAggregateDevice" };

std::string Line (const std::string& call, AudioObjectID device)
{
    return call + " " + std::to_string (device);
}

AudioObjectID AddNamedDevice (const std::string& name, const std::string& uid, int outputs, bool isAggregate)
{
    sim::AudioDeviceSpec spec;
    spec.name = name;
    spec.uid = uid;
    spec.inputStreams = { 2 };
    if (outputs > 0)
        spec.outputStreams = { outputs };
    spec.isAggregate = isAggregate;
    return sim::AddAudioDevice (spec);
}

class EngineLifecycleTest : public EngineTest
{
};

TEST_F (EngineLifecycleTest, WithoutTheDriverTheEngineStaysInertAndStillRestoresTheDefaults)
{
    Plug (114, "QV1");
    auto& inert = MakeEngine (false);

    EXPECT_FALSE (inert.hidDevices->isTimerRunning());
    EXPECT_EQ (inert.latency.value, AudioSystemUtils::Latency::Low);

    // The detection itself works; the engine just does not listen to it.
    Scan();
    EXPECT_EQ (inert.hidDevices->GetDeviceKeys(), std::vector<int> { KeyOf (114, "QV1") });
    EXPECT_TRUE (sim::AggregateDescriptions().empty());

    inert.processingEnabled.Set (false);
    EXPECT_FALSE (inert.processingEnabled.value);
    EXPECT_EQ (inert.processingEnabled.Changed.slot_count(), 0u);

    ASSERT_TRUE (RunPostedTasks());
    EXPECT_EQ (inert.deviceName.value, "");
    EXPECT_EQ (inert.latency.value, AudioSystemUtils::Latency::Low);

    // Whatever the defaults became meanwhile, the ones found at start come back.
    const auto headset = AddNamedDevice ("USB Headset", "Headset", 2, false);
    sim::SetDefaultInput (headset);
    sim::SetDefaultOutput (headset);
    sim::ClearCallLog();
    engine.reset();

    EXPECT_EQ (LogLines (kReleaseCalls), (std::vector<std::string> { Line ("SetDefaultInputDevice", builtInInput),
                                                                     Line ("SetDefaultOutputDevice", builtInOutput) }));
    EXPECT_EQ (sim::DefaultInput(), builtInInput);
    EXPECT_EQ (sim::DefaultOutput(), builtInOutput);
}

TEST_F (EngineLifecycleTest, TheDriverIsFoundByItsUidPrefixAnywhereInAUid)
{
    AddNamedDevice ("Loopback", "quorvirtualaudiodevice_uid", 2, false);
    MakeEngine (false);
    EXPECT_FALSE (engine->hidDevices->isTimerRunning()) << "the prefix is case-sensitive";
    EXPECT_EQ (engine->hidDevices->DeviceConnected.slot_count(), 0u);

    AddNamedDevice ("Loopback 2", "com.example.QuorVirtualAudioDevice_UID.loop", 2, false);
    MakeEngine (false);
    EXPECT_TRUE (engine->hidDevices->isTimerRunning());
    EXPECT_EQ (engine->hidDevices->DeviceConnected.slot_count(), 1u);
    EXPECT_EQ (engine->hidDevices->DeviceDisconnected.slot_count(), 1u);
    EXPECT_EQ (engine->processingEnabled.Changed.slot_count(), 1u);
}

TEST_F (EngineLifecycleTest, EveryStaleAggregateGoesOnceOneOfThemHasOutputs)
{
    const auto first = AddNamedDevice ("QUOR Aggregate", "stale-1", 12, true);
    const auto other = AddNamedDevice ("QUOR Aggregate 2", "other", 12, true);
    const auto inputsOnly = AddNamedDevice ("QUOR Aggregate", "stale-2", 0, true);
    const auto second = AddNamedDevice ("QUOR Aggregate", "stale-3", 12, true);
    sim::ClearCallLog();

    MakeEngine();

    EXPECT_EQ (LogLines ({ "AudioHardwareDestroyAggregateDevice" }),
               (std::vector<std::string> { Line ("AudioHardwareDestroyAggregateDevice", first),
                                           Line ("AudioHardwareDestroyAggregateDevice", inputsOnly),
                                           Line ("AudioHardwareDestroyAggregateDevice", second) }));
    EXPECT_EQ (sim::FindAudioDevice ("stale-1"), 0u);
    EXPECT_EQ (sim::FindAudioDevice ("stale-3"), 0u);
    EXPECT_EQ (sim::FindAudioDevice ("other"), other);
}

TEST_F (EngineLifecycleTest, AStaleAggregateWithoutOutputsIsLeftAlone)
{
    const auto inputsOnly = AddNamedDevice ("QUOR Aggregate", "stale", 0, true);
    sim::ClearCallLog();

    MakeEngine();

    EXPECT_TRUE (LogLines ({ "AudioHardwareDestroyAggregateDevice" }).empty());
    EXPECT_EQ (sim::FindAudioDevice ("stale"), inputsOnly);
}

TEST_F (EngineLifecycleTest, DestructionWhileRoutingReleasesTheDeviceThenRestoresThenDestroys)
{
    InstallDriver();
    Plug (114, "QV1");
    MakeEngine();
    UseLoggingCallback();
    Scan();

    const auto aggregateId = engine->aggregate.deviceId;
    ASSERT_NE (aggregateId, 0u);
    ASSERT_EQ (sim::DefaultInput(), virtualIds[0]);
    ASSERT_EQ (sim::DefaultOutput(), virtualIds[0]);

    sim::ClearCallLog();
    engine.reset();

    // The callback hears of the stop from its removal, before the device
    // stops; had it still been registered, it would hear of it after.
    EXPECT_EQ (LogLines (kReleaseCalls),
               (std::vector<std::string> {
                   "CallbackStopped", "AudioDeviceStop QUOR Aggregate", "AudioDeviceClose QUOR Aggregate",
                   Line ("SetDefaultInputDevice", builtInInput), Line ("SetDefaultOutputDevice", builtInOutput),
                   Line ("AudioHardwareDestroyAggregateDevice", aggregateId) }));
    EXPECT_EQ (sim::DefaultInput(), builtInInput);
    EXPECT_EQ (sim::DefaultOutput(), builtInOutput);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
}

TEST_F (EngineLifecycleTest, VirtualDeviceOneFoundAsTheDefaultIsWhatGoesBack)
{
    InstallDriver();
    sim::SetDefaultInput (virtualIds[0]);
    sim::SetDefaultOutput (virtualIds[0]);
    Plug (115, "T1");
    MakeEngine();
    EXPECT_EQ (engine->savedDefaultInputDevice, virtualIds[0]);
    EXPECT_EQ (engine->savedDefaultOutputDevice, virtualIds[0]);
    Scan();
    ASSERT_NE (engine->aggregate.deviceId, 0u);

    sim::ClearCallLog();
    engine.reset();

    EXPECT_EQ (LogLines ({ "SetDefault" }),
               (std::vector<std::string> { Line ("SetDefaultInputDevice", virtualIds[0]),
                                           Line ("SetDefaultOutputDevice", virtualIds[0]) }));
    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);
}

TEST_F (EngineLifecycleTest, AnUnreadableDefaultIsSavedAndWrittenBackAsNone)
{
    InstallDriver();
    sim::FailProperty (kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice);
    MakeEngine();
    EXPECT_EQ (engine->savedDefaultInputDevice, 0u);
    EXPECT_EQ (engine->savedDefaultOutputDevice, builtInOutput);

    sim::ClearCallLog();
    engine.reset();

    EXPECT_EQ (LogLines (kReleaseCalls), (std::vector<std::string> { "SetDefaultInputDevice 0",
                                                                     Line ("SetDefaultOutputDevice", builtInOutput) }));
}

TEST_F (EngineLifecycleTest, TheTimerFindsAMixerAndLosesItAgain)
{
    InstallDriver();
    const auto mixer = Plug (114, "QV2400117", 300);
    MakeEngine (false);

    ASSERT_TRUE (PumpUntil ([this] { return engine->deviceName.value == "Tavrolux Velmar (QV2400117)"; }));
    EXPECT_EQ (engine->firmwareVersion.value, "1.2.3");
    EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (114, "QV2400117"));
    ASSERT_NE (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice()->getName(), "QUOR Aggregate");
    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);

    sim::UnplugMixer (mixer);

    ASSERT_TRUE (PumpUntil ([this] { return engine->deviceName.value.isEmpty(); }));
    EXPECT_EQ (engine->firmwareVersion.value, "");
    EXPECT_EQ (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    EXPECT_TRUE (sim::ExistingAggregates().empty());

    // A removal leaves the defaults alone; only the engine's end restores them.
    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);
}

//==============================================================================
// Tasks posted to the message thread that are still queued when the engine goes

TEST_F (EngineLifecycleTest, APublishTaskQueuedAtDestructionDoesNothing)
{
    InstallDriver();
    Plug (114, "QV1");
    MakeEngine();
    Scan();
    ASSERT_NE (engine->aggregate.deviceId, 0u);

    engine.reset();
    ASSERT_TRUE (RunPostedTasks());
}

TEST_F (EngineLifecycleTest, APublishTaskNeverReachesALaterEngineAtTheSameAddress)
{
    InstallDriver();
    Plug (114, "QV1");
    std::optional<VirtualChannelsEngine> slot;
    slot.emplace();
    slot->hidDevices->stopTimer();
    slot->hidDevices->timerCallback();
    ASSERT_NE (slot->aggregate.deviceId, 0u);

    slot.reset();
    slot.emplace();
    slot->hidDevices->stopTimer();
    ASSERT_TRUE (RunPostedTasks());

    EXPECT_EQ (slot->deviceName.value, "");
    EXPECT_EQ (slot->firmwareVersion.value, "");
    slot.reset();
}

TEST_F (EngineLifecycleTest, AClearTaskNeverReachesALaterEngineAtTheSameAddress)
{
    InstallDriver();
    const auto mixer = Plug (114, "QV1");
    std::optional<VirtualChannelsEngine> slot;
    slot.emplace();
    slot->hidDevices->stopTimer();
    slot->hidDevices->timerCallback();
    ASSERT_TRUE (RunPostedTasks());
    ASSERT_EQ (slot->deviceName.value, "Tavrolux Velmar (QV1)");

    sim::UnplugMixer (mixer);
    slot->hidDevices->timerCallback();
    ASSERT_EQ (slot->aggregate.deviceId, 0u);

    slot.reset();
    slot.emplace();
    slot->hidDevices->stopTimer();
    slot->deviceName.Set ("Tavrolux TESK (T1)");
    ASSERT_TRUE (RunPostedTasks());

    EXPECT_EQ (slot->deviceName.value, "Tavrolux TESK (T1)");
    slot.reset();
}

} // namespace
