#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

// The system reads these records with fixed sizes, as on a 64-bit Mac.
static_assert (sizeof (AudioValueTranslation) == 32);
static_assert (sizeof (AudioBuffer) == 16);
static_assert (offsetof (AudioBufferList, mBuffers) == 8);
static_assert (sizeof (AudioObjectPropertyAddress) == 12);

namespace
{

constexpr AudioObjectID kSystem = kAudioObjectSystemObject;

AudioObjectPropertyAddress Address (AudioObjectPropertySelector selector,
                                    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal)
{
    return { selector, scope, kAudioObjectPropertyElementMain };
}

std::vector<AudioObjectID> DeviceList()
{
    const auto address = Address (kAudioHardwarePropertyDevices);
    UInt32 size = 0;
    EXPECT_EQ (AudioObjectGetPropertyDataSize (kSystem, &address, 0, nullptr, &size), 0);
    std::vector<AudioObjectID> ids (size / 4);
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &address, 0, nullptr, &size, ids.data()), 0);
    ids.resize (size / 4);
    return ids;
}

std::string Text (CFStringRef string)
{
    char buffer[256] = {};
    EXPECT_TRUE (CFStringGetCString (string, buffer, sizeof (buffer), kCFStringEncodingUTF8));
    return buffer;
}

/** A string property read with the size the system uses; "" and the status on failure. */
std::pair<OSStatus, std::string> StringProperty (AudioObjectID object, AudioObjectPropertySelector selector)
{
    const auto address = Address (selector);
    CFStringRef value = nullptr;
    UInt32 size = sizeof (value);
    const auto status = AudioObjectGetPropertyData (object, &address, 0, nullptr, &size, &value);
    std::string text;
    if (value != nullptr)
    {
        text = Text (value);
        CFRelease (value);
    }
    return { status, text };
}

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

AudioObjectID AddDevice (const std::string& name, std::vector<int> inputs, std::vector<int> outputs,
                         int appearAfterMs = 0, bool isAggregate = false)
{
    sim::AudioDeviceSpec spec;
    spec.name = name;
    spec.uid = name + "-uid";
    spec.inputStreams = std::move (inputs);
    spec.outputStreams = std::move (outputs);
    spec.appearAfterMs = appearAfterMs;
    spec.isAggregate = isAggregate;
    return sim::AddAudioDevice (spec);
}

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

bool Contains (const std::vector<AudioObjectID>& ids, AudioObjectID id)
{
    return std::find (ids.begin(), ids.end(), id) != ids.end();
}

class CoreAudioHal : public ::testing::Test
{
protected:
    void SetUp() override { sim::Reset(); }
};

//==============================================================================
TEST_F (CoreAudioHal, ArraysTakeOnlyWholeIdsThatFitAndFixedSizesMustMatch)
{
    const auto a = AddDevice ("A", { 2 }, {});
    AddDevice ("B", {}, { 2 });
    AddDevice ("C", {}, { 2 });
    const auto address = Address (kAudioHardwarePropertyDevices);

    UInt32 size = 0;
    ASSERT_EQ (AudioObjectGetPropertyDataSize (kSystem, &address, 0, nullptr, &size), 0);
    EXPECT_EQ (size, 12u);

    // Room for one and a half ids: one is written, the rest of the buffer is left alone.
    AudioObjectID ids[3] = { 0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA };
    size = 6;
    ASSERT_EQ (AudioObjectGetPropertyData (kSystem, &address, 0, nullptr, &size, ids), 0);
    EXPECT_EQ (size, 4u);
    EXPECT_EQ (ids[0], a);
    EXPECT_EQ (ids[1], 0xAAAAAAAAu);

    // A string property asked with room for less than a pointer must not write.
    const auto name = Address (kAudioObjectPropertyName);
    std::uint8_t small[8];
    std::memset (small, 0x5A, sizeof (small));
    size = 4;
    EXPECT_EQ (AudioObjectGetPropertyData (a, &name, 0, nullptr, &size, small), kAudioHardwareBadPropertySizeError);
    EXPECT_TRUE (std::all_of (small, small + 8, [] (std::uint8_t b) { return b == 0x5A; }));

    const auto defaultInput = Address (kAudioHardwarePropertyDefaultInputDevice);
    size = 2;
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &defaultInput, 0, nullptr, &size, small),
               kAudioHardwareBadPropertySizeError);

    // A stream list needs its whole size.
    const auto streams = Address (kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
    ASSERT_EQ (AudioObjectGetPropertyDataSize (a, &streams, 0, nullptr, &size), 0);
    EXPECT_EQ (size, 24u);
    std::uint8_t list[24];
    std::memset (list, 0x5A, sizeof (list));
    size = 20;
    EXPECT_EQ (AudioObjectGetPropertyData (a, &streams, 0, nullptr, &size, list), kAudioHardwareBadPropertySizeError);
    EXPECT_TRUE (std::all_of (list, list + 24, [] (std::uint8_t b) { return b == 0x5A; }));

    // The translation record must be exactly 32 bytes.
    const auto forUid = Address (kAudioHardwarePropertyDeviceForUID);
    AudioValueTranslation translation {};
    size = 16;
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &forUid, 0, nullptr, &size, &translation),
               kAudioHardwareBadPropertySizeError);
}

