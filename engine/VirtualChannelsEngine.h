#pragma once

#include <CoreAudio/CoreAudio.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

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

    Without the virtual audio driver at construction the engine stays inert:
    it never watches for mixers. Otherwise it reacts to the detection's
    arrivals and removals and to processingEnabled from then on.
*/
class VirtualChannelsEngine
{
public:
    using AggregateState = ::AggregateState;

    /** Saves the system default devices, removes an aggregate left behind by an
        earlier run and, when the virtual driver is present, starts watching for
        mixers. Message thread. */
    VirtualChannelsEngine();

    /** Closes the device, writes the saved defaults back and destroys the
        aggregate. Message thread. */
    ~VirtualChannelsEngine();

    VirtualChannelsEngine (const VirtualChannelsEngine&) = delete;
    VirtualChannelsEngine& operator= (const VirtualChannelsEngine&) = delete;

    /** Builds the aggregate of the virtual devices and the mixer's USB audio device
        named multitrackName, for the mixer with device key hidDeviceId, and opens it.
        Message thread, only while no aggregate exists. Returns 'stop' when there is
        nothing to build, the creation's status when it fails, otherwise 0. */
    OSStatus CreateAggregateDevice (const char* multitrackName, int hidDeviceId);

    /** A unit has arrived, or is offered again after a removal: builds the aggregate
        for a supported mixer once its USB audio device shows (waiting up to 5 s),
        unless one exists, and posts its texts. Message thread, from the detection's
        scan; blocks it while waiting. */
    void OnDeviceConnected (int key);

    /** A unit has gone: tears the aggregate down if it was built for this unit,
        then offers the lowest-keyed remaining unit. Message thread, from the scan. */
    void OnDeviceDisconnected (int key);

    /** Detaches the audio callback, and attaches it again when enabled. Message
        thread, inside processingEnabled.Set. */
    void OnProcessingEnabled (bool enabled);

    /** Whether a unit with this USB product ID gets an aggregate. */
    static bool IsAcceptedProduct (int productId);

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

private:
    void RemoveStaleAggregates (const std::vector<AudioObjectID>& deviceIds);
    void PostTask (std::function<void()> task);

    // Cut by the destructor, so that neither signal can reach the engine's
    // parts once they start to go (the mixer dies before the stream status,
    // the device manager before processingEnabled).
    sigslot::scoped_connection bufferSizeConnection;
    sigslot::scoped_connection processingEnabledConnection;

    // Posted tasks hold a weak reference to this; once the engine is gone they do nothing.
    std::shared_ptr<bool> taskToken = std::make_shared<bool> (true);
};
