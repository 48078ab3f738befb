#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/dummyMenuBarModel.h"
#include "engine/VirtualChannelsEngine.h"
#include "tests/support/SimulatedMachineSetup.h"

namespace
{

using namespace quortest;

const std::vector<MenuRow> kStartupRows {
    Line (1, "No Device Connected"), Line (2, "--"), Line (3, "App Version: 0.9.0"), Separator(),     Choice ("Bypass"),
    Line (5, "Latency: Low"),        Separator(),    Choice ("User Guide"),          Choice ("Quit"),
};

class TrayMenuTest : public MachineTest
{
protected:
    void TearDown() override
    {
        engine.reset();
        model.reset();
        tray.reset();
        MachineTest::TearDown();
    }

    /** The program's three objects, built as the application builds them. */
    void Start (bool withVirtualDriver = true)
    {
        if (withVirtualDriver)
            InstallDriver();
        engine = std::make_unique<VirtualChannelsEngine>();
        model = std::make_unique<dummyMenuBarModel>();
        PlatformSeam::SetMainMenu (model.get());
        tray = std::make_unique<TrayMenu> (*engine);
    }

    std::vector<MenuRow> Shown() { return Rows (tray->GetMenu()); }

    std::unique_ptr<VirtualChannelsEngine> engine;
    std::unique_ptr<dummyMenuBarModel> model;
    std::unique_ptr<TrayMenu> tray;
    MenuUser user;
};

TEST_F (TrayMenuTest, ShowsTheStartupStateAndFollowsPropertiesAtTheNextRebuild)
{
    Start();
    EXPECT_EQ (Shown(), kStartupRows);
    EXPECT_EQ (user.Press (*tray), kStartupRows);

    engine->deviceName.Set ("Tavrolux Velmar (QV2400117)");
    engine->firmwareVersion.Set ("1.2.3");
    EXPECT_EQ (Shown()[0].text, "No Device Connected"); // stored, shown only when rebuilt

    const auto rows = user.Press (*tray);
    ASSERT_EQ (rows.size(), 9u);
    EXPECT_EQ (rows[0], Line (1, "Tavrolux Velmar (QV2400117)"));
    EXPECT_EQ (rows[1], Line (2, "Firmware Version: 1.2.3"));

    // A change of Bypass rebuilds too.
    engine->deviceName.Set ({});
    engine->firmwareVersion.Set ({});
    engine->processingEnabled.Set (false);
    EXPECT_EQ (Shown()[0], Line (1, "No Device Connected"));
    EXPECT_EQ (Shown()[1], Line (2, "--"));
    EXPECT_EQ (Shown()[4], Choice ("Bypass", true));
    engine->processingEnabled.Set (true);
    EXPECT_EQ (Shown()[4], Choice ("Bypass", false));

    engine->latency.Set (AudioSystemUtils::Latency::UltraLow);
    EXPECT_EQ (Shown()[5], Line (5, "Latency: Ultra-Low"));
    engine->latency.Set (static_cast<AudioSystemUtils::Latency> (256));
    EXPECT_EQ (Shown()[5], Line (5, "Latency"));
    engine->latency.Set (AudioSystemUtils::Latency::Low);
    EXPECT_EQ (Shown()[5], Line (5, "Latency: Low"));

    // Every rebuild starts from an empty menu.
    for (int i = 0; i < 25; ++i)
    {
        engine->processingEnabled.Set (i % 2 == 0);
        ASSERT_EQ (user.Press (*tray).size(), 9u);
    }
    int separators = 0;
    for (const auto& row : Shown())
        separators += row.separator ? 1 : 0;
    EXPECT_EQ (Shown().size(), 9u);
    EXPECT_EQ (separators, 2);
}

TEST_F (TrayMenuTest, APressFromNowhereOrWithoutAMainMenuModelOpensAndRunsNothing)
{
    Start (false);
    engine->deviceName.Set ("Tavrolux TESK (T1)");
    tray->mouseUp (MouseUpOn (*tray, nullptr));
    EXPECT_TRUE (user.shown.empty());
    EXPECT_EQ (Shown()[0].text, "No Device Connected");

    PlatformSeam::SetMainMenu (nullptr);
    EXPECT_TRUE (user.Press (*tray).empty());

    // The model goes away while the menu is open: the chosen action must not run.
    PlatformSeam::SetMainMenu (model.get());
    ASSERT_FALSE (user.Press (*tray).empty());
    model.reset();
    const auto bypass = ActionOf (user.shown.back(), "Bypass");
    ASSERT_NE (bypass, nullptr);
    bypass();
    EXPECT_TRUE (engine->processingEnabled.value);
}

/** Runs a few blocks and tells whether a signal fed into virtual device 1 reached any mixer output. */
bool SignalReachesMixer (AudioObjectID virtualDevice, const sim::Mixer& mixer)
{
    for (int channel = 0; channel < 12; ++channel)
        sim::TakeOutput (mixer.audio, channel);
    sim::FeedInput (virtualDevice, 0, std::vector<float> (2048, 0.5f));
    sim::RunAudioBlocks (8);
    for (int channel = 0; channel < 12; ++channel)
        for (float sample : sim::TakeOutput (mixer.audio, channel))
            if (std::abs (sample - 0.5f) < 1.0e-6f)
                return true;
    return false;
}

TEST_F (TrayMenuTest, BypassStopsTheRoutingAndChoosingItAgainRestoresIt)
{
    Start();
    const auto mixer = Plug (114, "QV2400117");
    ASSERT_TRUE (PumpUntil ([this] { return engine->deviceName.value.isNotEmpty(); })) << "never published";
    ASSERT_TRUE (SignalReachesMixer (virtualIds[0], mixer));

    for (const bool bypassed : { true, false })
    {
        ASSERT_TRUE (user.Choose (*tray, "Bypass"));
        EXPECT_EQ (engine->processingEnabled.value, !bypassed);
        EXPECT_EQ (Shown()[4], Choice ("Bypass", bypassed));
        EXPECT_EQ (SignalReachesMixer (virtualIds[0], mixer), !bypassed);
    }
}

TEST_F (TrayMenuTest, UserGuideHandsTheGuideAddressToTheSystem)
{
    // A stand-in for the desktop's URL opener, found first on the PATH.
    const auto folder = juce::File::createTempFile ("quor-xdg-open");
    ASSERT_TRUE (folder.createDirectory());
    const auto captured = folder.getChildFile ("url.txt").getFullPathName();
    const auto opener = folder.getChildFile ("xdg-open");
    ASSERT_TRUE (opener.replaceWithText ("#!/bin/sh\nprintf '%s' \"$1\" > '" + captured + ".part'\nmv '" + captured +
                                             ".part' '" + captured + "'\n",
                                         false, false, "\n"));
    ASSERT_TRUE (opener.setExecutePermission (true));
    const juce::String path (std::getenv ("PATH"));
    ASSERT_EQ (setenv ("PATH", (folder.getFullPathName() + ":" + path).toRawUTF8(), 1), 0);

    Start (false);
    ASSERT_TRUE (user.Choose (*tray, "User Guide"));

    EXPECT_TRUE (PumpUntil ([&] { return juce::File (captured).existsAsFile(); }));
    EXPECT_EQ (juce::File (captured).loadFileAsString(),
               "https://tavrolux.example/user-guides/tavrolux-velmar/virtual-devices");

    setenv ("PATH", path.toRawUTF8(), 1);
    folder.deleteRecursively();
}

} // namespace
