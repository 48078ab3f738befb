#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/QUORVirtualChannelsApplication.h"
#include "engine/EngineConstants.h"
#include "tests/e2e/ScenarioSupport.h"

namespace
{

using namespace e2e;

// A second of audio per signal: many blocks, each on the device's own thread.
constexpr int kSignalLength = 48000;

constexpr int kMixerOutputs = 12;

// The HID manager and the vendor-ID number in its matching criteria.
constexpr long kKeptForTheProcess = 2;

/** The description that created this aggregate. */
std::optional<sim::AggregateDescription> DescriptionOf (AudioObjectID aggregate)
{
    for (const auto& description : sim::AggregateDescriptions())
        if (description.id == aggregate)
            return description;

    return std::nullopt;
}

/** The whole program as it runs on a Mac, in one process: the application
    object driven the way JUCE drives it, its engine and status menu on the
    simulated machine, the message loop pumped, and every audio device running
    on its own real-time thread. */
class WholeProgramTest : public MachineTest
{
protected:
    WholeProgramTest() : MachineTest (sim::AudioClock::RealTime) {}

    void SetUp() override
    {
        MachineTest::SetUp();
        InstallDriver();
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
        { return new QUORVirtualChannelsApplication(); };
    }

    void TearDown() override
    {
        application.reset();
        juce::JUCEApplicationBase::createInstance = nullptr;
        MachineTest::TearDown();
    }

    /** Names the step of the scenario that any failure from now on belongs to. */
    void Step (const char* what)
    {
        step.reset();
        step.emplace (__FILE__, __LINE__, what);
    }

    /** What JUCE does from creating the application object up to its message loop. */
    void Start()
    {
        application = std::make_unique<QUORVirtualChannelsApplication>();
        application->initialise ({});
        tray = FindTrayMenu();
        ASSERT_NE (tray, nullptr) << "no status icon";
    }

    static sim::Mixer Plug (std::uint16_t productId, const std::string& serialNumber)
    {
        sim::MixerSpec spec;
        spec.productId = productId;
        spec.serialNumber = serialNumber;
        spec.versionNumber = 0x0123;
        spec.audioOutputs = kMixerOutputs;
        spec.audioDelayMs = 300;
        return sim::PlugMixer (spec);
    }

    /** Waits until the scan has probed the unit; the scan that probed it has
        then returned, with everything the engine did for it. */
    static bool AwaitProbe (const sim::Mixer& mixer)
    {
        return PumpUntil ([&mixer] { return sim::GetHidDeviceCounters (mixer.hid).closes > 0; }) && RunPostedTasks();
    }

    static bool AwaitAggregateOtherThan (AudioObjectID previous)
    {
        return PumpUntil (
            [previous]
            {
                const auto aggregates = sim::ExistingAggregates();
                return aggregates.size() == 1 && aggregates.front() != previous;
            });
    }

    /** Row `index` of the menu that a press on the icon drops down now. */
    MenuRow MenuRowAt (size_t index)
    {
        const auto rows = user.Press (*tray);
        EXPECT_EQ (rows.size(), 9u) << "the status menu did not open whole";
        return index < rows.size() ? rows[index] : MenuRow {};
    }

    /** Feeds a new signal into virtual devices 1 to 5 and waits for it on the mixer's outputs. */
    std::string RouteSignal (OutputRecorder& recorder)
    {
        const int tag = ++signalsFed;
        FeedVirtualDevices (virtualIds, tag, kSignalLength);
        return AwaitSignal (recorder, tag, kSignalLength);
    }

