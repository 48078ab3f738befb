#include <climits>

#include "EngineTestSupport.h"

namespace
{

using namespace enginetest;

class AudioSystemUtilsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset();
        AudioSystemUtils::DetachNotificationsFromMainRunLoop();
    }
};

TEST_F (AudioSystemUtilsTest, EveryFailedQueryIsAnEmptyAnswer)
{
    const auto interface = AddDevice ("Interface", "interface", { 2, 8 }, { 4 });
    const auto mic = AddDevice ("Microphone", "mic", {}, { 1 });
    const auto mono = AddDevice ("Mono", "mono", { 1 });
    const auto nameless = AddDevice ("Broken", "broken", { 2 });
    const auto failing = AddDevice ("Interface", "failing", { 2 });
    const auto virtual1 = AddDevice ("Virtual 1", "QuorVirtualAudioDevice_UID", { 2 }, { 2 });
    sim::FailProperty (nameless, kAudioObjectPropertyName);
    sim::FailProperty (failing, kAudioDevicePropertyStreamConfiguration);

    EXPECT_EQ (AudioSystemUtils::GetDeviceIds(),
               (std::vector<AudioObjectID> { interface, mic, mono, nameless, failing, virtual1 }));
    EXPECT_EQ (AudioSystemUtils::GetDeviceUid (nameless), "broken");
    EXPECT_EQ (AudioSystemUtils::GetOutputDeviceNames(),
               (std::vector<juce::String> { "Interface", "Mono", "Virtual 1" }));
    for (const auto& [device, channels] : std::vector<std::pair<AudioObjectID, int>> {
             { interface, 10 }, { mic, 0 }, { mono, 1 }, { failing, 0 }, { kAudioObjectUnknown, 0 }, { virtual1, 2 } })
        EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (device), channels) << device;

    AudioSystemUtils::SetDefaultInputDevice (mic);
    AudioSystemUtils::SetDefaultOutputDevice (virtual1);
    EXPECT_EQ (AudioSystemUtils::GetDefaultInputDevice(), mic);
    EXPECT_EQ (AudioSystemUtils::GetDefaultOutputDevice(), virtual1);

    const auto liveObjects = sim::LiveObjectCount();
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID"), virtual1);
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID_2"), 0u);
    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);

    // An active sub-device whose UID cannot be read keeps its place.
    std::vector<AudioObjectID> active { virtual1, nameless };
    sim::PropertyAnswer answer;
    answer.size = UInt32 (active.size() * sizeof (AudioObjectID));
    answer.data.resize (answer.size);
    std::memcpy (answer.data.data(), active.data(), answer.size);
    sim::OverrideProperty (interface, kAudioAggregateDevicePropertyActiveSubDeviceList, answer);
    sim::FailProperty (nameless, kAudioDevicePropertyDeviceUID);
    EXPECT_EQ (AudioSystemUtils::GetActiveSubDeviceUids (interface),
               (std::vector<juce::String> { "QuorVirtualAudioDevice_UID", "" }));
    EXPECT_TRUE (AudioSystemUtils::GetSubDeviceUids (virtual1).empty());
    sim::OverrideProperty (interface, kAudioAggregateDevicePropertyFullSubDeviceList,
                           StreamConfiguration (0, {})); // NULL
    EXPECT_TRUE (AudioSystemUtils::GetSubDeviceUids (interface).empty());

    for (const auto selector : { kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultInputDevice,
                                 kAudioHardwarePropertyDefaultOutputDevice, kAudioHardwarePropertyDeviceForUID })
        sim::FailProperty (kAudioObjectSystemObject, selector);
    sim::FailProperty (interface, kAudioAggregateDevicePropertyActiveSubDeviceList);
    EXPECT_TRUE (AudioSystemUtils::GetDeviceIds().empty());
    EXPECT_TRUE (AudioSystemUtils::GetOutputDeviceNames().empty());
    EXPECT_EQ (AudioSystemUtils::GetDefaultInputDevice(), 0u);
    EXPECT_EQ (AudioSystemUtils::GetDefaultOutputDevice(), 0u);
    EXPECT_TRUE (AudioSystemUtils::GetActiveSubDeviceUids (interface).empty());
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID"), 0u);
}

// An answer is read only as far as its size goes, whatever its buffer count
// claims; absurd counts (found by fuzzing) saturate instead of overflowing.
TEST_F (AudioSystemUtilsTest, StreamConfigurationsAreReadOnlyAsFarAsTheyGo)
{
    struct Case
    {
        UInt32 claimed;
        std::vector<UInt32> channels;
        int announcedSize; // -1: the bytes' own size
        int expected;
    };
    const auto header = int (offsetof (AudioBufferList, mBuffers));
    for (const auto& c : { Case { 100000, { 2, 6 }, -1, 8 }, Case { 1, { 2, 6 }, -1, 2 }, Case { 3, { 4 }, header, 0 },
                           Case { 3, { 4 }, 2, 0 }, Case { 2, { 1869573999u, 1869573999u }, -1, INT_MAX } })
    {
        const auto device = AddDevice ("Device", "device", { 2 });
        auto answer = StreamConfiguration (c.claimed, c.channels);
        if (c.announcedSize >= 0)
            answer.size = UInt32 (c.announcedSize);
        sim::OverrideProperty (device, kAudioDevicePropertyStreamConfiguration, answer);
        EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (device), c.expected) << c.claimed << " " << c.announcedSize;
    }
}

} // namespace
