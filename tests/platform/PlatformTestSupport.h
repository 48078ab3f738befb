#pragma once

#include "platform/sim/SimulatedMachine.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace platformtest
{

inline AudioObjectPropertyAddress Address (AudioObjectPropertySelector selector,
                                           AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal)
{
    return { selector, scope, kAudioObjectPropertyElementMain };
}

/** A device named name with UID name + "-uid". */
inline AudioObjectID AddDevice (const std::string& name, std::vector<int> inputs, std::vector<int> outputs,
                                int appearAfterMs = 0, bool isAggregate = false)
{
    return sim::AddAudioDevice (
        { name, name + "-uid", std::move (inputs), std::move (outputs), appearAfterMs, isAggregate });
}

/** An array of object ids read the way the system reads it: size first, then data. */
inline std::vector<AudioObjectID> Ids (AudioObjectID object, AudioObjectPropertySelector selector)
{
    const auto address = Address (selector);
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize (object, &address, 0, nullptr, &size) != 0)
        return {};
    std::vector<AudioObjectID> ids (size / sizeof (AudioObjectID));
    if (AudioObjectGetPropertyData (object, &address, 0, nullptr, &size, ids.data()) != 0)
        return {};
    ids.resize (size / sizeof (AudioObjectID));
    return ids;
}

inline std::vector<AudioObjectID> DeviceList()
{
    return Ids (kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
}

inline bool Listed (AudioObjectID id)
{
    const auto ids = DeviceList();
    return std::find (ids.begin(), ids.end(), id) != ids.end();
}

/** An aggregate of the devices with these UIDs, the last one the master, made
    through the HAL; its UID is name + "-uid". */
inline OSStatus CreateAggregate (const std::string& name, const std::vector<std::string>& subUids, AudioObjectID& id)
{
    const auto string = [] (const std::string& text)
    { return CFStringCreateWithCString (nullptr, text.c_str(), kCFStringEncodingUTF8); };
    const auto put = [&] (CFMutableDictionaryRef dictionary, const char* key, CFTypeRef value)
    {
        CFStringRef k = string (key);
        CFDictionaryAddValue (dictionary, k, value);
        CFRelease (k);
        CFRelease (value);
    };
    const auto dictionary = [] {
        return CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    };

    auto description = dictionary();
    put (description, kAudioAggregateDeviceNameKey, string (name));
    put (description, kAudioAggregateDeviceUIDKey, string (name + "-uid"));
    auto list = CFArrayCreateMutable (nullptr, 0, &kCFTypeArrayCallBacks);
    for (const auto& subUid : subUids)
    {
        auto sub = dictionary();
        put (sub, kAudioSubDeviceUIDKey, string (subUid));
        CFArrayAppendValue (list, sub);
        CFRelease (sub);
    }
    put (description, kAudioAggregateDeviceSubDeviceListKey, list);
    put (description, kAudioAggregateDeviceMasterSubDeviceKey, string (subUids.empty() ? "" : subUids.back()));
    const auto status = AudioHardwareCreateAggregateDevice (description, &id);
    CFRelease (description);
    return status;
}

/** Polls until the condition holds or ten seconds are up. */
template <typename Condition>
bool WaitFor (Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (10);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    return true;
}

/** Runs the message loop, where the HAL tells this process of new device lists, until the condition holds. */
template <typename Condition>
bool PumpUntil (Condition condition)
{
    return WaitFor (
        [&]
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
            return condition();
        });
}

} // namespace platformtest
