#include "engine/EngineConstants.h"

const juce::String kAggregateDeviceName ("QUOR Aggregate");
const juce::String kVirtualDeviceUidPrefix ("QuorVirtualAudioDevice_UID");
const juce::String kAggregateDeviceUid ("com.Quor.VirtualChannelAggregate");

const juce::String kVirtualDeviceUids[10] = {
    "QuorVirtualAudioDevice_UID",    "QuorVirtualAudioDevice_UID_2", "QuorVirtualAudioDevice_UID_3",
    "QuorVirtualAudioDevice_UID_4",  "QuorVirtualAudioDevice_UID_5", "QuorVirtualAudioDevice_UID_6",
    "QuorVirtualAudioDevice_UID_7",  "QuorVirtualAudioDevice_UID_8", "QuorVirtualAudioDevice_UID_9",
    "QuorVirtualAudioDevice_UID_10",
};

const char* const kMultitrackDeviceNames[8] = {
    kVelmarMultitrackName, // 114
    kTeskMultitrackName,   // 115
    kVelmarMultitrackName, // 116
    kVelmarMultitrackName, // 117
    kVelmarMultitrackName, // 118
    kVelmarMultitrackName, // 119
    kVelmarMultitrackName, // 120
    kTeskMultitrackName,   // 121
};

const char* const kMasterDeviceUidPattern[2] = { "AppleUSBAudioEngine:QUOR:Tavrolux", ":4,5" };
