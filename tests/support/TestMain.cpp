#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "platform/sim/SimulatedMachine.h"

namespace
{

/** Starts every test on an empty simulated machine: no test sees the default
    machine or what an earlier test left behind. */
class MachineResetListener : public ::testing::EmptyTestEventListener
{
    void OnTestStart (const ::testing::TestInfo&) override { sim::Reset(); }
};

/** Makes the test thread JUCE's message thread for the whole run, so that
    timers and callAsync work when a test pumps the message loop. */
class JuceEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>();

        // JUCE sets X up as the program needs it (thread-safe Xlib, error handlers
        // that ignore the protocol errors it causes on a server without a window
        // manager) only for an application; so the window system starts here as
        // in the program. The factory is never called, and is gone again at once.
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
        juce::Desktop::getInstance();
        juce::JUCEApplicationBase::createInstance = nullptr;
    }

    void TearDown() override { juce.reset(); }

    // A run cut short by exit() never reaches TearDown, and JUCE's own statics
    // are gone by the time this destructor runs; leave JUCE to the exit.
    ~JuceEnvironment() override { (void) juce.release(); }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juce;
};

} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    ::testing::AddGlobalTestEnvironment (new JuceEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append (new MachineResetListener);
    return RUN_ALL_TESTS();
}
