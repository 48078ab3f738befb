#include <gtest/gtest.h>

#include "app/AppInfo.h"
#include "app/QUORVirtualChannelsApplication.h"
#include "tests/e2e/ScenarioSupport.h"

namespace
{

using namespace e2e;

constexpr int kSignalLength = 48000; // a second: many blocks, each on the device's own thread

// The whole program in one process: the application object driven as JUCE
// drives it, the message loop pumped, every audio device on its own thread.
struct WholeProgramTest : MachineTest
{
    WholeProgramTest() : MachineTest (sim::AudioClock::RealTime) {}
};

TEST_F (WholeProgramTest, FromPluggingAMixerToQuitting)
{
    const auto silent = [] (const std::vector<float>& s) { return !s.empty() && s == std::vector<float> (s.size()); };
    const auto aggregateStarts = [] { return LogLines ({ "AudioDeviceStart QUOR Aggregate" }).size(); };
    InstallDriver();
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
    { return new QUORVirtualChannelsApplication(); };
    auto application = std::make_unique<QUORVirtualChannelsApplication>();
    application->initialise ({});
    auto* tray = FindTrayMenu();
    MenuUser user;
    const auto menu = [&]
    {
        auto rows = user.Press (*tray);
        return rows.resize (9), rows;
    };

    ASSERT_NE (tray, nullptr) << "no status icon";
    EXPECT_EQ (menu()[0], Line (1, "No Device Connected"));

    AudioObjectID previousAggregate = 0;
    sim::Mixer mixer;
    int tag = 0; // of the last signal fed

    // The same Velmar four times, then a TESK whose USB audio device shows
    // three seconds after its HID interface.
    for (int arrival = 1; arrival <= 5; ++arrival)
    {
        const bool tesk = arrival == 5;
        const std::string serial = tesk ? "QT2300042" : "QV2400117";
        const auto name = (tesk ? "Tavrolux TESK (" : "Tavrolux Velmar (") + serial + ")";
        SCOPED_TRACE ("arrival " + std::to_string (arrival) + ": " + name);

        const auto startsBefore = aggregateStarts();
        sim::MixerSpec spec;
        spec.productId = tesk ? 115 : 114;
        spec.serialNumber = serial;
        spec.audioDelayMs = tesk ? 3000 : 300;
        mixer = sim::PlugMixer (spec);

        ASSERT_TRUE (PumpUntil (
            [&]
            {
                const auto aggregates = sim::ExistingAggregates();
                return aggregates.size() == 1 && aggregates.front() != previousAggregate &&
                       aggregateStarts() > startsBefore && sim::DefaultInput() == virtualIds[0] &&
                       sim::DefaultOutput() == virtualIds[0];
            }));
        ASSERT_TRUE (RunPostedTasks());

        previousAggregate = sim::ExistingAggregates().front();
        EXPECT_EQ (menu(), (std::vector<MenuRow> { Line (1, name), Line (2, "Firmware Version: 1.2.3"),
                                                   Line (3, juce::String ("App Version: ") + AppInfo::kVersion),
                                                   Separator(), Choice ("Bypass"), Line (5, "Latency: Low"),
                                                   Separator(), Choice ("User Guide"), Choice ("Quit") }));

        std::vector<std::vector<float>> outputs;
        FeedVirtualDevices (virtualIds, ++tag, kSignalLength);
        ASSERT_TRUE (AwaitSignal (mixer.audio, tag, kSignalLength, outputs)) << "outputs 0-9 lack the signal";
        for (int c : { 10, 11 })
            EXPECT_TRUE (silent (outputs[size_t (c)])) << "a virtual device reached mixer output " << c;

        if (arrival == 1)
        {
            ASSERT_TRUE (user.Choose (*tray, "Bypass"));
            EXPECT_EQ (menu()[4], Choice ("Bypass", true));
            FeedVirtualDevices (virtualIds, 100, kSignalLength);
            const auto blocksEnough = sim::AudioBlocksRun() + kSignalLength / 128 + 10;
            ASSERT_TRUE (PumpUntil ([&] { return sim::AudioBlocksRun() >= blocksEnough; }));
            for (int c = 0; c < 12; ++c)
                EXPECT_TRUE (silent (sim::TakeOutput (mixer.audio, c))) << "bypassed audio reached mixer output " << c;

            ASSERT_TRUE (user.Choose (*tray, "Bypass"));
            EXPECT_EQ (menu()[4], Choice ("Bypass", false));
            FeedVirtualDevices (virtualIds, ++tag, kSignalLength);
            EXPECT_TRUE (AwaitSignal (mixer.audio, tag, kSignalLength, outputs)) << "after Bypass was unticked";
        }

        if (tesk)
            break;
        sim::UnplugMixer (mixer);
        ASSERT_TRUE (PumpUntil ([] { return sim::ExistingAggregates().empty(); })) << "the aggregate stayed";
        ASSERT_TRUE (RunPostedTasks());
        EXPECT_EQ (menu()[0], Line (1, "No Device Connected"));

        // The user picks the built-in devices while no mixer is there.
        sim::SetDefaultInput (builtInInput);
        sim::SetDefaultOutput (builtInOutput);
    }

    ASSERT_TRUE (user.Choose (*tray, "Quit"));
    ASSERT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());

    // What JUCE does once the message loop has ended.
    application->shutdown();
    application.reset();
    juce::JUCEApplicationBase::createInstance = nullptr;
    EXPECT_EQ (FindTrayMenu(), nullptr);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    EXPECT_EQ (sim::DefaultInput(), builtInInput);
    EXPECT_EQ (sim::DefaultOutput(), builtInOutput);
}

} // namespace
