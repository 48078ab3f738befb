#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/QUORVirtualChannelsApplication.h"
#include "app/dummyMenuBarModel.h"
#include "engine/VirtualChannelsEngine.h"
#include "tests/support/SimulatedMachineSetup.h"

namespace
{

using namespace quortest;
using Latency = AudioSystemUtils::Latency;
using ApplicationTest = MachineTest;

/** The menu with these first two lines, Bypass ticked or not and this latency line. */
std::vector<MenuRow> MenuOf (const juce::String& device, const juce::String& firmware, bool bypassed,
                             const juce::String& latency)
{
    return { Line (1, device), Line (2, firmware),          Line (3, "App Version: 0.9.0"),
             Separator(),      Choice ("Bypass", bypassed), Line (5, latency),
             Separator(),      Choice ("User Guide"),       Choice ("Quit") };
}

TEST_F (ApplicationTest, ASecondCopyTouchesNothingAndTheFirstRunsWithAnEmptyMainMenuAndTheStartupMenu)
{
    QUORVirtualChannelsApplication application;
    EXPECT_EQ (application.getApplicationName(), "QUOR Virtual Channels");
    EXPECT_EQ (application.getApplicationVersion(), "0.9.0");
    EXPECT_FALSE (application.moreThanOneInstanceAllowed());
    sim::ClearCallLog();
    application.anotherInstanceStarted ("--ignored");
    application.shutdown();
    EXPECT_TRUE (sim::CallLog().empty());
    EXPECT_EQ (FindTrayMenu(), nullptr);

    application.initialise ({});
    auto* model = dynamic_cast<dummyMenuBarModel*> (PlatformSeam::GetMainMenu());
    ASSERT_NE (model, nullptr);
    EXPECT_EQ (model->getMenuBarNames(), juce::StringArray (juce::String()));
    EXPECT_EQ (model->getMenuForIndex (0, {}).getNumItems() + model->getMenuForIndex (1, "x").getNumItems(), 0);
    auto* tray = FindTrayMenu();
    ASSERT_NE (tray, nullptr);
    EXPECT_TRUE (tray->isVisible()) << "shown once it has its icon";
    MenuUser user;
    EXPECT_EQ (user.Press (*tray), MenuOf ("No Device Connected", "--", false, "Latency: Low"));
}

/** Tells what was already gone when the status icon went away. */
struct IconRemovalWitness : juce::ComponentListener
{
    static const char* Gone (bool gone) { return gone ? "gone" : "there"; }

    void componentBeingDeleted (juce::Component&) override
    {
        const bool restored = sim::DefaultInput() == input && sim::DefaultOutput() == output;
        std::cerr << "icon removed: main menu " << Gone (PlatformSeam::GetMainMenu() == nullptr) << ", aggregate "
                  << Gone (sim::ExistingAggregates().empty()) << ", defaults " << (restored ? "back" : "not back")
                  << "\n";
    }

    const AudioObjectID input = sim::DefaultInput(), output = sim::DefaultOutput();
};

/** Quit stops JUCE's message loop for good and refuses every later message,
    so the run up to Quit has a process of its own, which reports on stderr
    and ends at once: what is left of JUCE there is the parent's business. */
void RunUntilQuitIsChosen()
{
    QUORVirtualChannelsApplication application;
    MenuUser user;
    IconRemovalWitness witness;
    application.initialise ({});
    Plug (114, "QV2400117");
    auto* tray = FindTrayMenu();
    if (tray == nullptr || !PumpUntil ([] { return sim::ExistingAggregates().size() == 1; }))
        std::_Exit (2);
    tray->addComponentListener (&witness);
    if (!user.Choose (*tray, "Quit"))
        std::_Exit (3);
    const bool loopEnded = !juce::MessageManager::getInstance()->runDispatchLoopUntil (20000);
    std::cerr << "loop " << (loopEnded ? "ended" : "still running") << "\n";
    application.shutdown();
    std::cerr << "after shutdown: icon " << IconRemovalWitness::Gone (FindTrayMenu() == nullptr) << "\n";
    std::_Exit (0);
}

TEST_F (ApplicationTest, QuitEndsTheLoopAndShutsTheEngineAndMainMenuDownBeforeTheIcon)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    InstallDriver();
    EXPECT_EXIT (RunUntilQuitIsChosen(), ::testing::ExitedWithCode (0),
                 "loop ended.*icon removed: main menu gone, aggregate gone, defaults back.*after shutdown: icon gone");
}

