#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "engine/AudioSystemUtils.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

class AudioSystemUtilsTest : public ::testing::Test
{
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }

    static AudioObjectID AddDevice (const std::string& name, const std::string& uid, std::vector<int> outputs,
                                    std::vector<int> inputs = {})
    {
        sim::AudioDeviceSpec spec;
        spec.name = name;
        spec.uid = uid;
        spec.outputStreams = std::move (outputs);
        spec.inputStreams = std::move (inputs);
        return sim::AddAudioDevice (spec);
    }

    /** Raw bytes of a stream configuration: a buffer count, then one AudioBuffer per entry. */
    static std::vector<std::uint8_t> StreamConfiguration (UInt32 claimedBuffers, const std::vector<UInt32>& channels)
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

    static void OverrideStreams (AudioObjectID device, std::vector<std::uint8_t> bytes, UInt32 announcedSize)
    {
        sim::PropertyAnswer answer;
        answer.size = announcedSize;
        answer.data = std::move (bytes);
        sim::OverrideProperty (device, kAudioDevicePropertyStreamConfiguration, answer);
    }
};

TEST_F (AudioSystemUtilsTest, NoDevicesOrAFailingDeviceListGiveEmptyLists)
{
    EXPECT_TRUE (AudioSystemUtils::GetDeviceIds().empty());
    EXPECT_TRUE (AudioSystemUtils::GetOutputDeviceNames().empty());

    AddDevice ("Speakers", "speakers", { 2 });
    ASSERT_EQ (AudioSystemUtils::GetDeviceIds().size(), 1u);

    sim::FailProperty (kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    EXPECT_TRUE (AudioSystemUtils::GetDeviceIds().empty());
    EXPECT_TRUE (AudioSystemUtils::GetOutputDeviceNames().empty());
}

TEST_F (AudioSystemUtilsTest, OutputDeviceNamesKeepNamedDevicesWithOutputsInDeviceOrder)
{
    const auto first = AddDevice ("Mono Out", "mono", { 1 });
    AddDevice ("Microphone", "mic", {}, { 1 });
    const auto nameless = AddDevice ("Broken", "broken", { 2 });
    AddDevice ("Mono Out", "mono-2", { 2 });
    sim::FailProperty (nameless, kAudioObjectPropertyName);

    EXPECT_EQ (AudioSystemUtils::GetDeviceName (first), "Mono Out");
    EXPECT_EQ (AudioSystemUtils::GetDeviceName (nameless), "");
    EXPECT_EQ (AudioSystemUtils::GetDeviceUid (nameless), "broken");
    EXPECT_EQ (AudioSystemUtils::GetOutputDeviceNames(), (std::vector<juce::String> { "Mono Out", "Mono Out" }));
}

TEST_F (AudioSystemUtilsTest, OutputChannelsAddUpAllOutputStreams)
{
    const auto twoStreams = AddDevice ("Interface", "interface", { 2, 8 }, { 4 });
    const auto inputOnly = AddDevice ("Microphone", "mic", {}, { 2 });
    const auto failing = AddDevice ("Failing", "failing", { 2 });
    sim::FailProperty (failing, kAudioDevicePropertyStreamConfiguration);

    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (twoStreams), 10);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (inputOnly), 0);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (failing), 0);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (kAudioObjectUnknown), 0);
}

// A HAL answer whose buffer count claims more buffers than its size holds must
// be read only as far as the data goes.
TEST_F (AudioSystemUtilsTest, OutputChannelsCountOnlyBuffersThatFitInTheAnswer)
{
    const auto overstated = AddDevice ("Overstated", "overstated", { 2 });
    const auto bytes = StreamConfiguration (100000, { 2, 6 });
    OverrideStreams (overstated, bytes, static_cast<UInt32> (bytes.size()));
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (overstated), 8);

    // An honest smaller count is still obeyed.
    const auto understated = AddDevice ("Understated", "understated", { 2 });
    const auto partial = StreamConfiguration (1, { 2, 6 });
    OverrideStreams (understated, partial, static_cast<UInt32> (partial.size()));
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (understated), 2);

    // Too small to hold even one buffer, or even the count itself.
    const auto headerOnly = AddDevice ("Header only", "header-only", { 2 });
    auto header = StreamConfiguration (3, { 4 });
    OverrideStreams (headerOnly, header, static_cast<UInt32> (offsetof (AudioBufferList, mBuffers)));
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (headerOnly), 0);

    const auto tiny = AddDevice ("Tiny", "tiny", { 2 });
    OverrideStreams (tiny, StreamConfiguration (3, { 4 }), 2);
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (tiny), 0);
}