TEST_F (CoreAudioHal, UnknownObjectsAndPropertiesFail)
{
    const auto plain = AddDevice ("Plain", { 2 }, { 2 });
    UInt32 size = 0;

    auto address = Address (kAudioObjectPropertyName);
    EXPECT_EQ (AudioObjectGetPropertyDataSize (plain + 1000, &address, 0, nullptr, &size),
               kAudioHardwareBadObjectError);
    EXPECT_EQ (StringProperty (plain + 1000, kAudioObjectPropertyName).first, kAudioHardwareBadObjectError);
    EXPECT_EQ (StringProperty (kSystem, kAudioObjectPropertyName).first, kAudioHardwareUnknownPropertyError);

    // Only aggregates have sub-device lists.
    address = Address (kAudioAggregateDevicePropertyFullSubDeviceList);
    EXPECT_EQ (AudioObjectGetPropertyDataSize (plain, &address, 0, nullptr, &size), kAudioHardwareUnknownPropertyError);
    address = Address (kAudioAggregateDevicePropertyActiveSubDeviceList);
    EXPECT_EQ (AudioObjectGetPropertyDataSize (plain, &address, 0, nullptr, &size), kAudioHardwareUnknownPropertyError);

    // Stream configurations exist per direction only.
    address = Address (kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeGlobal);
    EXPECT_EQ (AudioObjectGetPropertyDataSize (plain, &address, 0, nullptr, &size), kAudioHardwareUnknownPropertyError);
}

TEST_F (CoreAudioHal, DevicesDescribeThemselves)
{
    const auto device = AddDevice ("Caf\xC3\xA9 \xC3\x9Cnit", { 2 }, { 2, 8 });
    const auto silent = AddDevice ("Silent", {}, {});

    const auto objectsBefore = sim::LiveObjectCount();
    const auto name = StringProperty (device, kAudioObjectPropertyName);
    EXPECT_EQ (name.first, 0);
    EXPECT_EQ (name.second, "Caf\xC3\xA9 \xC3\x9Cnit");
    EXPECT_EQ (StringProperty (device, kAudioDevicePropertyDeviceUID).second, "Caf\xC3\xA9 \xC3\x9Cnit-uid");
    EXPECT_EQ (sim::LiveObjectCount(), objectsBefore) << "each handed-out string belongs to the caller";

    EXPECT_EQ (Streams (device, kAudioObjectPropertyScopeOutput), (std::vector<int> { 2, 8 }));
    EXPECT_EQ (Streams (device, kAudioObjectPropertyScopeInput), (std::vector<int> { 2 }));
    EXPECT_TRUE (Streams (silent, kAudioObjectPropertyScopeOutput).empty());

    EXPECT_EQ (Translate ("Silent-uid"), silent);
    EXPECT_EQ (Translate ("nobody"), 0u);
}

TEST_F (CoreAudioHal, LateDeviceAnswersOnlyOnceItHasAppeared)
{
    const auto early = AddDevice ("Early", {}, { 2 });
    const auto late = AddDevice ("Late", {}, { 2 }, 300);

    EXPECT_EQ (DeviceList(), (std::vector<AudioObjectID> { early }));
    EXPECT_EQ (StringProperty (late, kAudioObjectPropertyName).first, kAudioHardwareBadObjectError);
    EXPECT_EQ (Translate ("Late-uid"), 0u);
    EXPECT_EQ (sim::FindAudioDevice ("Late-uid"), 0u);

    ASSERT_TRUE (WaitFor ([&] { return Contains (DeviceList(), late); }));
    EXPECT_EQ (DeviceList(), (std::vector<AudioObjectID> { early, late }));
    EXPECT_EQ (StringProperty (late, kAudioObjectPropertyName).second, "Late");
    EXPECT_EQ (Translate ("Late-uid"), late);
    EXPECT_EQ (sim::FindAudioDevice ("Late-uid"), late);
}

