#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/QUORVirtualChannelsApplication.h"
#include "app/TrayMenu.h"
#include "app/dummyMenuBarModel.h"
#include "platform/seam/PlatformSeam.h"
#include "platform/seam/PlatformSeamTesting.h"
#include "platform/sim/SimulatedMachine.h"
#include "tests/app/MenuTestSupport.h"

namespace
{

TrayMenu* FindTrayMenu()
{
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* tray = dynamic_cast<TrayMenu*> (desktop.getComponent (i)))
            return tray;
    return nullptr;
}

bool Contains (const std::vector<std::string>& log, const std::string& prefix)
{
    for (const auto& line : log)
        if (line.rfind (prefix, 0) == 0)
            return true;
    return false;
}

/** The application object driven the way JUCE drives it, minus the message
    loop and the single-instance lock, which tests must not share. */
class ApplicationTest : public ::testing::Test
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

        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
        { return new QUORVirtualChannelsApplication(); };
        application = std::make_unique<QUORVirtualChannelsApplication>();
        PlatformSeam::SetMenuPresenterForTesting ([this] (const juce::PopupMenu& menu) { shown.push_back (menu); });
    }

    void TearDown() override
    {
        PlatformSeam::SetMenuPresenterForTesting ({});
        application.reset();
        juce::JUCEApplicationBase::createInstance = nullptr;
        sim::Reset();
    }

    AudioObjectID builtInDevice = 0;
    std::unique_ptr<QUORVirtualChannelsApplication> application;
    std::vector<juce::PopupMenu> shown;
};

TEST_F (ApplicationTest, IsASingleInstanceProgramWithItsOwnNameAndVersion)
{
    EXPECT_EQ (application->getApplicationName(), "QUOR Virtual Channels");
    EXPECT_EQ (application->getApplicationVersion(), "0.9.0");
    EXPECT_FALSE (application->moreThanOneInstanceAllowed());
    EXPECT_EQ (juce::JUCEApplication::getInstance(), application.get());
}

TEST_F (ApplicationTest, ASecondCopyThatNeverInitialisedShutsDownWithoutTouchingAnything)
{
    sim::ClearCallLog();

    application->anotherInstanceStarted ("--ignored");
    application->shutdown();
    application.reset();

    EXPECT_TRUE (sim::CallLog().empty());
    EXPECT_EQ (PlatformSeam::GetMainMenu(), nullptr);
    EXPECT_EQ (FindTrayMenu(), nullptr);
    EXPECT_EQ (sim::DefaultInput(), builtInDevice);
}

TEST_F (ApplicationTest, InitialiseInstallsTheEmptyMainMenuAndTheStatusIcon)
{
    sim::InstallVirtualDriver();
    application->initialise ({});

    auto* model = PlatformSeam::GetMainMenu();
    ASSERT_NE (model, nullptr);
    EXPECT_NE (dynamic_cast<dummyMenuBarModel*> (model), nullptr);
    EXPECT_EQ (model->getMenuBarNames(), juce::StringArray (juce::String()));
    EXPECT_EQ (model->getMenuForIndex (0, {}).getNumItems(), 0);

    auto* tray = FindTrayMenu();
    ASSERT_NE (tray, nullptr);
    EXPECT_EQ (Rows (tray->GetMenu())[2].text, "App Version: 0.9.0");

    application->shutdown();
    EXPECT_EQ (PlatformSeam::GetMainMenu(), nullptr);
    EXPECT_EQ (FindTrayMenu(), nullptr);
}

/** Notes what had already happened when the status icon went away. */
struct IconRemovalWitness : juce::ComponentListener
{
    void componentBeingDeleted (juce::Component&) override
    {
        removed = true;
        mainMenuAtRemoval = PlatformSeam::GetMainMenu();
        aggregatesAtRemoval = sim::ExistingAggregates();
        defaultInputAtRemoval = sim::DefaultInput();
        defaultOutputAtRemoval = sim::DefaultOutput();
    }

    bool removed = false;
    juce::MenuBarModel* mainMenuAtRemoval = nullptr;
    std::vector<AudioObjectID> aggregatesAtRemoval { 1 };
    AudioObjectID defaultInputAtRemoval = 0;
    AudioObjectID defaultOutputAtRemoval = 0;
};

TEST_F (ApplicationTest, QuitEndsTheLoopAndShutsDownEngineThenModelThenIcon)
{
    sim::InstallVirtualDriver();
    application->initialise ({});

    sim::PlugMixer (sim::MixerSpec());
    ASSERT_TRUE (PumpUntil (
        [this]
        {
            return !sim::ExistingAggregates().empty() && sim::DefaultInput() != builtInDevice &&
                   sim::DefaultOutput() != builtInDevice;
        }))
        << "the mixer was never routed";

    auto* tray = FindTrayMenu();
    ASSERT_NE (tray, nullptr);
    IconRemovalWitness witness;
    tray->addComponentListener (&witness);

    tray->mouseUp (MouseUpOn (*tray, tray));
    ASSERT_EQ (shown.size(), 1u);
    ASSERT_TRUE (Choose (shown.back(), "Quit"));
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());

    // What JUCE does once the loop has ended.
    sim::ClearCallLog();
    application->shutdown();

    ASSERT_TRUE (witness.removed);
    EXPECT_EQ (witness.mainMenuAtRemoval, nullptr);
    EXPECT_TRUE (witness.aggregatesAtRemoval.empty());
    EXPECT_EQ (witness.defaultInputAtRemoval, builtInDevice);
    EXPECT_EQ (witness.defaultOutputAtRemoval, builtInDevice);

    const auto log = sim::CallLog();
    EXPECT_TRUE (Contains (log, "AudioHardwareDestroyAggregateDevice"));
    EXPECT_TRUE (Contains (log, "SetDefaultInputDevice"));
    EXPECT_EQ (FindTrayMenu(), nullptr);
}

TEST (dummyMenuBarModel, OffersOneEmptyMenuAndUninstallsItselfWhenDestroyed)
{
    auto model = std::make_unique<dummyMenuBarModel>();
    EXPECT_EQ (model->getMenuBarNames(), juce::StringArray (juce::String()));
    EXPECT_EQ (model->getMenuForIndex (0, "anything").getNumItems(), 0);
    EXPECT_EQ (model->getMenuForIndex (3, {}).getNumItems(), 0);
    model->menuItemSelected (1, 0);

    PlatformSeam::SetMainMenu (model.get());
    EXPECT_EQ (PlatformSeam::GetMainMenu(), model.get());
    model.reset();
    EXPECT_EQ (PlatformSeam::GetMainMenu(), nullptr);
}

} // namespace
