#include <tuple>

#include "EngineTestSupport.h"

namespace
{

using namespace enginetest;
using Texts = std::pair<juce::String, juce::String>;

class DeviceEventsTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        InstallDriver();
    }

    static std::string LastMixerUid()
    {
        const auto uids = SubDeviceUids (sim::AggregateDescriptions().back());
        return uids.size() == 11 ? uids.back() : std::string();
    }
};

// Every accepted unit, plugged after another has gone (the same one again, or
// another), is routed once its USB audio device shows, however late within the
// five seconds, and torn down when it goes.
TEST_F (DeviceEventsTest, EveryAcceptedMixerIsRoutedAgainAfterEachReplug)
{
    using Case = std::tuple<std::uint16_t, const char*, int, const char*>; // product, serial, audio delay, menu name
    MakeEngine();
    for (const auto& [productId, serial, audioDelayMs, shownName] :
         { Case { 114, "V1", 300, "Tavrolux Velmar (V1)" }, Case { 114, "V1", 0, "Tavrolux Velmar (V1)" },
           Case { 114, "V1", 3000, "Tavrolux Velmar (V1)" }, Case { 114, "V1", 0, "Tavrolux Velmar (V1)" },
           Case { 115, "T115", 0, "Tavrolux TESK (T115)" }, Case { 120, "V120", 4500, "Tavrolux Velmar (V120)" },
           Case { 121, "T121", 0, "Tavrolux TESK (T121)" } })
    {
        SCOPED_TRACE (std::to_string (productId) + " after " + std::to_string (audioDelayMs) + " ms");
        const auto mixer = Plug (productId, serial, audioDelayMs);
        Scan();
        ASSERT_NE (engine->deviceManager.getCurrentAudioDevice(), nullptr);
        EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (productId, serial));
        EXPECT_EQ (LastMixerUid(), AudioSystemUtils::GetDeviceUid (mixer.audio).toStdString());
        EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
        EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);
        ExpectTenSignalsRouted (mixer.audio);
        EXPECT_EQ (ShownTexts(), (Texts { shownName, "1.2.3" }));

        Unplug (mixer);
        Scan();
        EXPECT_EQ (engine->aggregate.deviceId, 0u);
        EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
        EXPECT_TRUE (engine->aggregate.routes.empty() && engine->aggregate.subDeviceUids.empty());
        EXPECT_EQ (engine->deviceManager.getCurrentAudioDevice(), nullptr);
        EXPECT_TRUE (sim::ExistingAggregates().empty());
        EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);
        EXPECT_EQ (ShownTexts(), (Texts { "", "" }));
    }
}

TEST_F (DeviceEventsTest, OnlyTheFourMixerModelsAreBuiltAndTheWaitEndsOnEitherModelsDevice)
{
    for (int productId : { 0x30, 0x37, 0x4F, 0x50, 0x63, 113, 114, 115, 116, 119, 120, 121, 122 })
        EXPECT_EQ (VirtualChannelsEngine::IsAcceptedProduct (productId),
                   productId == 114 || productId == 115 || productId == 120 || productId == 121)
            << productId;

    // A mixer whose audio device never shows: five seconds, then nothing.
    MakeEngine();
    Plug (114, "QV1", -1);
    Plug (0x63, "S99");
    Scan();
    // Older models, with their audio devices, are never built for.
    Plug (0x4F, "S4F");
    Plug (0x50, "S50");
    Scan();
    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    EXPECT_EQ (ShownTexts(), (Texts { "", "" }));

    // Yet their audio devices end a mixer's wait, though no match for it.
    engine->OnDeviceConnected (KeyOf (114, "QV1"));
    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (sim::AggregateDescriptions()[0].subDevices.size(), 10u);
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux Velmar (QV1)", "1.2.3" }));
}

TEST_F (DeviceEventsTest, ASecondMixerWaitsUntilTheOwnerGoesThenTakesOverInTheSameScan)
{
    MakeEngine (true);
    const auto first = Plug (114, "A1");
    Scan();
    const auto firstAggregate = engine->aggregate.deviceId;
    ASSERT_NE (firstAggregate, 0u);
    const auto second = Plug (115, "B1");
    Scan();
    EXPECT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux Velmar (A1)", "1.2.3" }));

    std::vector<juce::String> shown;
    engine->deviceName.Changed.connect ([&shown] (const juce::String& name) { shown.push_back (name); });
    sim::ClearCallLog();
    Unplug (first);
    Scan();

    EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (115, "B1"));
    ExpectTenSignalsRouted (second.audio);
    // Teardown first, the callback before the device, and no default written back.
    auto calls = LogLines ({ "CallbackStopped", "AudioDeviceStop", "AudioDeviceClose", "AudioHardware", "SetDefault" });
    calls.resize (std::min<std::size_t> (calls.size(), 5));
    EXPECT_EQ (calls, (std::vector<std::string> {
                          "CallbackStopped", "AudioDeviceStop QUOR Aggregate", "AudioDeviceClose QUOR Aggregate",
                          "AudioHardwareDestroyAggregateDevice " + std::to_string (firstAggregate),
                          "AudioHardwareCreateAggregateDevice " + std::to_string (engine->aggregate.deviceId) }));
    // The clear task was posted first, so the menu ends on the new unit.
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux TESK (B1)", "1.2.3" }));
    EXPECT_EQ (shown, (std::vector<juce::String> { "", "Tavrolux TESK (B1)" }));
}

} // namespace