TEST_F (CoreAudioHal, DefaultDevicesRefuseUnknownIdsAndLogEverySet)
{
    const auto first = AddDevice ("First", { 2 }, { 2 });
    const auto second = AddDevice ("Second", { 2 }, { 2 });
    sim::SetDefaultInput (first);
    sim::SetDefaultOutput (first);
    sim::ClearCallLog();

    const auto input = Address (kAudioHardwarePropertyDefaultInputDevice);
    const auto output = Address (kAudioHardwarePropertyDefaultOutputDevice);
    const AudioObjectID none = 0;
    const AudioObjectID unknown = second + 500;
    EXPECT_NE (AudioObjectSetPropertyData (kSystem, &input, 0, nullptr, sizeof (none), &none), 0);
    EXPECT_NE (AudioObjectSetPropertyData (kSystem, &input, 0, nullptr, sizeof (unknown), &unknown), 0);
    EXPECT_EQ (sim::DefaultInput(), first);

    EXPECT_EQ (AudioObjectSetPropertyData (kSystem, &output, 0, nullptr, sizeof (second), &second), 0);
    EXPECT_EQ (sim::DefaultOutput(), second);
    EXPECT_EQ (sim::DefaultInput(), first);

    AudioObjectID read = 0;
    UInt32 size = sizeof (read);
    ASSERT_EQ (AudioObjectGetPropertyData (kSystem, &output, 0, nullptr, &size, &read), 0);
    EXPECT_EQ (read, second);

    const std::vector<std::string> expected { "SetDefaultInputDevice 0",
                                              "SetDefaultInputDevice " + std::to_string (unknown),
                                              "SetDefaultOutputDevice " + std::to_string (second) };
    EXPECT_EQ (sim::CallLog(), expected);

    // Only the defaults can be set.
    const auto name = Address (kAudioObjectPropertyName);
    CFStringRef text = CFSTR ("x");
    EXPECT_NE (AudioObjectSetPropertyData (first, &name, 0, nullptr, sizeof (text), &text), 0);
}

TEST_F (CoreAudioHal, FailedAndOverriddenPropertiesAnswerAsTold)
{
    const auto device = AddDevice ("Device", {}, { 2 });
    sim::FailProperty (device, kAudioObjectPropertyName, kAudioHardwareBadDeviceError);
    const auto name = Address (kAudioObjectPropertyName);
    UInt32 size = 0;
    EXPECT_EQ (AudioObjectGetPropertyDataSize (device, &name, 0, nullptr, &size), kAudioHardwareBadDeviceError);
    EXPECT_EQ (StringProperty (device, kAudioObjectPropertyName).first, kAudioHardwareBadDeviceError);
    EXPECT_EQ (StringProperty (device, kAudioDevicePropertyDeviceUID).second, "Device-uid");

    sim::PropertyAnswer answer;
    answer.sizeStatus = 0;
    answer.size = 12;
    answer.dataStatus = kAudioHardwareUnspecifiedError;
    answer.data = { 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0 };
    sim::OverrideProperty (kSystem, kAudioHardwarePropertyDevices, answer);

    const auto devices = Address (kAudioHardwarePropertyDevices);
    ASSERT_EQ (AudioObjectGetPropertyDataSize (kSystem, &devices, 0, nullptr, &size), 0);
    EXPECT_EQ (size, 12u);
    AudioObjectID ids[3] = { 9, 9, 9 };
    size = 8;
    EXPECT_EQ (AudioObjectGetPropertyData (kSystem, &devices, 0, nullptr, &size, ids), kAudioHardwareUnspecifiedError);
    EXPECT_EQ (size, 8u);
    EXPECT_EQ (ids[0], 1u);
    EXPECT_EQ (ids[1], 2u);
    EXPECT_EQ (ids[2], 9u) << "never more than the caller's size";
}

