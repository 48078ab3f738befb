#include <gtest/gtest.h>

#include "app/QUORVirtualChannelsApplication.h"
#include "tests/e2e/ScenarioSupport.h"

namespace
{

using namespace quortest;

constexpr int kSignalLength = 48000; // a second: many blocks, each on the device's own thread

const auto Silent = [] (const std::vector<float>& s) { return !s.empty() && s == std::vector<float> (s.size()); };

// The application object driven as JUCE drives it, every audio device on its own thread.
struct WholeProgramTest : MachineTest
{
    WholeProgramTest() : MachineTest (sim::AudioClock::RealTime) {}

    /** Feeds signal `tag` and pumps the message loop, collecting what the mixer plays (the machine keeps only the
        last few seconds): routed, until the signal has come out of outputs 0 to 9 whole and in order, with 10 and
        11 silent; bypassed, until a second of blocks has run, with every output silent. */
    bool Hears (AudioObjectID mixer, int tag, bool routed)
    {
        FeedVirtualDevices (virtualIds, tag, kSignalLength);
        const auto blocksEnough = sim::AudioBlocksRun() + kSignalLength / 128 + 10;
        std::vector<std::vector<float>> outputs (12);
        const auto done = [&]
        {
            int whole = 0;
            for (int c = 0; c < 12; ++c)
            {
                const auto samples = sim::TakeOutput (mixer, c), signal = SignalOf (c, tag, kSignalLength);
                auto& out = outputs[size_t (c)];
                out.insert (out.end(), samples.begin(), samples.end());
                whole += c < 10 && std::search (out.begin(), out.end(), signal.begin(), signal.end()) != out.end();
            }
            return routed ? whole == 10 : sim::AudioBlocksRun() >= blocksEnough;
        };
        return PumpUntil (done, 30000.0) && std::all_of (outputs.begin() + (routed ? 10 : 0), outputs.end(), Silent);
    }
};

TEST_F (WholeProgramTest, FromPluggingAMixerToQuitting)
{
    const auto aggregateStarts = [] { return LogLines ({ "AudioDeviceStart QUOR Aggregate" }).size(); };
    InstallDriver();
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
    { return new QUORVirtualChannelsApplication(); };
    auto application = std::make_unique<QUORVirtualChannelsApplication>();
    application->initialise ({});
    auto* tray = FindTrayMenu();
    ASSERT_NE (tray, nullptr) << "no status icon";
    MenuUser user;
    EXPECT_EQ (user.Press (*tray), StatusMenu ("No Device Connected", "--"));

    // The same Velmar four times, then a TESK whose USB audio device shows
    // three seconds after its HID interface.
    for (int arrival = 1, tag = 0; arrival <= 5; ++arrival)
    {
        const bool tesk = arrival == 5;
        const std::string serial = tesk ? "QT2300042" : "QV2400117";
        const auto name = (tesk ? "Tavrolux TESK (" : "Tavrolux Velmar (") + serial + ")";
        SCOPED_TRACE ("arrival " + std::to_string (arrival) + ": " + name);
        const auto startsBefore = aggregateStarts();
        const auto mixer = Plug (tesk ? 115 : 114, serial, tesk ? 3000 : 300);
        ASSERT_TRUE (PumpUntil (
            [&]
            {
                return sim::ExistingAggregates().size() == 1 && aggregateStarts() > startsBefore &&
                       sim::DefaultInput() == virtualIds[0] && sim::DefaultOutput() == virtualIds[0];
            }));
        ASSERT_TRUE (RunPostedTasks());

        // On the first arrival Bypass is ticked, then unticked again.
        for (int round = 0; round < (arrival == 1 ? 3 : 1); ++round)
        {
            ASSERT_TRUE (round == 0 || user.Choose (*tray, "Bypass"));
            EXPECT_EQ (user.Press (*tray), StatusMenu (name, "Firmware Version: 1.2.3", round == 1));
            ASSERT_TRUE (Hears (mixer.audio, ++tag, round != 1))
                << (round == 1 ? "bypassed audio reached the mixer" : "the virtual devices go astray");
        }
        if (tesk)
            break;
        sim::UnplugMixer (mixer);
        ASSERT_TRUE (PumpUntil ([] { return sim::ExistingAggregates().empty(); })) << "the aggregate stayed";
        ASSERT_TRUE (RunPostedTasks());
        EXPECT_EQ (user.Press (*tray), StatusMenu ("No Device Connected", "--"));
        // The user picks the built-in devices while no mixer is there.
        sim::SetDefaultInput (builtInInput);
        sim::SetDefaultOutput (builtInOutput);
    }

    ASSERT_TRUE (user.Choose (*tray, "Quit"));
    ASSERT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    application->shutdown(); // as JUCE does once the message loop has ended
    application.reset();
    juce::JUCEApplicationBase::createInstance = nullptr;
    EXPECT_EQ (FindTrayMenu(), nullptr);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    EXPECT_EQ (std::pair (sim::DefaultInput(), sim::DefaultOutput()), std::pair (builtInInput, builtInOutput));
}

} // namespace
