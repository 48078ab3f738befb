#pragma once

// What the HAL functions and the "CoreAudio" JUCE device type need from the
// audio side of the simulated machine. Tests use SimulatedMachine.h instead.

#include "platform/sim/SimulatedMachine.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim::detail
{

/** The device and channel that one channel of a device really belongs to:
    the device itself or, for an aggregate, one of its active sub-devices. */
struct ChannelOwner
{
    AudioObjectID device = 0;
    int channel = 0;
};

/** A listed device as the HAL presents it now; an aggregate's streams are its
    active sub-devices' streams, in sub-device order. */
struct HalDevice
{
    std::string name;
    std::string uid;
    std::vector<int> inputStreams;
    std::vector<int> outputStreams;
    std::vector<ChannelOwner> inputChannels;
    std::vector<ChannelOwner> outputChannels;
    bool isAggregate = false;
    std::vector<std::string> fullSubDeviceUids;
    std::vector<AudioObjectID> activeSubDevices;
};

/** Ids of the devices HAL readers see now, in the order they were added: those
    that exist, when notifications run on the HAL's own thread; otherwise the
    list as the main run loop was last told of it. */
std::vector<AudioObjectID> ListedAudioDevices();

/** The device if it exists and readers see it now. */
std::optional<HalDevice> ListedAudioDevice (AudioObjectID device);

std::optional<OSStatus> PropertyFailure (AudioObjectID object, AudioObjectPropertySelector selector);
std::optional<PropertyAnswer> PropertyOverride (AudioObjectID object, AudioObjectPropertySelector selector);

/** kAudioHardwarePropertyRunLoop: NULL moves device-list notifications to the
    HAL's own thread (true), the main run loop brings them back. */
void SetNotifyOnOwnThread (bool ownThread);

void AddListener (AudioObjectID object, const AudioObjectPropertyAddress& address,
                  AudioObjectPropertyListenerProc proc, void* clientData);

/** False when no such listener was added. */
bool RemoveListener (AudioObjectID object, const AudioObjectPropertyAddress& address,
                     AudioObjectPropertyListenerProc proc, void* clientData);

/** Changes the system default; refuses ids of devices that are not listed, and devices without channels in
    that direction. Logs every call. */
OSStatus SetDefaultDevice (bool input, AudioObjectID device);

/** Records the description and, unless the fault is injected, creates the aggregate. Logs the call. */
OSStatus CreateAggregate (AggregateDescription description, AudioObjectID* newId);

/** Destroys an aggregate device; other ids fail. Logs the call. */
OSStatus DestroyAggregate (AudioObjectID device);

//==============================================================================
// The audio data path

/** The fed samples and captured output of one device channel. */
class ChannelStore;
using ChannelStores = std::vector<std::shared_ptr<ChannelStore>>;

/** The store of one device channel, made ready for a device that opens it
    (with room for captured output when capture is set). The pointer stays
    valid after Reset; it is then no longer reachable through FeedInput and TakeOutput. */
std::shared_ptr<ChannelStore> OpenChannelStore (ChannelOwner owner, bool capture);

/** Audio thread: fills each buffer with the next samples fed to its store (silence once they run out).
    Allocates nothing. */
void ReadInputBlock (const ChannelStores& stores, float* const* buffers, int numSamples);

/** Audio thread: appends each buffer to its store's captured output. Allocates nothing. */
void WriteOutputBlock (const ChannelStores& stores, const float* const* buffers, int numSamples);

float OutputPrefill();
AudioClock CurrentAudioClock();
void CountAudioBlock();

/** A started device on the manual clock, run by RunAudioBlocks. */
class ManualBlockSource;
void AddManualBlockSource (std::shared_ptr<ManualBlockSource> source);
void RemoveManualBlockSource (const ManualBlockSource* source);

} // namespace sim::detail
