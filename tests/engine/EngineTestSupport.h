#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/HidDevices.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/MachineInternals.h"
#include "tests/support/SimulatedMachineSetup.h"

namespace enginetest
{

using namespace quortest;

/** A raw stream configuration, claiming what no simulated device could hold. */
inline sim::PropertyAnswer StreamConfiguration (UInt32 claimedBuffers, const std::vector<UInt32>& channels)
{
    sim::PropertyAnswer answer;
    answer.data.resize (offsetof (AudioBufferList, mBuffers) + channels.size() * sizeof (AudioBuffer));
    std::memcpy (answer.data.data(), &claimedBuffers, sizeof (claimedBuffers));
    for (size_t i = 0; i < channels.size(); ++i)
        std::memcpy (answer.data.data() + offsetof (AudioBufferList, mBuffers) + i * sizeof (AudioBuffer), &channels[i],
                     sizeof (UInt32)); // mNumberChannels comes first
    answer.size = UInt32 (answer.data.size());
    return answer;
}

/** Polls as the engine's waits do, without running the message loop; false after five seconds. */
inline bool PollWithoutMessageLoop (const std::function<bool()>& condition)
{
    for (int attempt = 0; attempt < 5000; ++attempt, juce::Thread::sleep (1))
        if (condition())
            return true;
    return false;
}

/** Logs the device manager's stop notice: before "AudioDeviceStop" if it was removed first. */
class LoggingCallback : public VirtualChanAudioCallback
{
public:
    using VirtualChanAudioCallback::VirtualChanAudioCallback;
    void audioDeviceStopped() override { sim::detail::Log ("CallbackStopped"); }
};

class EngineTest : public MachineTest
{
protected:
    void TearDown() override
    {
        engine.reset();
        MachineTest::TearDown();
    }

    /** The polling timer is stopped: the test scans when it says. */
    VirtualChannelsEngine& MakeEngine (bool loggingCallback = false)
    {
        engine = std::make_unique<VirtualChannelsEngine>();
        engine->hidDevices->stopTimer();
        if (loggingCallback)
            engine->audioCallback =
                std::make_unique<LoggingCallback> (engine->deviceStatus.get(), engine->mixer.get(), &engine->aggregate);
        return *engine;
    }

    sim::Mixer Plug (std::uint16_t productId, const std::string& serial, int audioDelayMs = 0)
    {
        ++units;
        return quortest::Plug (productId, serial, audioDelayMs);
    }

    void Unplug (const sim::Mixer& mixer)
    {
        --units;
        sim::UnplugMixer (mixer);
    }

    /** Scans until the detection holds every unit plugged (the HID thread's loop hears of it first). */
    void Scan()
    {
        EXPECT_TRUE (PollWithoutMessageLoop (
            [this]
            {
                engine->hidDevices->timerCallback();
                return engine->hidDevices->GetDeviceKeys().size() == size_t (units);
            }));
    }

    static int KeyOf (std::uint16_t productId, const std::string& serialNumber)
    {
        return HidDevices::MakeDeviceKey (0x7A31, productId, juce::String (serialNumber));
    }

    /** The device name and firmware texts once the posted tasks have run. */
    std::pair<juce::String, juce::String> ShownTexts()
    {
        EXPECT_TRUE (RunPostedTasks());
        return { engine->deviceName.value, engine->firmwareVersion.value };
    }

    /** Ten distinct signals fed to virtual devices 1 to 5 reach mixer outputs 0 to 9 sample-exact; the virtual
        devices' own outputs stay silent. */
    void ExpectTenSignalsRouted (AudioObjectID mixerAudio)
    {
        std::vector<std::vector<float>> fed (10);
        for (int channel = 0; channel < 10; ++channel)
        {
            const auto virtualDevice = virtualIds[size_t (channel / 2)];
            sim::TakeOutput (mixerAudio, channel);
            sim::TakeOutput (virtualDevice, channel % 2);
            for (int i = 0; i < 256; ++i)
                fed[size_t (channel)].push_back (float (channel + 1) + float (i) / 512.0f);
            sim::FeedInput (virtualDevice, channel % 2, fed[size_t (channel)]);
        }
        sim::RunAudioBlocks (2);
        for (int channel = 0; channel < 10; ++channel)
        {
            EXPECT_EQ (sim::TakeOutput (mixerAudio, channel), fed[size_t (channel)]) << "mixer output " << channel;
            EXPECT_EQ (sim::TakeOutput (virtualIds[size_t (channel / 2)], channel % 2), std::vector<float> (256))
                << "virtual output " << channel;
        }
    }

    std::unique_ptr<VirtualChannelsEngine> engine;
    int units = 0;
};

} // namespace enginetest
