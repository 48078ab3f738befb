#include "support/MachineResetListener.h"

#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

namespace {

/** Makes the test thread JUCE's message thread for the whole run, so that
    timers and callAsync work when a test pumps the message loop. */
class JuceEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>(); }
    void TearDown() override { juce.reset(); }

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
