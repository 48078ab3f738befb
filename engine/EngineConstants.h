#pragma once

#include <juce_core/juce_core.h>

// Everything the engine and the outside world (the virtual audio driver, the
// mixers' USB audio devices) must agree on, in one place.

extern const juce::String kAggregateDeviceName;
extern const juce::String kVirtualDeviceUidPrefix;
extern const juce::String kAggregateDeviceUid;

/** Virtual devices 1 to 10, in that order; the first is the system default while routing. */
extern const juce::String kVirtualDeviceUids[10];

/** CoreAudio names of the two mixer models' USB audio devices. */
inline constexpr const char* kVelmarMultitrackName = "Tavrolux Velmar Main Multitrack";
inline constexpr const char* kTeskMultitrackName = "Tavrolux Tesk Main Multitrack";

/** The USB product ID whose multitrack name is kMultitrackDeviceNames[0]. */
constexpr int kFirstMultitrackProductId = 114;

/** CoreAudio names of the mixers' USB audio devices, indexed by USB product ID - kFirstMultitrackProductId. */
extern const char* const kMultitrackDeviceNames[8];

/** A sub-device UID holding both parts becomes the aggregate's clock master. */
extern const char* const kMasterDeviceUidPattern[2];

/** More output channels than any USB audio device has: a device that claims
    more is a malformed HAL answer and never becomes the mixer's sub-device, so
    that the channel count asked of the device manager stays what the
    aggregate really offers (and cannot overflow). */
constexpr int kMaxMixerOutputChannels = 1024;

constexpr double kAggregateSampleRate = 48000.0;
constexpr double kAggregateAppearTimeoutMs = 500.0;
