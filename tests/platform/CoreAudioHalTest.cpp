#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

// The system reads these records with fixed sizes, as on a 64-bit Mac.
static_assert (sizeof (AudioValueTranslation) == 32);
static_assert (sizeof (AudioBuffer) == 16);
static_assert (offsetof (AudioBufferList, mBuffers) == 8);
static_assert (sizeof (AudioObjectPropertyAddress) == 12);

namespace
{

using namespace platformtest;

constexpr AudioObjectID kSystem = kAudioObjectSystemObject;

std::vector<int> Streams (AudioObjectID device, AudioObjectPropertyScope scope)
{
    const auto address = Address (kAudioDevicePropertyStreamConfiguration, scope);
    UInt32 size = 0;
    EXPECT_EQ (AudioObjectGetPropertyDataSize (device, &address, 0, nullptr, &size), 0);
    std::vector<std::uint8_t> block (size);
    EXPECT_EQ (AudioObjectGetPropertyData (device, &address, 0, nullptr, &size, block.data()), 0);
    const auto* list = reinterpret_cast<const AudioBufferList*> (block.data());
    EXPECT_EQ (size, offsetof (AudioBufferList, mBuffers) + list->mNumberBuffers * sizeof (AudioBuffer));
    std::vector<int> streams;
    for (UInt32 i = 0; i < list->mNumberBuffers; ++i)
        streams.push_back ((int) list->mBuffers[i].mNumberChannels);
    return streams;
}

AudioObjectID Translate (const char* uid)
{
    CFStringRef string = CFStringCreateWithCString (nullptr, uid, kCFStringEncodingUTF8);
    AudioObjectID device = 12345;
    AudioValueTranslation translation { &string, sizeof (string), &device, sizeof (device) };
    UInt32 size = sizeof (translation);
    const auto address = Address (kAudioHardwarePropertyDeviceForUID);
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &address, 0, nullptr, &size, &translation), 0);
    CFRelease (string);
    return device;
}

/** Reads the property into a buffer of 0x5A bytes with the size given; true if none of them was touched. */
bool LeavesShortBufferAlone (AudioObjectID object, AudioObjectPropertyAddress address, UInt32 size)
{
    std::uint8_t buffer[32];
    std::memset (buffer, 0x5A, sizeof (buffer));
    const auto status = AudioObjectGetPropertyData (object, &address, 0, nullptr, &size, buffer);
    EXPECT_EQ (status, kAudioHardwareBadPropertySizeError) << address.mSelector;
    return std::all_of (buffer, buffer + sizeof (buffer), [] (std::uint8_t b) { return b == 0x5A; });
}