TEST_F (ApplicationTest, MenuShowsThePropertiesAsTheyAreNewTextsOnceRebuiltAndActs)
{
    std::unique_ptr<TrayMenu> tray; // outlives the engine, whose signals hold its slots
    VirtualChannelsEngine engine;
    dummyMenuBarModel model;
    PlatformSeam::SetMainMenu (&model);
    MenuUser user;
    engine.deviceName.Set ("Tavrolux Velmar (QV2400117)");
    engine.firmwareVersion.Set ("1.2.3");
    engine.processingEnabled.Set (false);
    engine.latency.Set (Latency::UltraLow);
    auto& menu = *(tray = std::make_unique<TrayMenu> (engine));
    const auto built = [&menu] { return Rows (menu.GetMenu()); };
    const auto current = MenuOf ("Tavrolux Velmar (QV2400117)", "Firmware Version: 1.2.3", true, "Latency: Ultra-Low");
    EXPECT_EQ (built(), current);

    // Texts wait for a rebuild: a press, or a change of Bypass or latency.
    engine.deviceName.Set ({});
    engine.firmwareVersion.Set ({});
    EXPECT_EQ (built(), current);
    EXPECT_EQ (user.Press (menu), MenuOf ("No Device Connected", "--", true, "Latency: Ultra-Low"));
    engine.deviceName.Set ("Tavrolux TESK (T1)");
    menu.mouseUp (MouseUpOn (menu, nullptr));
    EXPECT_EQ (user.shown.size(), 1u) << "a press from nowhere neither opens nor rebuilds";
    EXPECT_EQ (built()[0], Line (1, "No Device Connected"));
    ASSERT_TRUE (user.Choose (menu, "Bypass")); // without the virtual driver only the tick changes
    EXPECT_TRUE (engine.processingEnabled.value);
    EXPECT_EQ (built(), MenuOf ("Tavrolux TESK (T1)", "--", false, "Latency: Ultra-Low"));
    const auto latencyRow = [&] (Latency latency) { return engine.latency.Set (latency), built()[5]; };
    EXPECT_EQ (latencyRow (Latency::Low), Line (5, "Latency: Low"));
    EXPECT_EQ (latencyRow (Latency (256)), Line (5, "Latency"));
    EXPECT_EQ (latencyRow (Latency::UltraLow), Line (5, "Latency: Ultra-Low"));

    // A stand-in for the desktop's URL opener, found first on the PATH.
    const auto folder = juce::File::createTempFile ("quor-xdg-open");
    const auto captured = folder.getChildFile ("url.txt"), opener = folder.getChildFile ("xdg-open");
    const auto script = "#!/bin/sh\nprintf '%s' \"$1\" > '" + captured.getFullPathName() + "'\n";
    ASSERT_TRUE (folder.createDirectory() && opener.replaceWithText (script, false, false, "\n") &&
                 opener.setExecutePermission (true));
    const juce::String path (std::getenv ("PATH"));
    setenv ("PATH", (folder.getFullPathName() + ":" + path).toRawUTF8(), 1);
    EXPECT_TRUE (user.Choose (menu, "User Guide"));
    const juce::String guide ("https://tavrolux.example/user-guides/tavrolux-velmar/virtual-devices");
    EXPECT_TRUE (PumpUntil ([&] { return captured.loadFileAsString() == guide; }));
    setenv ("PATH", path.toRawUTF8(), 1);
    folder.deleteRecursively();

    PlatformSeam::SetMainMenu (nullptr);
    EXPECT_FALSE (user.Choose (menu, "Bypass")) << "no main menu, no status menu";
    EXPECT_TRUE (engine.processingEnabled.value);
}

} // namespace
