// The CoreAudio queries, and the aggregate builder on top of them, against
// devices of any shape and HAL answers of any size, layout and status.

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <vector>

#include "engine/AudioSystemUtils.h"
#include "engine/EngineConstants.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

// The data of these is a CoreFoundation object: a raw answer may resize or fail
// them, but their bytes must stay what a HAL hands out, a valid object or none.
constexpr AudioObjectPropertySelector kObjectSelectors[] = { kAudioObjectPropertyName, kAudioDevicePropertyDeviceUID,
                                                             kAudioAggregateDevicePropertyFullSubDeviceList };
constexpr AudioObjectPropertySelector kPlainSelectors[] = {
    kAudioHardwarePropertyDevices,
    kAudioDevicePropertyStreamConfiguration,
    kAudioHardwarePropertyDefaultInputDevice,
    kAudioHardwarePropertyDefaultOutputDevice,
    kAudioAggregateDevicePropertyActiveSubDeviceList,
    kAudioHardwarePropertyDeviceForUID,
};

std::vector<int> MakeStreams (FuzzedDataProvider& input)
{
    std::vector<int> streams (input.ConsumeIntegralInRange<std::size_t> (0, 3));
    for (auto& channels : streams)
        channels = input.ConsumeIntegralInRange (0, 24);
    return streams;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    // One engine for the whole run, as in the program; every input builds with it and tears down again.
    static const auto engine = []
    {
        juce::MessageManager::getInstance();
        sim::Reset();
        return std::make_unique<VirtualChannelsEngine>();
    }();

    FuzzedDataProvider input (data, size);
    sim::Reset();
    sim::SetAudioClock (sim::AudioClock::Manual);
    AudioSystemUtils::DetachNotificationsFromMainRunLoop();

    std::vector<AudioObjectID> objects { kAudioObjectSystemObject, kAudioObjectUnknown };
    for (auto count = input.ConsumeIntegralInRange (0, 6); count > 0; --count)
    {
        const auto name =
            input.ConsumeBool() ? std::string (kVelmarMultitrackName) : input.ConsumeRandomLengthString (40);
        const auto uid = input.ConsumeBool() ? "QuorVirtualAudioDevice_UID_" + std::to_string (count)
                                             : input.ConsumeRandomLengthString (40);
        const auto inputs = MakeStreams (input);
        objects.push_back (sim::AddAudioDevice ({ name, uid, inputs, MakeStreams (input), 0, input.ConsumeBool() }));
    }
    objects.push_back (input.ConsumeIntegral<AudioObjectID>());

    // A device list the HAL does not answer truly would hide every new aggregate.
    bool deviceListAnswered = true;
    for (auto count = input.ConsumeIntegralInRange (0, 8); count > 0; --count)
    {
        const auto object = objects[input.ConsumeIntegralInRange<std::size_t> (0, objects.size() - 1)];
        sim::PropertyAnswer answer;
        answer.sizeStatus = input.ConsumeBool() ? 0 : input.ConsumeIntegral<OSStatus>();
        answer.size = input.ConsumeIntegralInRange<UInt32> (0, 512);
        answer.dataStatus = input.ConsumeBool() ? 0 : input.ConsumeIntegral<OSStatus>();
        const bool plain = input.ConsumeBool();
        if (plain)
            answer.data = input.ConsumeBytes<std::uint8_t> (input.ConsumeIntegralInRange<std::size_t> (0, 512));
        const auto selector = plain ? kPlainSelectors[input.ConsumeIntegralInRange<std::size_t> (0, 5)]
                                    : kObjectSelectors[input.ConsumeIntegralInRange<std::size_t> (0, 2)];
        deviceListAnswered &= !(object == kAudioObjectSystemObject && selector == kAudioHardwarePropertyDevices);
        sim::OverrideProperty (object, selector, answer);
    }

    const auto uid = juce::String (input.ConsumeRandomLengthString (40));
    for (const auto object : objects)
    {
        AudioSystemUtils::GetDeviceName (object);
        AudioSystemUtils::GetNumOutputChannels (object);
        AudioSystemUtils::GetSubDeviceUids (object);
        AudioSystemUtils::GetActiveSubDeviceUids (object);
    }
    AudioSystemUtils::GetOutputDeviceNames();
    AudioSystemUtils::GetDefaultInputDevice();
    AudioSystemUtils::TranslateUidToDevice (uid);
    AudioSystemUtils::SetDefaultInputDevice (objects.back());

    // The builder asks for every device's name, UID and outputs.
    if (deviceListAnswered)
    {
        engine->CreateAggregateDevice (input.ConsumeBool() ? kVelmarMultitrackName : uid.toRawUTF8(), 1);
        engine->OnDeviceDisconnected (1);
    }
    return 0;
}
