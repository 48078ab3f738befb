#include "PlatformTestSupport.h"
#include "engine/AudioSystemUtils.h"

#include <gtest/gtest.h>

using namespace platformtest;

TEST (SimulatedMachine, BootsBuiltInDefaultsTheVirtualDriverAndAVelmarWhoseAudioShowsLate)
{
    const std::string velmar = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";
    sim::BootDefaultMachine();
    EXPECT_EQ (sim::FindAudioDevice (velmar), 0u) << "the mixer's audio device follows its HID interface";
    ASSERT_TRUE (PumpUntil ([&] { return sim::FindAudioDevice (velmar) != 0; }));
    EXPECT_EQ (sim::DefaultInput(), sim::FindAudioDevice ("BuiltInInputDevice"));
    EXPECT_EQ (sim::DefaultOutput(), sim::FindAudioDevice ("BuiltInOutputDevice"));
    EXPECT_EQ (AudioSystemUtils::GetDeviceName (sim::FindAudioDevice (velmar)), "Tavrolux Velmar Main Multitrack");
    EXPECT_EQ (DeviceList().size(), 13u) << "two built-in devices, ten of the driver, the mixer's";

    const auto channels = [] (const std::string& uid, AudioObjectPropertyScope scope)
    {
        const auto address = Address (kAudioDevicePropertyStreamConfiguration, scope);
        AudioBufferList list {};
        UInt32 size = sizeof (list);
        if (AudioObjectGetPropertyData (sim::FindAudioDevice (uid), &address, 0, nullptr, &size, &list) != 0)
            return std::string ("none");
        return std::to_string (list.mNumberBuffers > 0 ? list.mBuffers[0].mNumberChannels : 0u);
    };
    // Inputs/outputs; driver devices 1 to 5 play and record, 6 to 10 have no streams.
    std::string seen;
    for (const std::string uid :
         { "BuiltInInputDevice", "BuiltInOutputDevice", velmar.c_str(), "QuorVirtualAudioDevice_UID",
           "QuorVirtualAudioDevice_UID_5", "QuorVirtualAudioDevice_UID_6", "QuorVirtualAudioDevice_UID_10" })
        seen += channels (uid, kAudioObjectPropertyScopeInput) + "/" + channels (uid, kAudioObjectPropertyScopeOutput) +
                " ";
    EXPECT_EQ (seen, "2/0 0/2 12/12 2/2 2/2 0/0 0/0 ");
}