//==============================================================================
CFDictionaryRef Describe (const std::string& name, const std::string& uid, const std::vector<std::string>& subUids,
                          const std::string& master)
{
    auto key = [] (const char* text) { return CFStringCreateWithCString (nullptr, text, kCFStringEncodingUTF8); };
    auto put = [&key] (CFMutableDictionaryRef dictionary, const char* name, CFTypeRef value)
    {
        auto k = key (name);
        CFDictionaryAddValue (dictionary, k, value);
        CFRelease (k);
        CFRelease (value);
    };
    auto number = [] (SInt32 value) { return CFNumberCreate (nullptr, kCFNumberSInt32Type, &value); };

    auto description =
        CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    put (description, kAudioAggregateDeviceNameKey, key (name.c_str()));
    put (description, kAudioAggregateDeviceUIDKey, key (uid.c_str()));
    auto list = CFArrayCreateMutable (nullptr, 0, &kCFTypeArrayCallBacks);
    for (const auto& subUid : subUids)
    {
        auto sub =
            CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        put (sub, kAudioSubDeviceUIDKey, key (subUid.c_str()));
        put (sub, kAudioSubDeviceDriftCompensationKey, number (1));
        put (sub, kAudioSubDeviceDriftCompensationQualityKey, number (64));
        CFArrayAppendValue (list, sub);
        CFRelease (sub);
    }
    put (description, kAudioAggregateDeviceSubDeviceListKey, list);
    put (description, kAudioAggregateDeviceMasterSubDeviceKey, key (master.c_str()));
    put (description, kAudioAggregateDeviceIsPrivateKey, number (1));
    return description;
}

