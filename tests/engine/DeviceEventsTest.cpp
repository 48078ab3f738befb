#include "EngineTestSupport.h"

#include "devices/HidDeviceRegistry.h"

namespace
{

using namespace enginetest;

/** Every registry id taken, as with a hundred HID devices open: a new unit
    cannot be probed, so its serial number and firmware stay unread. */
class FullHidRegistry
{
public:
    FullHidRegistry()
    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);

        for (std::uint32_t id = 0; id < static_cast<std::uint32_t> (kMaxHidDevices); ++id)
            if (HidDeviceRegistry::devicesById.emplace (id, nullptr).second)
                taken.push_back (id);
    }

    ~FullHidRegistry()
    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);

        for (const auto id : taken)
            HidDeviceRegistry::devicesById.erase (id);
    }

private:
    std::vector<std::uint32_t> taken;
};

class DeviceEventsTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        InstallDriver();
    }

    /** Texts as the menu would show them once the posted tasks have run. */
    std::pair<juce::String, juce::String> ShownTexts()
    {
        EXPECT_TRUE (RunPostedTasks());
        return { engine->deviceName.value, engine->firmwareVersion.value };
    }

    /** What mixer output 0 received over two blocks while virtual device 1's
        first channel carried a ramp. */
    std::vector<float> RouteOneRamp (const sim::Mixer& mixer)
    {
        sim::TakeOutput (mixer.audio, 0);
        sim::FeedInput (virtualIds[0], 0, Ramp());
        sim::RunAudioBlocks (2);
        return sim::TakeOutput (mixer.audio, 0);
    }

    static std::vector<float> Ramp()
    {
        std::vector<float> samples;

        for (int i = 0; i < 256; ++i)
            samples.push_back (static_cast<float> (i + 1) / 512.0f);

        return samples;
    }

    static std::string AudioUid (const sim::Mixer& mixer)
    {
        return AudioSystemUtils::GetDeviceUid (mixer.audio).toStdString();
    }
};

using Texts = std::pair<juce::String, juce::String>;

TEST_F (DeviceEventsTest, EachAcceptedMixerIsBuiltWithItsOwnAudioDeviceAndTornDownWhenItGoes)
{
    MakeEngine();

    struct Case
    {
        std::uint16_t productId;
        const char* serial;
        const char* shownName;
        int audioDelayMs;
    };

    // The first unit's audio device shows only a while after its HID interface: the scan waits for it.
    for (const auto& c :
         { Case { 114, "V114", "Tavrolux Velmar (V114)", 400 }, Case { 115, "T115", "Tavrolux TESK (T115)", 0 },
           Case { 120, "V120", "Tavrolux Velmar (V120)", 0 }, Case { 121, "T121", "Tavrolux TESK (T121)", 0 } })
    {
        SCOPED_TRACE (c.productId);
        const auto mixer = Plug (c.productId, c.serial, c.audioDelayMs);
        Scan();

        EXPECT_NE (engine->aggregate.deviceId, 0u);
        EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (c.productId, c.serial));
        ASSERT_EQ (LastDescribedUids().size(), 11u);
        EXPECT_EQ (LastDescribedUids().back(), AudioUid (mixer));
        EXPECT_EQ (ShownTexts(), (Texts { c.shownName, "1.2.3" }));

        sim::UnplugMixer (mixer);
        Scan();

        EXPECT_EQ (engine->aggregate.deviceId, 0u);
        EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
        EXPECT_TRUE (engine->aggregate.routes.empty());
        EXPECT_TRUE (engine->aggregate.subDeviceUids.empty());
        EXPECT_TRUE (sim::ExistingAggregates().empty());
        EXPECT_EQ (ShownTexts(), (Texts { "", "" }));
    }
}

TEST_F (DeviceEventsTest, OtherProductsOfTheMakerAreIgnored)
{
    MakeEngine();

    // Older models of both mixers, with their audio devices listed, and another product.
    for (std::uint16_t productId : { 0x30, 0x37, 0x4F, 0x50, 0x63 })
        Plug (productId, "S" + std::to_string (productId));

    Scan();

    EXPECT_EQ (engine->hidDevices->GetDeviceKeys().size(), 5u);
    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    EXPECT_EQ (ShownTexts(), (Texts { "", "" }));

    // 116 to 119 have no row in the known-product table, so no scan brings them here.
    for (int productId = 110; productId <= 125; ++productId)
        EXPECT_EQ (VirtualChannelsEngine::IsAcceptedProduct (productId),
                   productId == 114 || productId == 115 || productId == 120 || productId == 121)
            << productId;
}

