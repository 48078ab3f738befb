#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <juce_events/juce_events.h>

#include "devices/HidDevices.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/MachineInternals.h"
#include "platform/sim/SimulatedMachine.h"

namespace enginetest
{

/** Runs the message loop until the condition holds or a generous deadline passes. */
inline bool PumpUntil (const std::function<bool()>& condition, double timeoutMs = 20000.0)
{
    const double deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    while (!condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() >= deadline)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    }

    return true;
}

/** Runs every task posted so far: they run in posting order, so once a task
    posted now has run, all earlier ones have. */
inline bool RunPostedTasks()
{
    auto done = std::make_shared<bool> (false);
    juce::MessageManager::callAsync ([done] { *done = true; });
    return PumpUntil ([done] { return *done; });
}

/** The engine's callback, which also notes in the machine's call log when the
    device manager tells it the device has stopped for it. Where that line
    falls against "AudioDeviceStop" shows whether the callback was removed
    before the device was stopped. */
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

/** The call-log lines that start with one of the prefixes, in order. */
inline std::vector<std::string> LogLines (const std::vector<std::string>& prefixes)
{
    std::vector<std::string> lines;

    for (const auto& line : sim::CallLog())
        if (std::any_of (prefixes.begin(), prefixes.end(),
                         [&line] (const std::string& prefix) { return line.rfind (prefix, 0) == 0; }))
            lines.push_back (line);

    return lines;
}

/** A machine with a built-in input and output device as the defaults and a
    manual audio clock; tests add the driver and mixers. */
class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::Manual);

        sim::AudioDeviceSpec input;
        input.name = "Built-in Input";
        input.uid = "BuiltInInputDevice";
        input.inputStreams = { 2 };
        builtInInput = sim::AddAudioDevice (input);

        sim::AudioDeviceSpec output;
        output.name = "Built-in Output";
        output.uid = "BuiltInOutputDevice";
        output.outputStreams = { 2 };
        builtInOutput = sim::AddAudioDevice (output);

        sim::SetDefaultInput (builtInInput);
        sim::SetDefaultOutput (builtInOutput);
    }

    void TearDown() override
    {
        engine.reset();
        sim::Reset();
    }

    void InstallDriver() { virtualIds = sim::InstallVirtualDriver(); }

    /** With scansByHand, the polling timer is stopped at once and the test
        scans by calling Scan, so that every arrival is handled exactly when
        the test says. */
    VirtualChannelsEngine& MakeEngine (bool scansByHand = true)
    {
        engine = std::make_unique<VirtualChannelsEngine>();

        if (scansByHand)
            engine->hidDevices->stopTimer();

        return *engine;
    }

    /** Swaps the engine's callback for a LoggingCallback; only while it is not registered. */
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

    /** A mixer whose USB audio device is listed after audioDelayMs (-1: never). */
    static sim::Mixer Plug (std::uint16_t productId, const std::string& serialNumber, int audioDelayMs = 0)
    {
        sim::MixerSpec spec;
        spec.productId = productId;
        spec.serialNumber = serialNumber;
        spec.audioDelayMs = audioDelayMs;
        return sim::PlugMixer (spec);
    }

    /** The UIDs that the last aggregate description named. */
    static std::vector<std::string> LastDescribedUids()
    {
        std::vector<std::string> uids;
        const auto descriptions = sim::AggregateDescriptions();

        if (!descriptions.empty())
            for (const auto& subDevice : descriptions.back().subDevices)
                uids.push_back (subDevice.uid);

        return uids;
    }

    AudioObjectID builtInInput = 0;
    AudioObjectID builtInOutput = 0;
    std::vector<AudioObjectID> virtualIds;
    std::unique_ptr<VirtualChannelsEngine> engine;
};

} // namespace enginetest
