#include "PlatformTestSupport.h"
#include "platform/seam/PlatformSeam.h"

#include <gtest/gtest.h>

namespace
{

using namespace platformtest;

class PassThrough : public juce::AudioIODeviceCallback
{
public:
    void audioDeviceIOCallbackWithContext (const float* const* in, int, float* const* out, int, int samples,
                                           const juce::AudioIODeviceCallbackContext&) override
    {
        for (int i = 0; i < samples; ++i)
            out[0][i] = 2.0f * in[0][i];
    }
    void audioDeviceAboutToStart (juce::AudioIODevice*) override {}
    void audioDeviceStopped() override {}
};

struct ListChanges : juce::AudioIODeviceType::Listener
{
    void audioDeviceListChanged() override { ++changes; }
    int changes = 0;
};

// As JUCE's own type on a Mac: the names come from the last scan, which the
// HAL's notification renews later, on the message thread.
TEST (HalAudioDeviceType, AnswersFromItsLastScanUntilTheHalTellsOfANewList)
{
    sim::Reset();
    sim::SetAudioClock (sim::AudioClock::Manual);
    AddDevice ("Speakers", {}, { 1 });
    AddDevice ("Interface", { 2 }, { 8 });
    AddDevice ("Interface", { 4 }, {});
    juce::AudioDeviceManager manager;
    PlatformSeam::PrepareAudioDeviceManager (manager);
    auto* type = manager.getAvailableDeviceTypes()[0];
    ASSERT_EQ (type->getTypeName(), "CoreAudio");
    type->scanForDevices();
    EXPECT_EQ (type->getDeviceNames (false), juce::StringArray ({ "Speakers", "Interface" }));
    EXPECT_EQ (type->getDeviceNames (true), juce::StringArray ({ "Interface (1)", "Interface (2)" }));
    ListChanges listener;
    type->addListener (&listener);

    // A device that arrives after the scan is not there to open...
    const auto late = AddDevice ("Late", { 1 }, { 1 });
    sim::FeedInput (late, 0, std::vector<float> (128, 0.25f));
    juce::AudioDeviceManager::AudioDeviceSetup setup;
    setup.inputDeviceName = setup.outputDeviceName = "Late";
    setup.bufferSize = 64;
    EXPECT_EQ (manager.initialise (1, 1, nullptr, false, {}, &setup), "No such device: Late");
    EXPECT_FALSE (type->getDeviceNames (false).contains ("Late"));

    // ...until the main run loop has told the HAL's readers and the type.
    EXPECT_TRUE (PumpUntil ([&] { return listener.changes > 0; }));
    EXPECT_TRUE (type->getDeviceNames (false).contains ("Late"));
    PassThrough callback;
    manager.addAudioCallback (&callback);
    ASSERT_EQ (manager.setAudioDeviceSetup (setup, true), "");
    EXPECT_EQ (type->getIndexOfDevice (manager.getCurrentAudioDevice(), true), 2);
    sim::RunAudioBlocks (2);
    EXPECT_EQ (sim::TakeOutput (late, 0), std::vector<float> (128, 0.5f));

    sim::InjectFault (sim::Fault::AudioDeviceOpen);
    manager.closeAudioDevice();
    EXPECT_NE (manager.setAudioDeviceSetup (setup, true), "");
    manager.removeAudioCallback (&callback);
    type->removeListener (&listener);
}

} // namespace
