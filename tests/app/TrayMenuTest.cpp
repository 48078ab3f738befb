#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/TrayMenu.h"
#include "app/dummyMenuBarModel.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/seam/PlatformSeam.h"
#include "platform/seam/PlatformSeamTesting.h"
#include "platform/sim/SimulatedMachine.h"
#include "tests/app/MenuTestSupport.h"

namespace
{

const std::vector<MenuRow> kStartupRows {
    Line (1, "No Device Connected"), Line (2, "--"), Line (3, "App Version: 0.9.0"), Separator(),     Choice ("Bypass"),
    Line (5, "Latency: Low"),        Separator(),    Choice ("User Guide"),          Choice ("Quit"),
};

class TrayMenuTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);

        sim::AudioDeviceSpec builtIn;
        builtIn.name = "Built-in Output";
        builtIn.uid = "BuiltInSpeakerDevice";
        builtIn.inputStreams = { 2 };
        builtIn.outputStreams = { 2 };
        builtInDevice = sim::AddAudioDevice (builtIn);
        sim::SetDefaultInput (builtInDevice);
        sim::SetDefaultOutput (builtInDevice);

        PlatformSeam::SetMenuPresenterForTesting ([this] (const juce::PopupMenu& menu) { shown.push_back (menu); });
    }

    void TearDown() override
    {
        PlatformSeam::SetMenuPresenterForTesting ({});
        engine.reset();
        model.reset();
        tray.reset();
        sim::Reset();
    }

    /** The program's three objects, built as the application builds them. */
    void Start (bool withVirtualDriver = true)
    {
        if (withVirtualDriver)
            virtualDevices = sim::InstallVirtualDriver();

        engine = std::make_unique<VirtualChannelsEngine>();
        model = std::make_unique<dummyMenuBarModel>();
        PlatformSeam::SetMainMenu (model.get());
        tray = std::make_unique<TrayMenu> (*engine);
    }

    /** A press on the icon; returns the menu it showed, if any. */
    const juce::PopupMenu* Press()
    {
        const auto before = shown.size();
        tray->mouseUp (MouseUpOn (*tray, tray.get()));
        return shown.size() > before ? &shown.back() : nullptr;
    }

    /** Presses the icon and chooses the item, as the user would. */
    void PressAndChoose (const juce::String& text)
    {
        const auto* menu = Press();
        ASSERT_NE (menu, nullptr);
        ASSERT_TRUE (Choose (*menu, text)) << text;
    }

    AudioObjectID builtInDevice = 0;
    std::vector<AudioObjectID> virtualDevices;
    std::unique_ptr<VirtualChannelsEngine> engine;
    std::unique_ptr<dummyMenuBarModel> model;
    std::unique_ptr<TrayMenu> tray;
    std::vector<juce::PopupMenu> shown;
};

//==============================================================================
TEST_F (TrayMenuTest, ReadsTheStartupStateAndShowsItOnAPress)
{
    Start();

    EXPECT_EQ (Rows (tray->GetMenu()), kStartupRows);

    const auto* menu = Press();
    ASSERT_NE (menu, nullptr);
    EXPECT_EQ (Rows (*menu), kStartupRows);
}

TEST_F (TrayMenuTest, DeviceTextsReachTheMenuAtTheNextRebuild)
{
    Start();

    engine->deviceName.Set ("Tavrolux Velmar (QV2400117)");
    engine->firmwareVersion.Set ("1.2.3");

    // Stored, but the menu itself changes only when rebuilt.
    EXPECT_EQ (Rows (tray->GetMenu())[0].text, "No Device Connected");
    EXPECT_EQ (Rows (tray->GetMenu())[1].text, "--");

    const auto* menu = Press();
    ASSERT_NE (menu, nullptr);
    EXPECT_EQ (Rows (*menu)[0], Line (1, "Tavrolux Velmar (QV2400117)"));
    EXPECT_EQ (Rows (*menu)[1], Line (2, "Firmware Version: 1.2.3"));

    engine->deviceName.Set ({});
    engine->firmwareVersion.Set ({});
    EXPECT_EQ (Rows (tray->GetMenu())[0].text, "Tavrolux Velmar (QV2400117)");

    // A change of the processing flag rebuilds too.
    engine->processingEnabled.Set (false);
    EXPECT_EQ (Rows (tray->GetMenu())[0], Line (1, "No Device Connected"));
    EXPECT_EQ (Rows (tray->GetMenu())[1], Line (2, "--"));
}

TEST_F (TrayMenuTest, BypassTickAndLatencyLineFollowTheirProperties)
{
    Start();

    engine->processingEnabled.Set (false);
    EXPECT_EQ (Rows (tray->GetMenu())[4], Choice ("Bypass", true));
    engine->processingEnabled.Set (true);
    EXPECT_EQ (Rows (tray->GetMenu())[4], Choice ("Bypass", false));

    engine->latency.Set (AudioSystemUtils::Latency::UltraLow);
    EXPECT_EQ (Rows (tray->GetMenu())[5], Line (5, "Latency: Ultra-Low"));
    engine->latency.Set (static_cast<AudioSystemUtils::Latency> (256));
    EXPECT_EQ (Rows (tray->GetMenu())[5], Line (5, "Latency"));
    engine->latency.Set (AudioSystemUtils::Latency::Low);
    EXPECT_EQ (Rows (tray->GetMenu())[5], Line (5, "Latency: Low"));
}

TEST_F (TrayMenuTest, EveryRebuildStartsFromAnEmptyMenu)
{
    Start();

    for (int i = 0; i < 25; ++i)
    {
        engine->processingEnabled.Set (i % 2 == 0);
        ASSERT_NE (Press(), nullptr);
    }

    int items = 0, separators = 0;
    for (const auto& row : Rows (tray->GetMenu()))
        (row.separator ? separators : items)++;
    EXPECT_EQ (items, 7);
    EXPECT_EQ (separators, 2);
    EXPECT_EQ (Rows (shown.back()).size(), 9u);
}

