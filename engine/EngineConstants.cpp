#include "engine/EngineConstants.h"

const juce::String kAggregateDeviceName ("QUOR Aggregate");
const juce::String kVirtualDeviceUidPrefix ("QuorVirtualAudioDevice_UID");
const juce::String kAggregateDeviceUid ("com.Quor.VirtualChannelAggregate");

const juce::String kVirtualDeviceUids[10] = {
    "QuorVirtualAudioDevice_UID",   "QuorVirtualAudioDevice_UID_2", "QuorVirtualAudioDevice_UID_3",
    "QuorVirtualAudioDevice_UID_4", "QuorVirtualAudioDevice_UID_5", "QuorVirtualAudioDevice_UID_6",
    "QuorVirtualAudioDevice_UID_7", "QuorVirtualAudioDevice_UID_8", "QuorVirtualAudioDevice_UID_9",
    "QuorVirtualAudioDevice_UID_10",
};

const char* const kMultitrackDeviceNames[8] = {
    "Tavrolux Velmar Main Multitrack", // 114
    "Tavrolux Tesk Main Multitrack",   // 115
    "Tavrolux Velmar Main Multitrack", // 116
    "Tavrolux Velmar Main Multitrack", // 117
    "Tavrolux Velmar Main Multitrack", // 118
    "Tavrolux Velmar Main Multitrack", // 119
    "Tavrolux Velmar Main Multitrack", // 120
    "Tavrolux Tesk Main Multitrack",   // 121
};

const char* const kMasterDeviceUidPattern[2] = { "AppleUSBAudioEngine:QUOR:Tavrolux", ":4,5" };
