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

/** The menu with these first two lines, Bypass ticked or not and this latency line. */
std::vector<MenuRow> MenuOf (const juce::String& device, const juce::String& firmware, bool bypassed,
                             const juce::String& latency)
{
    return { Line (1, device), Line (2, firmware),          Line (3, "App Version: 0.9.0"),
             Separator(),      Choice ("Bypass", bypassed), Line (5, latency),
             Separator(),      Choice ("User Guide"),       Choice ("Quit") };
}

/** The application object driven as JUCE drives it, minus the single-instance
    lock; or the three objects it owns, built as it builds them. */
class ApplicationTest : public MachineTest
{
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        application = std::make_unique<QUORVirtualChannelsApplication>();
    }

    void TearDown() override
    {
        application.reset();
        engine.reset(); // first: its signals hold the menu's slots
        model.reset();
        tray.reset();
        MachineTest::TearDown();
    }

    /** The menu on the engine that the test has set up, or on a new one. */
    TrayMenu& Tray()
    {
        if (engine == nullptr)
            engine = std::make_unique<VirtualChannelsEngine>();
        PlatformSeam::SetMainMenu (model.get());
        return *(tray = std::make_unique<TrayMenu> (*engine));
    }

    std::vector<MenuRow> Built() { return Rows (tray->GetMenu()); }

    std::unique_ptr<QUORVirtualChannelsApplication> application;
    std::unique_ptr<VirtualChannelsEngine> engine;
    std::unique_ptr<dummyMenuBarModel> model = std::make_unique<dummyMenuBarModel>();
    std::unique_ptr<TrayMenu> tray;
    MenuUser user;
};

TEST_F (ApplicationTest, IdentityAndASecondCopyThatTouchesNothing)
{
    EXPECT_EQ (application->getApplicationName(), "QUOR Virtual Channels");
    EXPECT_EQ (application->getApplicationVersion(), "0.9.0");
    EXPECT_FALSE (application->moreThanOneInstanceAllowed());

    sim::ClearCallLog();
    application->anotherInstanceStarted ("--ignored");
    application->shutdown();
    EXPECT_TRUE (sim::CallLog().empty());
    EXPECT_EQ (FindTrayMenu(), nullptr);
}

TEST_F (ApplicationTest, RunsWithAnEmptyMainMenuInstalledAndTheStartupMenu)
{
    application->initialise ({});
    auto* model = dynamic_cast<dummyMenuBarModel*> (PlatformSeam::GetMainMenu());
    ASSERT_NE (model, nullptr);
    EXPECT_EQ (model->getMenuBarNames(), juce::StringArray (juce::String()));
    EXPECT_EQ (model->getMenuForIndex (0, {}).getNumItems() + model->getMenuForIndex (1, "x").getNumItems(), 0);
    ASSERT_NE (FindTrayMenu(), nullptr);
    EXPECT_TRUE (FindTrayMenu()->isVisible()) << "shown once it has its icon";
    EXPECT_EQ (user.Press (*FindTrayMenu()), MenuOf ("No Device Connected", "--", false, "Latency: Low"));
}

const char* Gone (bool gone)
{
    return gone ? "gone" : "there";
}

/** Tells what was already gone when the status icon went away. */
struct IconRemovalWitness : juce::ComponentListener
{
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
    so the run up to Quit has a process of its own, which reports on stderr. */
void RunUntilQuitIsChosen (QUORVirtualChannelsApplication& application, MenuUser& user, IconRemovalWitness& witness)
{
    application.initialise ({});
    Plug (114, "QV2400117");
    auto* tray = FindTrayMenu();
    if (tray == nullptr || !PumpUntil ([] { return sim::ExistingAggregates().size() == 1; }))
        std::exit (2);
    tray->addComponentListener (&witness);

    if (!user.Choose (*tray, "Quit"))
        std::exit (3);
    const bool loopEnded = !juce::MessageManager::getInstance()->runDispatchLoopUntil (20000);
    std::cerr << "loop " << (loopEnded ? "ended" : "still running") << "\n";
    application.shutdown();
    std::cerr << "after shutdown: icon " << Gone (FindTrayMenu() == nullptr) << "\n";
    std::exit (0);
}

TEST_F (ApplicationTest, QuitEndsTheLoopAndShutsTheEngineAndMainMenuDownBeforeTheIcon)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    InstallDriver();
    IconRemovalWitness witness;
    EXPECT_EXIT (RunUntilQuitIsChosen (*application, user, witness), ::testing::ExitedWithCode (0),
                 "loop ended\nicon removed: main menu gone, aggregate gone, defaults back\n"
                 "after shutdown: icon gone\n");
}

