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

TEST_F (EngineLifecycleTest, WithoutTheDriverTheEngineWatchesNothingYetRestoresTheDefaults)
{
    AddDevice ("Loopback", "quorvirtualaudiodevice_uid", { 2 }); // the prefix is case-sensitive
    Plug (114, "QV1");
    engine = std::make_unique<VirtualChannelsEngine>();
    EXPECT_FALSE (engine->hidDevices->isTimerRunning());
    Scan();
    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    engine->processingEnabled.Set (false);
    EXPECT_EQ (engine->processingEnabled.Changed.slot_count(), 0u);

    // Whatever the defaults became meanwhile, the ones found at start come back.
    const auto headset = AddDevice ("USB Headset", "Headset", { 2 }, { 2 });
    sim::SetDefaultInput (headset);
    sim::SetDefaultOutput (headset);
    sim::ClearCallLog();
    engine.reset();
    EXPECT_EQ (LogLines (kReleaseCalls), (std::vector<std::string> { Call ("SetDefaultInputDevice", builtInInput),
                                                                     Call ("SetDefaultOutputDevice", builtInOutput) }));

    // With the driver it scans, and the HAL tells it of new devices without the message loop.
    InstallDriver();
    engine = std::make_unique<VirtualChannelsEngine>();
    EXPECT_TRUE (engine->hidDevices->isTimerRunning());
    const auto late = AddDevice ("Late", "late", { 2 });
    EXPECT_TRUE (PollWithoutMessageLoop ([late] { return AudioSystemUtils::TranslateUidToDevice ("late") == late; }));
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

TEST_F (EngineLifecycleTest, DestructionReleasesTheDeviceThenRestoresTheDefaultsThenDestroysTheAggregate)
{
    InstallDriver();
    // Virtual device 1 found as the default is what goes back.
    sim::SetDefaultInput (virtualIds[0]);
    Plug (114, "QV1");
    MakeEngine (true);
    Scan();
    const auto aggregateId = engine->aggregate.deviceId;
    ASSERT_NE (aggregateId, 0u);
    sim::SetDefaultInput (builtInInput);
    sim::ClearCallLog();
    engine.reset();

    // The callback hears of the stop from its removal, before the device stops.
    EXPECT_EQ (LogLines (kReleaseCalls),
               (std::vector<std::string> {
                   "CallbackStopped", "AudioDeviceStop QUOR Aggregate", "AudioDeviceClose QUOR Aggregate",
                   Call ("SetDefaultInputDevice", virtualIds[0]), Call ("SetDefaultOutputDevice", builtInOutput),
                   Call ("AudioHardwareDestroyAggregateDevice", aggregateId) }));
    EXPECT_TRUE (sim::ExistingAggregates().empty());
}

// Tasks still queued when the engine goes touch neither it nor a later one at its address.
TEST_F (EngineLifecycleTest, PostedTasksNeverRunAfterTheEngineIsDestroyed)
{
    InstallDriver();
    const auto mixer = Plug (114, "QV1");
    std::optional<VirtualChannelsEngine> slot; // each new engine at the same address as the last
    const auto scan = [&slot] (bool present)   // posts the unit's texts, or their clearing
    {
        EXPECT_TRUE (PollWithoutMessageLoop (
            [&]
            {
                slot->hidDevices->timerCallback();
                return slot->hidDevices->GetDeviceKeys().empty() != present;
            }));
    };
    slot.emplace();
    scan (true);
    slot.emplace();
    ASSERT_TRUE (RunPostedTasks());
    EXPECT_EQ (slot->deviceName.value, "");

    scan (true);
    ASSERT_TRUE (RunPostedTasks());
    sim::UnplugMixer (mixer);
    scan (false);
    slot.emplace();
    slot->deviceName.Set ("Tavrolux TESK (T1)");
    ASSERT_TRUE (RunPostedTasks());
    EXPECT_EQ (slot->deviceName.value, "Tavrolux TESK (T1)");
}

} // namespace