class CoreAudioHal : public ::testing::Test
{
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F (CoreAudioHal, ShortBuffersAndUnknownObjectsOrPropertiesFailWithoutWriting)
{
    const auto a = AddDevice ("A", { 2 }, {});
    AddDevice ("B", {}, { 2 });
    AddDevice ("C", {}, { 2 });
    const auto devices = Address (kAudioHardwarePropertyDevices);
    UInt32 size = 0;
    ASSERT_EQ (AudioObjectGetPropertyDataSize (kSystem, &devices, 0, nullptr, &size), 0);
    EXPECT_EQ (size, 12u);

    // Room for one and a half ids: one is written, the rest of the buffer is left alone.
    AudioObjectID ids[3] = { 0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA };
    size = 6;
    ASSERT_EQ (AudioObjectGetPropertyData (kSystem, &devices, 0, nullptr, &size, ids), 0);
    EXPECT_EQ (size, 4u);
    EXPECT_EQ (ids[0], a);
    EXPECT_EQ (ids[1], 0xAAAAAAAAu);

    // Fixed-size records (a string, an id, a whole stream list, a translation) need their whole size.
    const auto inputStreams = Address (kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
    ASSERT_EQ (AudioObjectGetPropertyDataSize (a, &inputStreams, 0, nullptr, &size), 0);
    EXPECT_EQ (size, 24u);
    EXPECT_TRUE (LeavesShortBufferAlone (a, Address (kAudioObjectPropertyName), 4));
    EXPECT_TRUE (LeavesShortBufferAlone (kSystem, Address (kAudioHardwarePropertyDefaultInputDevice), 2));
    EXPECT_TRUE (LeavesShortBufferAlone (a, inputStreams, 20));
    EXPECT_TRUE (LeavesShortBufferAlone (kSystem, Address (kAudioHardwarePropertyDeviceForUID), 16));

    const auto name = Address (kAudioObjectPropertyName);
    EXPECT_EQ (AudioObjectGetPropertyDataSize (a + 1000, &name, 0, nullptr, &size), kAudioHardwareBadObjectError);
    EXPECT_EQ (StringProperty (a + 1000, kAudioObjectPropertyName).first, kAudioHardwareBadObjectError);
    EXPECT_EQ (StringProperty (kSystem, kAudioObjectPropertyName).first, kAudioHardwareUnknownPropertyError);
    // Only aggregates have sub-device lists; stream configurations exist per direction only.
    for (const auto address : { Address (kAudioAggregateDevicePropertyFullSubDeviceList),
                                Address (kAudioAggregateDevicePropertyActiveSubDeviceList),
                                Address (kAudioDevicePropertyStreamConfiguration) })
        EXPECT_EQ (AudioObjectGetPropertyDataSize (a, &address, 0, nullptr, &size), kAudioHardwareUnknownPropertyError);
}

TEST_F (CoreAudioHal, DevicesDescribeThemselvesOnceTheyHaveAppeared)
{
    const auto device = AddDevice ("Caf\xC3\xA9 \xC3\x9Cnit", { 2 }, { 2, 8 });
    const auto silent = AddDevice ("Silent", {}, {});
    const auto late = AddDevice ("Late", {}, { 2 }, 1500);

    const auto objectsBefore = sim::LiveObjectCount();
    EXPECT_EQ (StringProperty (device, kAudioObjectPropertyName),
               std::make_pair (0, std::string ("Caf\xC3\xA9 \xC3\x9Cnit")));
    EXPECT_EQ (StringProperty (device, kAudioDevicePropertyDeviceUID).second, "Caf\xC3\xA9 \xC3\x9Cnit-uid");
    EXPECT_EQ (sim::LiveObjectCount(), objectsBefore) << "each handed-out string belongs to the caller";
    EXPECT_EQ (Streams (device, kAudioObjectPropertyScopeOutput), (std::vector<int> { 2, 8 }));
    EXPECT_EQ (Streams (device, kAudioObjectPropertyScopeInput), (std::vector<int> { 2 }));
    EXPECT_TRUE (Streams (silent, kAudioObjectPropertyScopeOutput).empty());
    EXPECT_EQ (Translate ("Silent-uid"), silent);
    EXPECT_EQ (Translate ("nobody"), 0u);

    EXPECT_EQ (DeviceList(), (std::vector<AudioObjectID> { device, silent }));
    EXPECT_EQ (StringProperty (late, kAudioObjectPropertyName).first, kAudioHardwareBadObjectError);
    EXPECT_EQ (Translate ("Late-uid"), 0u);
    EXPECT_EQ (sim::FindAudioDevice ("Late-uid"), 0u);
    ASSERT_TRUE (WaitFor ([&] { return Listed (late); }));
    EXPECT_EQ (DeviceList(), (std::vector<AudioObjectID> { device, silent, late }));
    EXPECT_EQ (StringProperty (late, kAudioObjectPropertyName).second, "Late");
    EXPECT_EQ (Translate ("Late-uid"), late);
    EXPECT_EQ (sim::FindAudioDevice ("Late-uid"), late);
}

TEST_F (CoreAudioHal, OnlyKnownDefaultsCanBeSetAndEverySetIsLogged)
{
    const auto first = AddDevice ("First", { 2 }, { 2 });
    const auto second = AddDevice ("Second", { 2 }, { 2 });
    sim::SetDefaultInput (first);
    sim::SetDefaultOutput (first);
    sim::ClearCallLog();

    const auto input = Address (kAudioHardwarePropertyDefaultInputDevice);
    const auto output = Address (kAudioHardwarePropertyDefaultOutputDevice);
    const AudioObjectID none = 0, unknown = second + 500;
    EXPECT_NE (AudioObjectSetPropertyData (kSystem, &input, 0, nullptr, sizeof (none), &none), 0);
    EXPECT_NE (AudioObjectSetPropertyData (kSystem, &input, 0, nullptr, sizeof (unknown), &unknown), 0);
    EXPECT_EQ (AudioObjectSetPropertyData (kSystem, &output, 0, nullptr, sizeof (second), &second), 0);
    EXPECT_EQ (sim::DefaultInput(), first);
    EXPECT_EQ (Ids (kSystem, kAudioHardwarePropertyDefaultOutputDevice), std::vector<AudioObjectID> { second });
    EXPECT_EQ (sim::CallLog(), (std::vector<std::string> { "SetDefaultInputDevice 0",
                                                           "SetDefaultInputDevice " + std::to_string (unknown),
                                                           "SetDefaultOutputDevice " + std::to_string (second) }));
    const auto name = Address (kAudioObjectPropertyName);
    CFStringRef text = CFSTR ("x");
    EXPECT_NE (AudioObjectSetPropertyData (first, &name, 0, nullptr, sizeof (text), &text), 0);
}

TEST_F (CoreAudioHal, FailedAndOverriddenPropertiesAnswerAsToldButNeverWritePastTheCallersSize)
{
    const auto device = AddDevice ("Device", {}, { 2 });
    sim::FailProperty (device, kAudioObjectPropertyName, kAudioHardwareBadDeviceError);
    EXPECT_EQ (StringProperty (device, kAudioObjectPropertyName).first, kAudioHardwareBadDeviceError);
    EXPECT_EQ (StringProperty (device, kAudioDevicePropertyDeviceUID).second, "Device-uid");

    sim::OverrideProperty (kSystem, kAudioHardwarePropertyDevices,
                           { 0, 12, kAudioHardwareUnspecifiedError, { 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0 } });
    const auto devices = Address (kAudioHardwarePropertyDevices);
    AudioObjectID ids[3] = { 9, 9, 9 };
    UInt32 size = 8;
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &devices, 0, nullptr, &size, ids), kAudioHardwareUnspecifiedError);
    EXPECT_EQ (size, 8u);
    EXPECT_EQ (std::vector<AudioObjectID> (ids, ids + 3), (std::vector<AudioObjectID> { 1, 2, 9 }));
}