    std::unique_ptr<QUORVirtualChannelsApplication> application;
    TrayMenu* tray = nullptr;
    MenuUser user;
    int signalsFed = 0;
    std::optional<::testing::ScopedTrace> step;
};

TEST_F (WholeProgramTest, FromPluggingAMixerToQuitting)
{
    const auto objectsAtStart = sim::LiveObjectCount();
    ASSERT_NO_FATAL_FAILURE (Start());

    EXPECT_EQ (MenuRowAt (0), Line (1, "No Device Connected"));
    EXPECT_TRUE (sim::ExistingAggregates().empty());

    //==========================================================================
    Step ("a Velmar is plugged in");
    const auto velmar = Plug (114, "QV2400117");
    const std::string velmarUid = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";

    ASSERT_TRUE (PumpUntil (
        [this]
        {
            return sim::ExistingAggregates().size() == 1 && sim::DefaultInput() == virtualIds[0] &&
                   sim::DefaultOutput() == virtualIds[0];
        }))
        << "the mixer was never routed";
    ASSERT_TRUE (RunPostedTasks());

    const auto firstAggregate = sim::ExistingAggregates().front();
    const auto firstDescription = DescriptionOf (firstAggregate);
    ASSERT_TRUE (firstDescription.has_value());
    EXPECT_EQ (firstDescription->name, std::optional<std::string> ("QUOR Aggregate"));
    EXPECT_EQ (firstDescription->isPrivate, std::optional<std::int64_t> (1));
    EXPECT_EQ (firstDescription->master, std::optional<std::string> (velmarUid));

    std::vector<std::string> expectedUids;
    for (int device : { 6, 7, 8, 9, 10, 1, 2, 3, 4, 5 })
        expectedUids.push_back (kVirtualDeviceUids[device - 1].toStdString());
    expectedUids.push_back (velmarUid);
    EXPECT_EQ (SubDeviceUids (*firstDescription), expectedUids);

    EXPECT_EQ (MenuRowAt (0), Line (1, "Tavrolux Velmar (QV2400117)"));
    EXPECT_EQ (MenuRowAt (1), Line (2, "Firmware Version: 1.2.3"));

    OutputRecorder velmarOutputs (velmar.audio, kMixerOutputs);
    EXPECT_EQ (RouteSignal (velmarOutputs), "");

    // Nothing of the virtual devices reaches the mixer's last two outputs.
    for (int c : { 10, 11 })
        for (float sample : velmarOutputs.Channel (c))
            ASSERT_EQ (sample, 0.0f) << "mixer output " << c;

    //==========================================================================
    Step ("Bypass is ticked, then unticked");
    ASSERT_TRUE (user.Choose (*tray, "Bypass"));
    EXPECT_EQ (MenuRowAt (4), Choice ("Bypass", true));

    velmarOutputs.Clear();
    const int bypassedTag = ++signalsFed;
    FeedVirtualDevices (virtualIds, bypassedTag, kSignalLength);
    const auto blocksAtBypass = sim::AudioBlocksRun();
    const auto blocksForSignal = kSignalLength / 128 + 10;
    ASSERT_TRUE (PumpUntil (
        [&]
        {
            velmarOutputs.Poll();
            return sim::AudioBlocksRun() >= blocksAtBypass + blocksForSignal;
        }))
        << "the device stopped running while bypassed";

    for (int c = 0; c < kMixerOutputs; ++c)
    {
        ASSERT_FALSE (velmarOutputs.Channel (c).empty());
        for (float sample : velmarOutputs.Channel (c))
            ASSERT_EQ (sample, 0.0f) << "bypassed audio reached mixer output " << c;
    }

    ASSERT_TRUE (user.Choose (*tray, "Bypass"));
    EXPECT_EQ (MenuRowAt (4), Choice ("Bypass", false));
    velmarOutputs.Clear();
    EXPECT_EQ (RouteSignal (velmarOutputs), "");

    //==========================================================================
    Step ("a second accepted mixer is plugged in");
    const auto descriptionsBefore = sim::AggregateDescriptions().size();
    const auto tesk = Plug (115, "QT2300042");
    ASSERT_TRUE (AwaitProbe (tesk));

    EXPECT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { firstAggregate });
    EXPECT_EQ (sim::AggregateDescriptions().size(), descriptionsBefore);
    EXPECT_EQ (MenuRowAt (0), Line (1, "Tavrolux Velmar (QV2400117)"));
    velmarOutputs.Clear();
    EXPECT_EQ (RouteSignal (velmarOutputs), "");

    //==========================================================================
    Step ("the first mixer is unplugged");
    sim::UnplugMixer (velmar);
    ASSERT_TRUE (AwaitAggregateOtherThan (firstAggregate)) << "no aggregate was built for the second mixer";
    ASSERT_TRUE (RunPostedTasks());

    const auto secondAggregate = sim::ExistingAggregates().front();
    const auto secondDescription = DescriptionOf (secondAggregate);
    ASSERT_TRUE (secondDescription.has_value());
    EXPECT_EQ (secondDescription->master,
               std::optional<std::string> ("AppleUSBAudioEngine:QUOR:Tavrolux Tesk:QT2300042:4,5"));
    EXPECT_EQ (SubDeviceUids (*secondDescription).size(), 11u);

    EXPECT_EQ (MenuRowAt (0), Line (1, "Tavrolux TESK (QT2300042)"));
    EXPECT_EQ (MenuRowAt (1), Line (2, "Firmware Version: 1.2.3"));
    EXPECT_EQ (sim::DefaultInput(), virtualIds[0]);
    EXPECT_EQ (sim::DefaultOutput(), virtualIds[0]);

    OutputRecorder teskOutputs (tesk.audio, kMixerOutputs);
    EXPECT_EQ (RouteSignal (teskOutputs), "");

    //==========================================================================
    Step ("Quit is chosen");
    ASSERT_TRUE (user.Choose (*tray, "Quit"));
    ASSERT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());

    // What JUCE does once the message loop has ended.
    application->shutdown();
    application.reset();
    tray = nullptr;

    EXPECT_EQ (FindTrayMenu(), nullptr);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    EXPECT_EQ (sim::DefaultInput(), builtInInput);
    EXPECT_EQ (sim::DefaultOutput(), builtInOutput);

    // Only the HID manager stays, with the vendor-ID number that its matching
    // criteria hold: the detection keeps one reference to the manager for as
    // long as the process lives, so that the HID thread can never outlive it.
    sim::UnplugMixer (tesk);
    EXPECT_EQ (sim::LiveObjectCount(), objectsAtStart + kKeptForTheProcess);
}

} // namespace