TEST_F (DeviceEventsTest, AMixerWhoseAudioDeviceNeverShowsGetsNothing)
{
    MakeEngine();
    Plug (114, "QV1", -1);

    Scan();

    EXPECT_TRUE (sim::AggregateDescriptions().empty());
    EXPECT_EQ (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (ShownTexts(), (Texts { "", "" }));
}

TEST_F (DeviceEventsTest, ASecondMixerChangesNothingUntilTheOwnerGoesThenTakesOverInTheSameScan)
{
    MakeEngine();
    UseLoggingCallback();
    const auto first = Plug (114, "A1");
    Scan();
    const auto firstAggregate = engine->aggregate.deviceId;
    ASSERT_NE (firstAggregate, 0u);

    sim::Mixer second;
    for (int round = 0; round < 2; ++round)
    {
        second = Plug (115, round == 0 ? "B0" : "B1");
        Scan();
        EXPECT_EQ (sim::AggregateDescriptions().size(), 1u);
        EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (114, "A1"));
        EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux Velmar (A1)", "1.2.3" }));
        if (round == 0)
        {
            sim::UnplugMixer (second);
            Scan();
            EXPECT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { firstAggregate });
        }
    }
    ASSERT_TRUE (RunPostedTasks());

    std::vector<juce::String> shown;
    engine->deviceName.Changed.connect ([&shown] (const juce::String& name) { shown.push_back (name); });
    sim::ClearCallLog();

    sim::UnplugMixer (first);
    Scan();

    EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (115, "B1"));
    EXPECT_EQ (LastDescribedUids().back(), AudioUid (second));
    EXPECT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { engine->aggregate.deviceId });

    // Teardown first, callback before the device, and no default written back.
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

TEST_F (DeviceEventsTest, OnlyTheSmallestRemainingKeyWithDetailsIsOffered)
{
    // A mixer waits without an aggregate after its build failed.
    const std::string mixerSerial = "M1";
    std::string otherSerial;

    for (int i = 0; otherSerial.empty() || KeyOf (0x63, otherSerial) > KeyOf (114, mixerSerial); ++i)
        otherSerial = "N" + std::to_string (i);

    MakeEngine();
    sim::InjectFault (sim::Fault::AggregateCreate);
    Plug (114, mixerSerial);
    const auto other = Plug (0x63, otherSerial);
    const auto passing = Plug (0x63, "R1");
    Scan();
    sim::ClearFault (sim::Fault::AggregateCreate);
    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    ASSERT_EQ (engine->aggregate.deviceId, 0u);

    // No key, or a key without details, offers nothing.
    engine->OnDeviceConnected (-1);
    engine->OnDeviceConnected (KeyOf (114, "GONE"));
    engine->OnDeviceDisconnected (-1);
    EXPECT_EQ (sim::AggregateDescriptions().size(), 1u);

    // The other product holds the smallest key: offering it builds nothing.
    sim::UnplugMixer (passing);
    Scan();
    EXPECT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (engine->aggregate.deviceId, 0u);

    // Once it has gone, the mixer's key is the smallest.
    sim::UnplugMixer (other);
    Scan();
    EXPECT_EQ (sim::AggregateDescriptions().size(), 2u);
    EXPECT_EQ (engine->aggregate.hidDeviceId, KeyOf (114, mixerSerial));
}

TEST_F (DeviceEventsTest, AFailedBuildStillShowsItsTextsAndUnpluggingLeavesThem)
{
    MakeEngine();
    sim::InjectFault (sim::Fault::AggregateCreate);
    const auto mixer = Plug (120, "F1");

    Scan();
    EXPECT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (engine->aggregate.hidDeviceId, -1);
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux Velmar (F1)", "1.2.3" }));

    sim::UnplugMixer (mixer);
    Scan();
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux Velmar (F1)", "1.2.3" }));
}

TEST_F (DeviceEventsTest, AnEmptySerialAndUnreadFirmwareShowAsSuch)
{
    MakeEngine();
    sim::MixerSpec spec;
    spec.serialNumber = "";
    spec.locationId.reset();
    spec.versionNumber = 0x0A57;
    spec.audioDelayMs = 0;
    const auto noSerial = sim::PlugMixer (spec);
    Scan();
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux Velmar ()", "10.5.7" }));

    sim::UnplugMixer (noSerial);
    Scan();
    ASSERT_EQ (engine->aggregate.deviceId, 0u);

    {
        FullHidRegistry full;
        Plug (115, "T1");
        Scan();
    }

    EXPECT_NE (engine->aggregate.deviceId, 0u);
    EXPECT_EQ (ShownTexts(), (Texts { "Tavrolux TESK ()", "255.255.255" }));
}

TEST_F (DeviceEventsTest, BypassStopsTheRoutingAndUntickingRebuildsIt)
{
    MakeEngine();
    const auto mixer = Plug (114, "QV1");
    Scan();
    ASSERT_NE (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    ASSERT_EQ (RouteOneRamp (mixer), Ramp());

    engine->processingEnabled.Set (false);

    // With no callback left, the device manager sends silence.
    EXPECT_EQ (RouteOneRamp (mixer), std::vector<float> (256, 0.0f));
    EXPECT_NE (engine->deviceManager.getCurrentAudioDevice(), nullptr);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);

    // Forget the routes and the stream details: only a fresh start brings them back.
    engine->aggregate.routes.clear();
    engine->audioCallback->CompileRoutes();
    engine->deviceStatus->sampleRate.Set (0.0);

    engine->processingEnabled.Set (true);

    EXPECT_FALSE (engine->aggregate.routes.empty());
    EXPECT_EQ (engine->deviceStatus->sampleRate.value, 48000.0);
    EXPECT_EQ (RouteOneRamp (mixer), Ramp());
}

} // namespace