TEST_F (TrayMenuTest, APressFromNowhereNeitherRebuildsNorOpens)
{
    Start();
    engine->deviceName.Set ("Tavrolux TESK (T1)");

    tray->mouseUp (MouseUpOn (*tray, nullptr));

    EXPECT_TRUE (shown.empty());
    EXPECT_EQ (Rows (tray->GetMenu())[0].text, "No Device Connected");
}

TEST_F (TrayMenuTest, WithoutAMainMenuModelNothingOpensAndNothingRuns)
{
    Start (false);

    PlatformSeam::SetMainMenu (nullptr);
    EXPECT_EQ (Press(), nullptr);

    PlatformSeam::SetMainMenu (model.get());
    const auto* menu = Press();
    ASSERT_NE (menu, nullptr);

    // The model goes away while the menu is open: the chosen action must not run.
    model.reset();
    EXPECT_EQ (PlatformSeam::GetMainMenu(), nullptr);
    ASSERT_TRUE (Choose (*menu, "Bypass"));
    EXPECT_TRUE (engine->processingEnabled.value);
    EXPECT_EQ (Press(), nullptr);
}

TEST_F (TrayMenuTest, BypassWithoutTheVirtualDriverOnlyChangesTheTick)
{
    Start (false);

    PressAndChoose ("Bypass");
    EXPECT_FALSE (engine->processingEnabled.value);
    EXPECT_EQ (Rows (tray->GetMenu())[4], Choice ("Bypass", true));
    EXPECT_TRUE (sim::ExistingAggregates().empty());

    PressAndChoose ("Bypass");
    EXPECT_TRUE (engine->processingEnabled.value);
    EXPECT_EQ (Rows (tray->GetMenu())[4], Choice ("Bypass", false));
}

//==============================================================================
/** With a mixer connected, audio fed into virtual device 1 comes out of the mixer. */
class TrayMenuRoutingTest : public TrayMenuTest
{
protected:
    void ConnectMixer()
    {
        Start();
        mixer = sim::PlugMixer (sim::MixerSpec());
        ASSERT_TRUE (PumpUntil ([this] { return engine->deviceName.value.isNotEmpty(); }))
            << "the engine never published the mixer";
        ASSERT_NE (engine->aggregate.deviceId, 0u);
    }

    /** Runs a few blocks and tells whether the fed signal reached any mixer output. */
    bool SignalReachesMixer()
    {
        const auto outputs = 12;
        for (int channel = 0; channel < outputs; ++channel)
            sim::TakeOutput (mixer.audio, channel);

        const std::vector<float> signal (2048, 0.5f);
        sim::FeedInput (virtualDevices[0], 0, signal);
        sim::FeedInput (virtualDevices[0], 1, signal);
        sim::RunAudioBlocks (8);

        for (int channel = 0; channel < outputs; ++channel)
            for (float sample : sim::TakeOutput (mixer.audio, channel))
                if (std::abs (sample - 0.5f) < 1.0e-6f)
                    return true;
        return false;
    }

    sim::Mixer mixer;
};

TEST_F (TrayMenuRoutingTest, BypassStopsTheRoutingAndChoosingItAgainRestoresIt)
{
    ConnectMixer();
    ASSERT_TRUE (SignalReachesMixer());

    PressAndChoose ("Bypass");
    EXPECT_FALSE (engine->processingEnabled.value);
    EXPECT_EQ (Rows (tray->GetMenu())[4], Choice ("Bypass", true));
    EXPECT_FALSE (SignalReachesMixer());

    PressAndChoose ("Bypass");
    EXPECT_TRUE (engine->processingEnabled.value);
    EXPECT_EQ (Rows (tray->GetMenu())[4], Choice ("Bypass", false));
    EXPECT_TRUE (SignalReachesMixer());

    const auto* menu = Press();
    ASSERT_NE (menu, nullptr);
    EXPECT_EQ (Rows (*menu)[0].text, "Tavrolux Velmar (QV2400117)");
    EXPECT_EQ (Rows (*menu)[1].text, "Firmware Version: 1.2.3");
}

//==============================================================================
TEST_F (TrayMenuTest, UserGuideHandsTheGuideAddressToTheSystem)
{
    // A stand-in for the desktop's URL opener, found first on the PATH.
    const auto folder = juce::File::createTempFile ("quor-xdg-open");
    ASSERT_TRUE (folder.createDirectory());
    const auto captured = folder.getChildFile ("url.txt");
    const auto opener = folder.getChildFile ("xdg-open");
    ASSERT_TRUE (opener.replaceWithText ("#!/bin/sh\nprintf '%s' \"$1\" > '" + captured.getFullPathName() +
                                             ".part'\nmv '" + captured.getFullPathName() + ".part' '" +
                                             captured.getFullPathName() + "'\n",
                                         false, false, "\n"));
    ASSERT_TRUE (opener.setExecutePermission (true));
    const juce::String path (std::getenv ("PATH"));
    ASSERT_EQ (setenv ("PATH", (folder.getFullPathName() + ":" + path).toRawUTF8(), 1), 0);

    Start (false);
    PressAndChoose ("User Guide");

    EXPECT_TRUE (PumpUntil ([&] { return captured.existsAsFile(); }, 20000));
    EXPECT_EQ (captured.loadFileAsString(), "https://tavrolux.example/user-guides/tavrolux-velmar/virtual-devices");

    setenv ("PATH", path.toRawUTF8(), 1);
    folder.deleteRecursively();
}

} // namespace
