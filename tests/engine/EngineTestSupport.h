#pragma once

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

/** The engine's callback, which also notes in the call log when the device
    manager tells it the device has stopped for it. Where that line falls
    against "AudioDeviceStop" shows whether the callback was removed before
    the device was stopped. */
class LoggingCallback : public VirtualChanAudioCallback
{
public:
    using VirtualChanAudioCallback::VirtualChanAudioCallback;

    void audioDeviceStopped() override
    {
        sim::detail::Log ("CallbackStopped");
        VirtualChanAudioCallback::audioDeviceStopped();
    }
};

class EngineTest : public MachineTest
{
protected:
    void TearDown() override
    {
        engine.reset();
        MachineTest::TearDown();
    }

    /** With scansByHand the polling timer stops at once and the test scans by
        calling Scan, so that every arrival is handled exactly when it says. */
    VirtualChannelsEngine& MakeEngine (bool scansByHand = true)
    {
        engine = std::make_unique<VirtualChannelsEngine>();
        if (scansByHand)
            engine->hidDevices->stopTimer();
        return *engine;
    }

    /** Only while the callback is not registered. */
    void UseLoggingCallback()
    {
        engine->audioCallback =
            std::make_unique<LoggingCallback> (engine->deviceStatus.get(), engine->mixer.get(), &engine->aggregate);
    }

    void Scan() { engine->hidDevices->timerCallback(); }

    static int KeyOf (std::uint16_t productId, const std::string& serialNumber)
    {
        return HidDevices::MakeDeviceKey (0x7A31, productId, juce::String (serialNumber));
    }

    static std::vector<std::string> LastDescribedUids()
    {
        const auto descriptions = sim::AggregateDescriptions();
        return descriptions.empty() ? std::vector<std::string> {} : SubDeviceUids (descriptions.back());
    }

    std::unique_ptr<VirtualChannelsEngine> engine;
};

} // namespace enginetest
