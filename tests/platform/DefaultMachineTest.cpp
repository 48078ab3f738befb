#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

using namespace platformtest;

TEST (SimulatedMachine, BootsBuiltInDefaultsTheVirtualDriverAndAVelmarWhoseAudioShowsLate)
{
    const std::string velmar = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";
    sim::BootDefaultMachine();
    EXPECT_EQ (sim::FindAudioDevice (velmar), 0u) << "the mixer's audio device follows its HID interface";
    // Device-list changes reach HAL readers through the message loop, as in the program.
    ASSERT_TRUE (WaitFor (
        []
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
            return sim::FindAudioDevice ("AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5") != 0;
        }));
    EXPECT_EQ (sim::DefaultInput(), sim::FindAudioDevice ("BuiltInInputDevice"));
    EXPECT_EQ (sim::DefaultOutput(), sim::FindAudioDevice ("BuiltInOutputDevice"));
    EXPECT_EQ (StringProperty (sim::FindAudioDevice (velmar), kAudioObjectPropertyName).second,
               "Tavrolux Velmar Main Multitrack");

    // Driver devices 1 to 5 carry the inputs, 6 to 10 the outputs.
    const std::pair<std::string, UInt32> inputs[] = { { "BuiltInInputDevice", 2 },
                                                      { "BuiltInOutputDevice", 0 },
                                                      { velmar, 12 },
                                                      { "QuorVirtualAudioDevice_UID", 2 },
                                                      { "QuorVirtualAudioDevice_UID_5", 2 },
                                                      { "QuorVirtualAudioDevice_UID_6", 0 },
                                                      { "QuorVirtualAudioDevice_UID_10", 0 } };
    const auto address = Address (kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
    for (const auto& [uid, channels] : inputs)
    {
        const auto device = sim::FindAudioDevice (uid);
        AudioBufferList list {};
        UInt32 size = sizeof (list);
        ASSERT_NE (device, 0u) << uid;
        ASSERT_EQ (AudioObjectGetPropertyData (device, &address, 0, nullptr, &size, &list), 0) << uid;
        EXPECT_EQ (list.mNumberBuffers > 0 ? list.mBuffers[0].mNumberChannels : 0u, channels) << uid;
    }
    EXPECT_EQ (DeviceList().size(), 13u) << "two built-in devices, ten of the driver, the mixer's";
}
