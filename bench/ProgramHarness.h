#pragma once

// The whole program on the simulated machine, for the measuring tools: the
// application object created and initialised as JUCE does it, on a machine
// with a built-in input and output device and the virtual audio driver.

#include <functional>
#include <memory>

#include <juce_events/juce_events.h>

#include "app/QUORVirtualChannelsApplication.h"
#include "platform/sim/SimulatedMachine.h"

namespace bench
{

/** Message thread only; JUCE must be initialised for the whole life of this object. */
class ProgramHarness
{
public:
    ProgramHarness()
    {
        sim::Reset();
        sim::SetAudioClock (sim::AudioClock::RealTime);

        sim::AudioDeviceSpec input;
        input.name = "Built-in Input";
        input.uid = "BuiltInInputDevice";
        input.inputStreams = { 2 };
        sim::SetDefaultInput (sim::AddAudioDevice (input));

        sim::AudioDeviceSpec output;
        output.name = "Built-in Output";
        output.uid = "BuiltInOutputDevice";
        output.outputStreams = { 2 };
        sim::SetDefaultOutput (sim::AddAudioDevice (output));

        virtualIds = sim::InstallVirtualDriver();
    }

    ~ProgramHarness() { Stop(); }

    void Start()
    {
        juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase*
        { return new QUORVirtualChannelsApplication(); };
        application = std::make_unique<QUORVirtualChannelsApplication>();
        application->initialise ({});
    }

    /** What JUCE does once the message loop has ended. */
    void Stop()
    {
        if (application == nullptr)
            return;

        application->shutdown();
        application.reset();
        juce::JUCEApplicationBase::createInstance = nullptr;
    }

    QUORVirtualChannelsApplication& Application() { return *application; }

    /** Pumps the message loop in short slices until the condition holds; false on time-out. */
    static bool PumpUntil (const std::function<bool()>& condition, double timeoutMs)
    {
        const double deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

        while (!condition())
        {
            if (juce::Time::getMillisecondCounterHiRes() >= deadline)
                return false;

            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    std::vector<AudioObjectID> virtualIds;

private:
    std::unique_ptr<QUORVirtualChannelsApplication> application;
};

} // namespace bench
