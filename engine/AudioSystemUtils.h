#pragma once

#include <CoreAudio/CoreAudio.h>

#include <cstdint>
#include <vector>

#include <juce_core/juce_core.h>

/**
    The engine's way to the CoreAudio HAL's properties.

    Every function asks the HAL afresh and keeps nothing. None reports a
    failure: a failed HAL call becomes an empty text, an empty list, 0 or
    "no device", which callers treat like any other answer. Called on the
    message thread (and from the audio callback's about-to-start handler),
    never from the audio I/O callback itself.
*/
namespace AudioSystemUtils
{

/** A device buffer size, in samples. */
enum class Latency : std::int32_t
{
    UltraLow = 64,
    Low = 128,
};

/** Ids of all audio devices, in the HAL's order. */
std::vector<AudioObjectID> GetDeviceIds();

/** A text property of a HAL object; "" on failure. */
juce::String GetStringProperty (AudioObjectID object, AudioObjectPropertySelector selector);

/** The device's name; "" on failure. */
juce::String GetDeviceName (AudioObjectID device);

/** The device's UID; "" on failure. */
juce::String GetDeviceUid (AudioObjectID device);

/** The channels of all the device's output streams together; 0 on failure. */
int GetNumOutputChannels (AudioObjectID device);

/** The non-empty names of the devices with at least one output channel, in device order. */
std::vector<juce::String> GetOutputDeviceNames();

/** The system default input device; 0 on failure. */
AudioObjectID GetDefaultInputDevice();

/** The system default output device; 0 on failure. */
AudioObjectID GetDefaultOutputDevice();

/** Makes the device the system default input; a refusal is ignored. */
void SetDefaultInputDevice (AudioObjectID device);

/** Makes the device the system default output; a refusal is ignored. */
void SetDefaultOutputDevice (AudioObjectID device);

/** Has the HAL tell this process of changes (the device list among them) on
    a thread of its own instead of the main run loop, so that a message thread
    busy polling the HAL still sees each change; a refusal is ignored. */
void DetachNotificationsFromMainRunLoop();

/** The device with this UID; 0 when there is none. */
AudioObjectID TranslateUidToDevice (const juce::String& uid);

/** The UIDs of all sub-devices of an aggregate device, in its order; empty on failure. */
std::vector<juce::String> GetSubDeviceUids (AudioObjectID aggregate);

/** The UIDs of the aggregate's active sub-devices, in the HAL's order; empty on
    failure. A sub-device whose UID cannot be read keeps an empty entry. */
std::vector<juce::String> GetActiveSubDeviceUids (AudioObjectID aggregate);

} // namespace AudioSystemUtils