AudioObjectID CreateAggregate (const std::vector<std::string>& subUids, OSStatus expected = 0)
{
    auto description = Describe ("Agg", "agg-uid", subUids, subUids.empty() ? "" : subUids.back());
    AudioObjectID id = 777;
    EXPECT_EQ (AudioHardwareCreateAggregateDevice (description, &id), expected);
    CFRelease (description);
    return id;
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

std::vector<AudioObjectID> ActiveSubDevices (AudioObjectID aggregate)
{
    const auto address = Address (kAudioAggregateDevicePropertyActiveSubDeviceList);
    UInt32 size = 0;
    EXPECT_EQ (AudioObjectGetPropertyDataSize (aggregate, &address, 0, nullptr, &size), 0);
    std::vector<AudioObjectID> ids (size / 4);
    EXPECT_EQ (AudioObjectGetPropertyData (aggregate, &address, 0, nullptr, &size, ids.data()), 0);
    return ids;
}

TEST_F (CoreAudioHal, AggregateRecordsItsDescriptionAndJoinsTheListedSubDevices)
{
    const auto a = AddDevice ("A", { 2 }, {});
    const auto c = AddDevice ("C", { 1 }, { 4, 2 });
    sim::ClearCallLog();
    const auto objectsBefore = sim::LiveObjectCount();

    const auto aggregate = CreateAggregate ({ "A-uid", "B-uid", "C-uid" });
    ASSERT_NE (aggregate, 777u);
    EXPECT_EQ (sim::LiveObjectCount(), objectsBefore) << "the HAL keeps no reference to the description";
    EXPECT_EQ (sim::CallLog(),
               (std::vector<std::string> { "AudioHardwareCreateAggregateDevice " + std::to_string (aggregate) }));

    const auto descriptions = sim::AggregateDescriptions();
    ASSERT_EQ (descriptions.size(), 1u);
    const auto& recorded = descriptions[0];
    EXPECT_EQ (recorded.id, aggregate);
    EXPECT_EQ (recorded.name, "Agg");
    EXPECT_EQ (recorded.uid, "agg-uid");
    EXPECT_EQ (recorded.master, "C-uid");
    EXPECT_EQ (recorded.isPrivate, 1);
    ASSERT_EQ (recorded.subDevices.size(), 3u);
    EXPECT_EQ (recorded.subDevices[1].uid, "B-uid");
    EXPECT_EQ (recorded.subDevices[1].drift, 1);
    EXPECT_EQ (recorded.subDevices[1].driftQuality, 64);

    EXPECT_TRUE (Contains (DeviceList(), aggregate));
    EXPECT_EQ (StringProperty (aggregate, kAudioObjectPropertyName).second, "Agg");
    EXPECT_EQ (StringProperty (aggregate, kAudioDevicePropertyDeviceUID).second, "agg-uid");
    EXPECT_EQ (Translate ("agg-uid"), aggregate);

    // The full list is the description's; only listed devices are active, and
    // the channels are theirs, in sub-device order.
    EXPECT_EQ (FullSubDevices (aggregate), (std::vector<std::string> { "A-uid", "B-uid", "C-uid" }));
    EXPECT_EQ (ActiveSubDevices (aggregate), (std::vector<AudioObjectID> { a, c }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeInput), (std::vector<int> { 2, 1 }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeOutput), (std::vector<int> { 4, 2 }));

    // A sub-device that turns up later joins in its place in the order.
    const auto b = AddDevice ("B", { 3 }, { 1 });
    EXPECT_EQ (ActiveSubDevices (aggregate), (std::vector<AudioObjectID> { a, b, c }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeInput), (std::vector<int> { 2, 3, 1 }));
    EXPECT_EQ (Streams (aggregate, kAudioObjectPropertyScopeOutput), (std::vector<int> { 1, 4, 2 }));

    sim::RemoveAudioDevice (a);
    EXPECT_EQ (ActiveSubDevices (aggregate), (std::vector<AudioObjectID> { b, c }));
    EXPECT_EQ (FullSubDevices (aggregate).size(), 3u);
}

TEST_F (CoreAudioHal, FailedCreationIsRecordedAndLeavesTheIdAlone)
{
    AddDevice ("A", { 2 }, {});
    sim::InjectFault (sim::Fault::AggregateCreate);
    const auto id = CreateAggregate ({ "A-uid" }, kAudioHardwareUnspecifiedError);
    EXPECT_EQ (id, 777u);
    EXPECT_TRUE (sim::ExistingAggregates().empty());
    ASSERT_EQ (sim::AggregateDescriptions().size(), 1u);
    EXPECT_EQ (sim::AggregateDescriptions()[0].id, 0u);

    sim::ClearFault (sim::Fault::AggregateCreate);
    EXPECT_NE (CreateAggregate ({ "A-uid" }), 777u);
    EXPECT_EQ (sim::ExistingAggregates().size(), 1u);
}

TEST_F (CoreAudioHal, AggregatesAppearAfterTheirDelayAndOnlyAggregatesAreDestroyed)
{
    AddDevice ("A", { 2 }, {});
    sim::SetAggregateAppearDelay (-1);
    const auto hidden = CreateAggregate ({ "A-uid" });
    sim::SetAggregateAppearDelay (200);
    const auto slow = CreateAggregate ({ "A-uid" });

    EXPECT_FALSE (Contains (DeviceList(), hidden));
    EXPECT_FALSE (Contains (DeviceList(), slow));
    EXPECT_EQ (sim::ExistingAggregates(), (std::vector<AudioObjectID> { hidden, slow }));
    ASSERT_TRUE (WaitFor ([&] { return Contains (DeviceList(), slow); }));
    EXPECT_FALSE (Contains (DeviceList(), hidden));

    const auto plain = AddDevice ("Plain", {}, { 2 });
    const auto leftOver = AddDevice ("Left over", {}, { 2 }, 0, true);
    sim::ClearCallLog();
    EXPECT_NE (AudioHardwareDestroyAggregateDevice (plain), 0);
    EXPECT_TRUE (Contains (DeviceList(), plain));
    EXPECT_EQ (AudioHardwareDestroyAggregateDevice (hidden), 0);
    EXPECT_EQ (AudioHardwareDestroyAggregateDevice (leftOver), 0);
    EXPECT_FALSE (Contains (DeviceList(), leftOver));
    EXPECT_NE (AudioHardwareDestroyAggregateDevice (hidden), 0);
    EXPECT_EQ (sim::ExistingAggregates(), (std::vector<AudioObjectID> { slow }));
    EXPECT_EQ (sim::CallLog(),
               (std::vector<std::string> { "AudioHardwareDestroyAggregateDevice " + std::to_string (plain),
                                           "AudioHardwareDestroyAggregateDevice " + std::to_string (hidden),
                                           "AudioHardwareDestroyAggregateDevice " + std::to_string (leftOver),
                                           "AudioHardwareDestroyAggregateDevice " + std::to_string (hidden) }));
}

} // namespace
