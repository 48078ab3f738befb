#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "engine/AudioSystemUtils.h"
#include "tests/support/SimulatedMachineSetup.h"

namespace
{

using quortest::AddDevice;

/** Raw bytes of a stream configuration: a buffer count, then one AudioBuffer per entry. */
std::vector<std::uint8_t> StreamConfiguration (UInt32 claimedBuffers, const std::vector<UInt32>& channels)
{
    std::vector<std::uint8_t> bytes (offsetof (AudioBufferList, mBuffers) + channels.size() * sizeof (AudioBuffer));
    std::memcpy (bytes.data(), &claimedBuffers, sizeof (claimedBuffers));
    for (size_t i = 0; i < channels.size(); ++i)
    {
        AudioBuffer buffer {};
        buffer.mNumberChannels = channels[i];
        std::memcpy (bytes.data() + offsetof (AudioBufferList, mBuffers) + i * sizeof (AudioBuffer), &buffer,
                     sizeof (buffer));
    }
    return bytes;
}

TEST (AudioSystemUtilsTest, DeviceListsNamesAndOutputChannels)
{
    sim::Reset();
    EXPECT_TRUE (AudioSystemUtils::GetDeviceIds().empty());
    EXPECT_TRUE (AudioSystemUtils::GetOutputDeviceNames().empty());

    const auto interface = AddDevice ("Interface", "interface", { 2, 8 }, { 4 });
    const auto mic = AddDevice ("Microphone", "mic", {}, { 1 });
    const auto nameless = AddDevice ("Broken", "broken", { 2 });
    const auto failing = AddDevice ("Interface", "failing", { 2 });
    sim::FailProperty (nameless, kAudioObjectPropertyName);
    sim::FailProperty (failing, kAudioDevicePropertyStreamConfiguration);

    EXPECT_EQ (AudioSystemUtils::GetDeviceUid (nameless), "broken");
    EXPECT_EQ (AudioSystemUtils::GetOutputDeviceNames(), (std::vector<juce::String> { "Interface" }));
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (interface), 10);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (mic), 0);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (failing), 0);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (kAudioObjectUnknown), 0);

    sim::FailProperty (kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    EXPECT_TRUE (AudioSystemUtils::GetDeviceIds().empty());
    EXPECT_TRUE (AudioSystemUtils::GetOutputDeviceNames().empty());
}

// A HAL answer is read only as far as its size goes, whatever its buffer count
// claims; absurd counts (found by fuzzing) saturate instead of overflowing.
TEST (AudioSystemUtilsTest, StreamConfigurationsAreReadSafely)
{
    struct Case
    {
        UInt32 claimed;
        std::vector<UInt32> channels;
        int announcedSize; // -1: the bytes' own size
        int expected;
    };

    for (const auto& c : { Case { 100000, { 2, 6 }, -1, 8 }, Case { 1, { 2, 6 }, -1, 2 },
                           Case { 3, { 4 }, int (offsetof (AudioBufferList, mBuffers)), 0 }, Case { 3, { 4 }, 2, 0 },
                           Case { 2, { 1869573999u, 1869573999u }, -1, std::numeric_limits<int>::max() } })
    {
        sim::Reset();
        const auto device = AddDevice ("Device", "device", { 2 });
        sim::PropertyAnswer answer;
        answer.data = StreamConfiguration (c.claimed, c.channels);
        answer.size = c.announcedSize < 0 ? UInt32 (answer.data.size()) : UInt32 (c.announcedSize);
        sim::OverrideProperty (device, kAudioDevicePropertyStreamConfiguration, answer);
        EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (device), c.expected) << c.claimed << " " << c.announcedSize;
    }
}

TEST (AudioSystemUtilsTest, DefaultsAndUidTranslation)
{
    sim::Reset();
    const auto speakers = AddDevice ("Speakers", "speakers", { 2 });
    const auto virtual1 = AddDevice ("Virtual 1", "QuorVirtualAudioDevice_UID", { 2 });

    AudioSystemUtils::SetDefaultInputDevice (speakers);
    AudioSystemUtils::SetDefaultOutputDevice (virtual1);
    EXPECT_EQ (AudioSystemUtils::GetDefaultInputDevice(), speakers);
    EXPECT_EQ (AudioSystemUtils::GetDefaultOutputDevice(), virtual1);
    sim::FailProperty (kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice);
    EXPECT_EQ (AudioSystemUtils::GetDefaultInputDevice(), 0u);

    const auto liveObjects = sim::LiveObjectCount();
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID"), virtual1);
    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID_2"), 0u);
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice (""), 0u);
}

TEST (AudioSystemUtilsTest, ActiveSubDevicesKeepAnEntryForAnUnreadableUid)
{
    sim::Reset();
    const auto virtual1 = AddDevice ("Virtual 1", "QuorVirtualAudioDevice_UID", { 2 }, { 2 });
    const auto unreadable = AddDevice ("Mixer", "mixer-uid", { 12 });
    const auto aggregate = AddDevice ("Speakers", "speakers", { 2 });

    std::vector<AudioObjectID> active { virtual1, unreadable };
    sim::PropertyAnswer answer;
    answer.size = static_cast<UInt32> (active.size() * sizeof (AudioObjectID));
    answer.data.resize (answer.size);
    std::memcpy (answer.data.data(), active.data(), answer.size);
    sim::OverrideProperty (aggregate, kAudioAggregateDevicePropertyActiveSubDeviceList, answer);
    sim::FailProperty (unreadable, kAudioDevicePropertyDeviceUID);

    EXPECT_EQ (AudioSystemUtils::GetActiveSubDeviceUids (aggregate),
               (std::vector<juce::String> { "QuorVirtualAudioDevice_UID", "" }));
    EXPECT_TRUE (AudioSystemUtils::GetSubDeviceUids (virtual1).empty());

    sim::PropertyAnswer failing;
    failing.dataStatus = kAudioHardwareUnspecifiedError;
    failing.size = 8;
    sim::OverrideProperty (aggregate, kAudioAggregateDevicePropertyActiveSubDeviceList, failing);
    EXPECT_TRUE (AudioSystemUtils::GetActiveSubDeviceUids (aggregate).empty());
}

} // namespace
