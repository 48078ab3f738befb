#pragma once

#include <CoreAudio/CoreAudio.h>

#include <memory>
#include <mutex>

#include <juce_audio_devices/juce_audio_devices.h>
#include <sigslot/signal.hpp>

#include "engine/AggregateState.h"
#include "engine/AudioSystemUtils.h"
#include "engine/DeviceStatus.h"
#include "engine/Mixer.h"
#include "engine/ObservableProperty.h"
#include "engine/VirtualChanAudioCallback.h"

class HidDevices;

/**
    The virtual channel engine: builds the aggregate device from the virtual
    audio driver's devices and the mixer's USB audio device, opens it, and
    routes the virtual devices' audio to the mixer.

    Created, used and destroyed on the message thread. It owns everything it
    points to; members that hold plain pointers to siblings are declared after
    them, so they die first. The properties are public: the status-bar menu
    keeps pointers to them and listens to them.
*/
class VirtualChannelsEngine
{
public:
    using AggregateState = ::AggregateState;

    VirtualChannelsEngine();
    ~VirtualChannelsEngine();

    VirtualChannelsEngine (const VirtualChannelsEngine&) = delete;
    VirtualChannelsEngine& operator= (const VirtualChannelsEngine&) = delete;

    /** Builds the aggregate of the virtual devices and the mixer's USB audio device
        named multitrackName, for the mixer with device key hidDeviceId, and opens it.
        Message thread, only while no aggregate exists. Returns 'stop' when there is
        nothing to build, the creation's status when it fails, otherwise 0. */
    OSStatus CreateAggregateDevice (const char* multitrackName, int hidDeviceId);

    ObservableProperty<juce::String, std::recursive_mutex> deviceName;
    ObservableProperty<juce::String, std::recursive_mutex> firmwareVersion;
    ObservableProperty<AudioSystemUtils::Latency, std::recursive_mutex> latency;
    ObservableProperty<bool, std::recursive_mutex> processingEnabled;

    std::unique_ptr<DeviceStatus> deviceStatus;
    juce::AudioDeviceManager deviceManager;
    AggregateState aggregate;
    std::unique_ptr<Mixer> mixer;
    std::unique_ptr<VirtualChanAudioCallback> audioCallback;
    std::unique_ptr<HidDevices> hidDevices;
    AudioObjectID savedDefaultInputDevice = 0;
    AudioObjectID savedDefaultOutputDevice = 0;
    sigslot::scoped_connection deviceConnectedConnection;
    sigslot::scoped_connection deviceDisconnectedConnection;
};