std::vector<std::string> FullSubDevices (AudioObjectID aggregate)
{
    const auto address = Address (kAudioAggregateDevicePropertyFullSubDeviceList);
    CFArrayRef list = nullptr;
    UInt32 size = sizeof (list);
    EXPECT_EQ (AudioObjectGetPropertyData (aggregate, &address, 0, nullptr, &size, &list), 0);
    std::vector<std::string> uids;
    for (CFIndex i = 0; list != nullptr && i < CFArrayGetCount (list); ++i)
        uids.push_back (Text (static_cast<CFStringRef> (CFArrayGetValueAtIndex (list, i))));
    if (list != nullptr)
        CFRelease (list);
    return uids;
}

TEST_F (CoreAudioHal, AggregateRecordsItsDescriptionAndJoinsTheListedSubDevices)
{
    const auto a = AddDevice ("A", { 2 }, {});
    const auto c = AddDevice ("C", { 1 }, { 4, 2 });
    sim::ClearCallLog();
    const auto objectsBefore = sim::LiveObjectCount();

    AudioObjectID aggregate = 777;
    ASSERT_EQ (CreateAggregate ("Agg", { "A-uid", "B-uid", "C-uid" }, aggregate), 0);
    EXPECT_EQ (sim::LiveObjectCount(), objectsBefore) << "the HAL keeps no reference to the description";
    EXPECT_EQ (sim::CallLog(),
               (std::vector<std::string> { "AudioHardwareCreateAggregateDevice " + std::to_string (aggregate) }));

    const auto descriptions = sim::AggregateDescriptions();
    ASSERT_EQ (descriptions.size(), 1u);
    const auto& recorded = descriptions[0];
    EXPECT_EQ (recorded.id, aggregate);
    EXPECT_EQ (recorded.name, "Agg");
    EXPECT_EQ (recorded.uid, "Agg-uid");
    EXPECT_EQ (recorded.master, "C-uid");
    EXPECT_EQ (recorded.isPrivate, 1);
    ASSERT_EQ (recorded.subDevices.size(), 3u);
    EXPECT_EQ (recorded.subDevices[1].uid, "B-uid");
    EXPECT_EQ (recorded.subDevices[1].drift, 1);
    EXPECT_EQ (recorded.subDevices[1].driftQuality, 64);

    EXPECT_TRUE (Listed (aggregate));
    EXPECT_EQ (StringProperty (aggregate, kAudioObjectPropertyName).second, "Agg");
    EXPECT_EQ (Translate ("Agg-uid"), aggregate);

    // The full list is the description's; only listed devices are active, and
    // the channels are theirs, in sub-device order.
    EXPECT_EQ (FullSubDevices (aggregate), (std::vector<std::string> { "A-uid", "B-uid", "C-uid" }));
    EXPECT_EQ (Ids (aggregate, kAudioAggregateDevicePropertyActiveSubDeviceList),
               (std::vector<AudioObjectID> { a, c }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeInput), (std::vector<int> { 2, 1 }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeOutput), (std::vector<int> { 4, 2 }));

    // A sub-device that turns up later joins in its place in the order, once it is listed.
    const auto b = AddDevice ("B", { 3 }, { 1 }, 1500);
    EXPECT_EQ (Ids (aggregate, kAudioAggregateDevicePropertyActiveSubDeviceList),
               (std::vector<AudioObjectID> { a, c }));
    ASSERT_TRUE (WaitFor ([&] { return Listed (b); }));
    EXPECT_EQ (Ids (aggregate, kAudioAggregateDevicePropertyActiveSubDeviceList),
               (std::vector<AudioObjectID> { a, b, c }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeInput), (std::vector<int> { 2, 3, 1 }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeOutput), (std::vector<int> { 1, 4, 2 }));

    sim::RemoveAudioDevice (a);
    EXPECT_EQ (Ids (aggregate, kAudioAggregateDevicePropertyActiveSubDeviceList),
               (std::vector<AudioObjectID> { b, c }));
    EXPECT_EQ (FullSubDevices (aggregate).size(), 3u);
}