TEST_F (AudioSystemUtilsTest, AbsurdChannelCountsSaturateInsteadOfOverflowing)
{
    // Found by fuzzing: two streams of ~1.9 billion channels each.
    const auto absurd = AddDevice ("Absurd", "absurd", { 2 });
    const auto bytes = StreamConfiguration (2, { 1869573999u, 1869573999u });
    OverrideStreams (absurd, bytes, static_cast<UInt32> (bytes.size()));
    EXPECT_EQ (AudioSystemUtils::GetNumOutputChannels (absurd), std::numeric_limits<int>::max());
}

TEST_F (AudioSystemUtilsTest, DefaultDevicesAreReadAndWritten)
{
    const auto speakers = AddDevice ("Speakers", "speakers", { 2 });
    const auto mic = AddDevice ("Microphone", "mic", {}, { 1 });
    sim::SetDefaultInput (mic);
    sim::SetDefaultOutput (speakers);

    EXPECT_EQ (AudioSystemUtils::GetDefaultInputDevice(), mic);
    EXPECT_EQ (AudioSystemUtils::GetDefaultOutputDevice(), speakers);

    AudioSystemUtils::SetDefaultInputDevice (speakers);
    AudioSystemUtils::SetDefaultOutputDevice (mic);
    EXPECT_EQ (sim::DefaultInput(), speakers);
    EXPECT_EQ (sim::DefaultOutput(), mic);

    // Id 0 is refused by the HAL, silently.
    AudioSystemUtils::SetDefaultInputDevice (kAudioObjectUnknown);
    EXPECT_EQ (sim::DefaultInput(), speakers);

    sim::FailProperty (kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice);
    sim::FailProperty (kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    EXPECT_EQ (AudioSystemUtils::GetDefaultInputDevice(), 0u);
    EXPECT_EQ (AudioSystemUtils::GetDefaultOutputDevice(), 0u);
}

TEST_F (AudioSystemUtilsTest, TranslatesKnownUidsOnly)
{
    AddDevice ("Speakers", "speakers", { 2 });
    const auto virtual1 = AddDevice ("Virtual 1", "QuorVirtualAudioDevice_UID", { 2 });

    const auto liveObjects = sim::LiveObjectCount();
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID"), virtual1);
    EXPECT_EQ (AudioSystemUtils::GetDeviceUid (virtual1), "QuorVirtualAudioDevice_UID");
    EXPECT_EQ (sim::LiveObjectCount(), liveObjects);
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice ("QuorVirtualAudioDevice_UID_2"), 0u);
    EXPECT_EQ (AudioSystemUtils::TranslateUidToDevice (""), 0u);
}

TEST_F (AudioSystemUtilsTest, SubDeviceListsOfAnAggregate)
{
    const auto virtual1 = AddDevice ("Virtual 1", "QuorVirtualAudioDevice_UID", { 2 }, { 2 });
    const auto unreadable = AddDevice ("Mixer", "mixer-uid", { 12 });
    const auto plain = AddDevice ("Speakers", "speakers", { 2 });

    // An aggregate whose active list names a device whose UID cannot be read.
    std::vector<AudioObjectID> active { virtual1, unreadable };
    sim::PropertyAnswer answer;
    answer.size = static_cast<UInt32> (active.size() * sizeof (AudioObjectID));
    answer.data.resize (answer.size);
    std::memcpy (answer.data.data(), active.data(), answer.size);
    sim::OverrideProperty (plain, kAudioAggregateDevicePropertyActiveSubDeviceList, answer);
    sim::FailProperty (unreadable, kAudioDevicePropertyDeviceUID);

    EXPECT_EQ (AudioSystemUtils::GetActiveSubDeviceUids (plain),
               (std::vector<juce::String> { "QuorVirtualAudioDevice_UID", "" }));

    // A plain device has no full sub-device list.
    EXPECT_TRUE (AudioSystemUtils::GetSubDeviceUids (virtual1).empty());

    sim::PropertyAnswer failing;
    failing.dataStatus = kAudioHardwareUnspecifiedError;
    failing.size = 8;
    sim::OverrideProperty (plain, kAudioAggregateDevicePropertyActiveSubDeviceList, failing);
    EXPECT_TRUE (AudioSystemUtils::GetActiveSubDeviceUids (plain).empty());
}

} // namespace
