#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

#include <atomic>
#include <cstddef>
#include <cstring>

// The system reads these records with fixed sizes, as on a 64-bit Mac.
static_assert (sizeof (AudioValueTranslation) == 32);
static_assert (sizeof (AudioBuffer) == 16);
static_assert (offsetof (AudioBufferList, mBuffers) == 8);

namespace
{

using namespace platformtest;

constexpr AudioObjectID kSystem = kAudioObjectSystemObject;

/** Counts the device-list notifications and notes whether they came on the message thread. */
struct DeviceListListener
{
    DeviceListListener() { AudioObjectAddPropertyListener (kSystem, &address, &DeviceListListener::Heard, this); }
    ~DeviceListListener() { AudioObjectRemovePropertyListener (kSystem, &address, &DeviceListListener::Heard, this); }

    static OSStatus Heard (AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void* self)
    {
        auto& listener = *static_cast<DeviceListListener*> (self);
        listener.onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        ++listener.calls;
        return 0;
    }

    const AudioObjectPropertyAddress address { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeWildcard,
                                               kAudioObjectPropertyElementWildcard };
    std::atomic<int> calls { 0 };
    std::atomic<bool> onMessageThread { false };
};

OSStatus SetRunLoop (CFRunLoopRef loop, UInt32 size = sizeof (CFRunLoopRef))
{
    const auto address = Address (kAudioHardwarePropertyRunLoop);
    return AudioObjectSetPropertyData (kSystem, &address, 0, nullptr, size, &loop);
}

TEST (CoreAudioHal, DeviceListChangesReachReadersOnlyThroughTheMainRunLoopUntilTheProcessOptsOut)
{
    sim::Reset();
    DeviceListListener listener;
    const auto present = AddDevice ("Present", {}, { 2 });
    EXPECT_EQ (DeviceList(), std::vector<AudioObjectID> { present }) << "what is there when the process first asks";
    EXPECT_TRUE (PumpUntil ([&] { return listener.calls == 1; }));
    const auto device = AddDevice ("Late", {}, { 2 });
    juce::Thread::sleep (50);
    EXPECT_FALSE (Listed (device));
    EXPECT_EQ (sim::FindAudioDevice ("Late-uid"), 0u);
    EXPECT_EQ (listener.calls, 1);

    EXPECT_TRUE (PumpUntil ([&] { return Listed (device); }));
    EXPECT_EQ (listener.calls, 2);
    EXPECT_TRUE (listener.onMessageThread);

    // Gone from the machine, still listed until told, but no longer readable.
    sim::RemoveAudioDevice (device);
    EXPECT_TRUE (Listed (device));
    const auto name = Address (kAudioObjectPropertyName);
    CFStringRef text = nullptr;
    UInt32 size = sizeof (text);
    EXPECT_EQ (AudioObjectGetPropertyData (device, &name, 0, nullptr, &size, &text), kAudioHardwareBadObjectError);
    EXPECT_TRUE (PumpUntil ([&] { return !Listed (device); }));

    // Once the run loop is NULL, the HAL's own thread tells at once, late devices when they arrive.
    EXPECT_EQ (SetRunLoop (nullptr, 4), kAudioHardwareBadPropertySizeError);
    ASSERT_EQ (SetRunLoop (nullptr), 0);
    const auto later = AddDevice ("Later", {}, { 2 }, 100);
    EXPECT_FALSE (Listed (later));
    EXPECT_TRUE (WaitFor ([&] { return Listed (later) && listener.calls == 4; }));
    EXPECT_FALSE (listener.onMessageThread);
    EXPECT_EQ (sim::FindAudioDevice ("Later-uid"), later);

    sim::InjectFault (sim::Fault::SetProperty);
    EXPECT_NE (SetRunLoop (nullptr), 0);
}

TEST (CoreAudioHal, FixedSizeReadsTakeAnyBufferLargeEnoughDefaultsNeedChannelsAndTheFaultSwitchesRefuse)
{
    sim::Reset();
    ASSERT_EQ (SetRunLoop (nullptr), 0);
    const auto device = AddDevice ("Speakers", {}, { 2 });
    sim::SetDefaultOutput (device);

    const auto address = Address (kAudioHardwarePropertyDefaultOutputDevice);
    AudioObjectID ids[2] = { 0, 0xDEADBEEF };
    UInt32 size = sizeof (ids);
    ASSERT_EQ (AudioObjectGetPropertyData (kSystem, &address, 0, nullptr, &size, ids), 0);
    EXPECT_EQ (size, sizeof (AudioObjectID));
    EXPECT_TRUE (ids[0] == device && ids[1] == 0xDEADBEEF);
    size = 2;
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &address, 0, nullptr, &size, ids),
               kAudioHardwareBadPropertySizeError);

    // A device becomes a default only in a direction it has channels in; an aggregate has its sub-devices'.
    const auto microphone = AddDevice ("Microphone", { 1 }, {});
    AudioObjectID aggregate = 0;
    ASSERT_EQ (CreateAggregate ("Agg", { "Speakers-uid" }, aggregate), 0);
    const auto makeDefault = [] (AudioObjectPropertySelector selector, AudioObjectID device)
    {
        const auto which = Address (selector);
        return AudioObjectSetPropertyData (kSystem, &which, 0, nullptr, sizeof (device), &device);
    };
    EXPECT_NE (makeDefault (kAudioHardwarePropertyDefaultOutputDevice, microphone), 0);
    EXPECT_NE (makeDefault (kAudioHardwarePropertyDefaultInputDevice, device), 0);
    EXPECT_NE (makeDefault (kAudioHardwarePropertyDefaultInputDevice, aggregate), 0);
    EXPECT_EQ (std::pair (sim::DefaultInput(), sim::DefaultOutput()), std::pair (AudioObjectID (0), device));
    EXPECT_EQ (makeDefault (kAudioHardwarePropertyDefaultInputDevice, microphone), 0);
    EXPECT_EQ (makeDefault (kAudioHardwarePropertyDefaultOutputDevice, aggregate), 0);
    EXPECT_EQ (std::pair (sim::DefaultInput(), sim::DefaultOutput()), std::pair (microphone, aggregate));

    sim::InjectFault (sim::Fault::SetProperty);
    sim::InjectFault (sim::Fault::AggregateDestroy);
    EXPECT_NE (makeDefault (kAudioHardwarePropertyDefaultOutputDevice, device), 0);
    EXPECT_NE (AudioHardwareDestroyAggregateDevice (aggregate), 0);
    EXPECT_EQ (sim::DefaultOutput(), aggregate);
    EXPECT_EQ (sim::ExistingAggregates(), std::vector<AudioObjectID> { aggregate });
}

} // namespace