TEST_F (CoreAudioHal, AggregatesFailAppearAfterTheirDelayAndOnlyAggregatesAreDestroyed)
{
    AddDevice ("A", { 2 }, {});
    sim::InjectFault (sim::Fault::AggregateCreate);
    AudioObjectID failed = 777, hidden = 0, slow = 0;
    EXPECT_EQ (CreateAggregate ("Failed", { "A-uid" }, failed), kAudioHardwareUnspecifiedError);
    EXPECT_EQ (failed, 777u);
    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (sim::AggregateDescriptions()[0].id, 0u) << "a failed creation is recorded too";
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    sim::ClearFault (sim::Fault::AggregateCreate);

    sim::SetAggregateAppearDelay (-1);
    ASSERT_EQ (CreateAggregate ("Hidden", { "A-uid" }, hidden), 0);
    sim::SetAggregateAppearDelay (1500);
    ASSERT_EQ (CreateAggregate ("Slow", { "A-uid" }, slow), 0);
    EXPECT_FALSE (Listed (hidden));
    EXPECT_FALSE (Listed (slow));
    EXPECT_EQ (sim::ExistingAggregates(), (std::vector<AudioObjectID> { hidden, slow }));
    ASSERT_TRUE (WaitFor ([&] { return Listed (slow); }));
    EXPECT_FALSE (Listed (hidden));

    const auto plain = AddDevice ("Plain", {}, { 2 });
    const auto leftOver = AddDevice ("Left over", {}, { 2 }, 0, true);
    sim::ClearCallLog();
    EXPECT_NE (AudioHardwareDestroyAggregateDevice (plain), 0);
    EXPECT_TRUE (Listed (plain));
    EXPECT_EQ (AudioHardwareDestroyAggregateDevice (hidden), 0);
    EXPECT_EQ (AudioHardwareDestroyAggregateDevice (leftOver), 0);
    EXPECT_FALSE (Listed (leftOver));
    EXPECT_NE (AudioHardwareDestroyAggregateDevice (hidden), 0);
    EXPECT_EQ (sim::ExistingAggregates(), (std::vector<AudioObjectID> { slow }));
    std::vector<std::string> expected;
    for (const auto id : { plain, hidden, leftOver, hidden })
        expected.push_back ("AudioHardwareDestroyAggregateDevice " + std::to_string (id));
    EXPECT_EQ (sim::CallLog(), expected);
}

} // namespace