TEST_F (ApplicationTest, MenuShowsThePropertiesAsTheyAreAndNewTextsOnceRebuilt)
{
    // Built on an engine that already has values, the menu shows them at once.
    engine = std::make_unique<VirtualChannelsEngine>();
    engine->deviceName.Set ("Tavrolux Velmar (QV2400117)");
    engine->firmwareVersion.Set ("1.2.3");
    engine->processingEnabled.Set (false);
    engine->latency.Set (Latency::UltraLow);
    auto& menu = Tray();
    const auto current = MenuOf ("Tavrolux Velmar (QV2400117)", "Firmware Version: 1.2.3", true, "Latency: Ultra-Low");
    EXPECT_EQ (Built(), current);

    // Texts wait for a rebuild: a press, or a change of Bypass or latency.
    engine->deviceName.Set ({});
    engine->firmwareVersion.Set ({});
    EXPECT_EQ (Built(), current);
    for (int press = 0; press < 3; ++press)
        EXPECT_EQ (user.Press (menu), MenuOf ("No Device Connected", "--", true, "Latency: Ultra-Low"));
    engine->deviceName.Set ("Tavrolux TESK (T1)");
    menu.mouseUp (MouseUpOn (menu, nullptr));
    EXPECT_EQ (user.shown.size(), 3u) << "a press from nowhere neither opens nor rebuilds";
    EXPECT_EQ (Built()[0], Line (1, "No Device Connected"));
    ASSERT_TRUE (user.Choose (menu, "Bypass")); // without the virtual driver only the tick changes
    EXPECT_TRUE (engine->processingEnabled.value);
    EXPECT_EQ (Built(), MenuOf ("Tavrolux TESK (T1)", "--", false, "Latency: Ultra-Low"));

    const std::pair<Latency, const char*> latencies[] { { Latency::Low, "Latency: Low" },
                                                        { Latency (256), "Latency" },
                                                        { Latency::UltraLow, "Latency: Ultra-Low" } };
    for (const auto& [latency, text] : latencies)
    {
        engine->latency.Set (latency);
        EXPECT_EQ (Built()[5], Line (5, text));
    }

    PlatformSeam::SetMainMenu (nullptr);
    EXPECT_FALSE (user.Choose (menu, "Bypass")) << "no main menu, no status menu";
    EXPECT_TRUE (engine->processingEnabled.value);
}

TEST_F (ApplicationTest, UserGuideHandsTheGuideAddressToTheSystem)
{
    // A stand-in for the desktop's URL opener, found first on the PATH.
    const auto folder = juce::File::createTempFile ("quor-xdg-open");
    const auto captured = folder.getChildFile ("url.txt");
    const auto opener = folder.getChildFile ("xdg-open");
    ASSERT_TRUE (folder.createDirectory() &&
                 opener.replaceWithText ("#!/bin/sh\nprintf '%s' \"$1\" > '" + captured.getFullPathName() + "'\n",
                                         false, false, "\n"));
    ASSERT_TRUE (opener.setExecutePermission (true));
    const juce::String path (std::getenv ("PATH"));
    setenv ("PATH", (folder.getFullPathName() + ":" + path).toRawUTF8(), 1);

    ASSERT_TRUE (user.Choose (Tray(), "User Guide"));
    const juce::String guide ("https://tavrolux.example/user-guides/tavrolux-velmar/virtual-devices");
    EXPECT_TRUE (PumpUntil ([&] { return captured.loadFileAsString() == guide; }));
    setenv ("PATH", path.toRawUTF8(), 1);
    folder.deleteRecursively();
}

} // namespace
