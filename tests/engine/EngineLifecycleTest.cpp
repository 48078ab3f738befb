#include <optional>

#include "EngineTestSupport.h"

namespace
{

using namespace enginetest;

const std::vector<std::string> kReleaseCalls { "CallbackStopped", "AudioDevice", "SetDefault",
                                               "AudioHardwareDestroyAggregateDevice" };

std::string Call (const std::string& call, AudioObjectID device)
{
    return call + " " + std::to_string (device);
}

using EngineLifecycleTest = EngineTest;

TEST_F (EngineLifecycleTest, WithoutTheDriverTheEngineStaysInertAndStillRestoresTheDefaults)
{
    AddDevice ("Loopback", "quorvirtualaudiodevice_uid", { 2 }); // the prefix is case-sensitive
    Plug (114, "QV1");
    auto& inert = MakeEngine (false);

    EXPECT_FALSE (inert.hidDevices->isTimerRunning());
    Scan();
    EXPECT_EQ (inert.hidDevices->GetDeviceKeys(), std::vector<int> { KeyOf (114, "QV1") });
    EXPECT_TRUE (sim::AggregateDescriptions().empty());

    inert.processingEnabled.Set (false);
    EXPECT_FALSE (inert.processingEnabled.value);
    EXPECT_EQ (inert.processingEnabled.Changed.slot_count(), 0u);

    // Whatever the defaults became meanwhile, the ones found at start come back.
    const auto headset = AddDevice ("USB Headset", "Headset", { 2 }, { 2 });
    sim::SetDefaultInput (headset);
    sim::SetDefaultOutput (headset);
    sim::ClearCallLog();
    engine.reset();

    EXPECT_EQ (LogLines (kReleaseCalls), (std::vector<std::string> { Call ("SetDefaultInputDevice", builtInInput),
                                                                     Call ("SetDefaultOutputDevice", builtInOutput) }));
}

TEST_F (EngineLifecycleTest, StaleAggregatesGoOnlyOnceOneOfThemHasOutputs)
{
    const auto inputsOnly = AddDevice ("QUOR Aggregate", "stale-2", {}, { 2 }, true);
    MakeEngine();
    EXPECT_EQ (sim::FindAudioDevice ("stale-2"), inputsOnly);

    const auto first = AddDevice ("QUOR Aggregate", "stale-1", { 12 }, { 2 }, true);
    const auto other = AddDevice ("QUOR Aggregate 2", "other", { 12 }, { 2 }, true);
    const auto second = AddDevice ("QUOR Aggregate", "stale-3", { 12 }, { 2 }, true);
    engine.reset();
    sim::ClearCallLog();
    MakeEngine();

    EXPECT_EQ (LogLines ({ "AudioHardwareDestroyAggregateDevice" }),
               (std::vector<std::string> { Call ("AudioHardwareDestroyAggregateDevice", inputsOnly),
                                           Call ("AudioHardwareDestroyAggregateDevice", first),
                                           Call ("AudioHardwareDestroyAggregateDevice", second) }));
    EXPECT_EQ (sim::FindAudioDevice ("other"), other);
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
    ASSERT_EQ (sim::DefaultOutput(), virtualIds[0]);

    sim::ClearCallLog();
    engine.reset();

    // The callback hears of the stop from its removal, before the device
    // stops; had it still been registered, it would hear of it after.
    EXPECT_EQ (LogLines (kReleaseCalls),
               (std::vector<std::string> {
                   "CallbackStopped", "AudioDeviceStop QUOR Aggregate", "AudioDeviceClose QUOR Aggregate",
                   Call ("SetDefaultInputDevice", builtInInput), Call ("SetDefaultOutputDevice", builtInOutput),
                   Call ("AudioHardwareDestroyAggregateDevice", aggregateId) }));
    EXPECT_TRUE (sim::ExistingAggregates().empty());
}

TEST_F (EngineLifecycleTest, VirtualDeviceOneFoundAsTheDefaultIsWhatGoesBack)
{
    InstallDriver();
    sim::SetDefaultInput (virtualIds[0]);
    sim::SetDefaultOutput (virtualIds[0]);
    Plug (115, "T1");
    MakeEngine();
    Scan();
    ASSERT_NE (engine->aggregate.deviceId, 0u);
    sim::SetDefaultInput (builtInInput);
    sim::SetDefaultOutput (builtInOutput);

    engine.reset();

    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);
}

// Tasks posted to the message thread that are still queued when the engine goes
// must neither touch it nor a later engine at the same address.
TEST_F (EngineLifecycleTest, PostedTasksNeverRunAfterTheEngineIsDestroyed)
{
    InstallDriver();
    const auto mixer = Plug (114, "QV1");
    std::optional<VirtualChannelsEngine> slot;
    slot.emplace();
    slot->hidDevices->stopTimer();
    slot->hidDevices->timerCallback(); // posts the texts of the unit
    ASSERT_NE (slot->aggregate.deviceId, 0u);

    slot.reset();
    slot.emplace();
    slot->hidDevices->stopTimer();
    ASSERT_TRUE (RunPostedTasks());
    EXPECT_EQ (slot->deviceName.value, "");
    EXPECT_EQ (slot->firmwareVersion.value, "");

    slot->hidDevices->timerCallback();
    ASSERT_TRUE (RunPostedTasks());
    sim::UnplugMixer (mixer);
    slot->hidDevices->timerCallback(); // posts the clearing of the texts

    slot.reset();
    slot.emplace();
    slot->hidDevices->stopTimer();
    slot->deviceName.Set ("Tavrolux TESK (T1)");
    ASSERT_TRUE (RunPostedTasks());
    EXPECT_EQ (slot->deviceName.value, "Tavrolux TESK (T1)");
    slot.reset();
}

} // namespace
