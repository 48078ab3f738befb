#pragma once

#include <CoreAudio/CoreAudio.h>

#include <map>
#include <vector>

#include <juce_core/juce_core.h>

#include "engine/Mixer.h"

/**
    The engine's record of the aggregate device it built and of the routes of
    the running device. A plain copyable value; destroying it never touches
    the HAL device.

    Written on the message thread (by the builder, the teardown and the audio
    callback's about-to-start handler, all while no block runs); its routes
    are read by the audio callback on the audio thread.
*/
struct AggregateState
{
    AudioObjectID deviceId = 0;
    std::vector<juce::String> subDeviceUids;
    std::map<int, Mixer::Route> routes;
    juce::String name;
    int numInputChannels = 0;
    int numOutputChannels = 0;
    int hidDeviceId = -1;
    juce::String hardwareUid;

    /** Records routes[kind]: numInputs consecutive input channels from firstInput
        and numOutputs consecutive output channels from firstOutput. */
    void AddRoute (int kind, int firstInput, int firstOutput, int numInputs, int numOutputs);
};
