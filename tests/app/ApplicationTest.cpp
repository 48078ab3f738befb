#include <memory>

#include "app/QUORVirtualChannelsApplication.h"
#include "app/dummyMenuBarModel.h"
#include "tests/support/SimulatedMachineSetup.h"

namespace
{

using namespace quortest;

/** The application object driven the way JUCE drives it, minus the message
    loop and the single-instance lock, which tests must not share. */
class ApplicationTest : public MachineTest
{
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
        { return new QUORVirtualChannelsApplication(); };
        application = std::make_unique<QUORVirtualChannelsApplication>();
    }

    void TearDown() override
    {
        application.reset();
        juce::JUCEApplicationBase::createInstance = nullptr;
        MachineTest::TearDown();
    }

    std::unique_ptr<QUORVirtualChannelsApplication> application;
    MenuUser user;
};

TEST_F (ApplicationTest, ASecondCopyThatNeverInitialisedShutsDownWithoutTouchingAnything)
{
    EXPECT_FALSE (application->moreThanOneInstanceAllowed());
    sim::ClearCallLog();

    application->anotherInstanceStarted ("--ignored");
    application->shutdown();
    application.reset();

    EXPECT_TRUE (sim::CallLog().empty());
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
    InstallDriver();
    application->initialise ({});

    auto* model = dynamic_cast<dummyMenuBarModel*> (PlatformSeam::GetMainMenu());
    ASSERT_NE (model, nullptr);
    EXPECT_EQ (model->getMenuBarNames(), juce::StringArray (juce::String()));
    EXPECT_EQ (model->getMenuForIndex (0, {}).getNumItems(), 0);

    Plug (114, "QV2400117");
    ASSERT_TRUE (PumpUntil ([this] { return sim::DefaultOutput() == virtualIds[0]; })) << "never routed";

    auto* tray = FindTrayMenu();
    ASSERT_NE (tray, nullptr);
    IconRemovalWitness witness;
    tray->addComponentListener (&witness);

    ASSERT_TRUE (user.Choose (*tray, "Quit"));
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());

    application->shutdown(); // what JUCE does once the loop has ended

    ASSERT_TRUE (witness.removed);
    EXPECT_EQ (witness.mainMenuAtRemoval, nullptr);
    EXPECT_TRUE (witness.aggregatesAtRemoval.empty());
    EXPECT_EQ (witness.defaultInputAtRemoval, builtInInput);
    EXPECT_EQ (witness.defaultOutputAtRemoval, builtInOutput);
    EXPECT_EQ (FindTrayMenu(), nullptr);
}

TEST (dummyMenuBarModel, UninstallsItselfWhenDestroyed)
{
    auto model = std::make_unique<dummyMenuBarModel>();
    PlatformSeam::SetMainMenu (model.get());
    model.reset();
    EXPECT_EQ (PlatformSeam::GetMainMenu(), nullptr);
}

} // namespace
