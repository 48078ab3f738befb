#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

namespace
{

using namespace platformtest;

std::optional<std::int64_t> NumberProperty (sim::HidId hid, const char* key)
{
    CFStringRef name = CFStringCreateWithCString (nullptr, key, kCFStringEncodingUTF8);
    const auto value = IOHIDDeviceGetProperty (sim::HidDeviceRef (hid), name);
    CFRelease (name);
    std::int64_t number = 0;
    if (value == nullptr || CFGetTypeID (value) != CFNumberGetTypeID())
        return std::nullopt;
    CFNumberGetValue (static_cast<CFNumberRef> (value), kCFNumberSInt64Type, &number);
    return number;
}

TEST (SimulatedMachine, MixerShowsItsHidInterfaceAndLaterItsAudioDevice)
{
    sim::Reset();
    sim::MixerSpec spec;
    spec.productId = 121;
    spec.serialNumber = "";
    spec.locationId = 0x14300000;
    spec.audioDelayMs = 1500; // long enough that a stalled test thread still looks before it
    const auto first = sim::PlugMixer (spec);
    const auto second = sim::PlugMixer (spec);

    EXPECT_EQ (NumberProperty (first.hid, "VendorID"), 0x7A31);
    EXPECT_EQ (NumberProperty (first.hid, "ProductID"), 121);
    EXPECT_EQ (NumberProperty (first.hid, "PrimaryUsagePage"), 0xFF00);
    EXPECT_EQ (NumberProperty (first.hid, "VersionNumber"), 0x0123);
    EXPECT_EQ (NumberProperty (first.hid, "LocationID"), 0x14300000);
    EXPECT_EQ (IOHIDDeviceGetProperty (sim::HidDeviceRef (first.hid), CFSTR ("SerialNumber")), nullptr);
    ASSERT_TRUE (NumberProperty (first.hid, "UniqueID").has_value());
    EXPECT_NE (NumberProperty (first.hid, "UniqueID"), NumberProperty (second.hid, "UniqueID"));

    ASSERT_NE (first.audio, 0u);
    EXPECT_EQ (StringProperty (first.audio, kAudioObjectPropertyName).second, "") << "not listed before its delay";
    ASSERT_TRUE (WaitFor ([&] { return Listed (first.audio); }));
    EXPECT_EQ (StringProperty (first.audio, kAudioObjectPropertyName).second, "Tavrolux Tesk Main Multitrack");
    const auto uid = StringProperty (first.audio, kAudioDevicePropertyDeviceUID).second;
    EXPECT_NE (uid.find ("AppleUSBAudioEngine:QUOR:Tavrolux"), std::string::npos);
    EXPECT_NE (uid.find (":4,5"), std::string::npos);

    sim::UnplugMixer (first);
    EXPECT_FALSE (Listed (first.audio));
    EXPECT_EQ (sim::HidDeviceRef (first.hid), nullptr);
}

TEST (SimulatedMachine, DefaultMachineHasBuiltInDefaultsTheDriverAndAVelmar)
{
    // No Reset: the boot's own first touch of the machine must not build it a second time.
    sim::BootDefaultMachine();
    EXPECT_EQ (StringProperty (sim::DefaultInput(), kAudioObjectPropertyName).second, "Built-in Input");
    EXPECT_EQ (StringProperty (sim::DefaultOutput(), kAudioObjectPropertyName).second, "Built-in Output");
    const auto devices = DeviceList();
    const auto builtInInputs =
        std::count_if (devices.begin(), devices.end(),
                       [] (AudioObjectID id)
                       { return StringProperty (id, kAudioDevicePropertyDeviceUID).second == "BuiltInInputDevice"; });
    EXPECT_EQ (builtInInputs, 1);

    // Devices 1 to 5 carry the inputs, 6 to 10 the outputs.
    const auto first = sim::FindAudioDevice ("QuorVirtualAudioDevice_UID");
    const auto sixth = sim::FindAudioDevice ("QuorVirtualAudioDevice_UID_6");
    ASSERT_NE (first, 0u);
    ASSERT_NE (sixth, 0u);
    ASSERT_NE (sim::FindAudioDevice ("QuorVirtualAudioDevice_UID_10"), 0u);
    const auto inputs = Address (kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
    UInt32 size = sizeof (AudioBufferList);
    AudioBufferList list {};
    ASSERT_EQ (AudioObjectGetPropertyData (first, &inputs, 0, nullptr, &size, &list), 0);
    EXPECT_EQ (list.mNumberBuffers, 1u);
    EXPECT_EQ (list.mBuffers[0].mNumberChannels, 2u);
    ASSERT_EQ (AudioObjectGetPropertyData (sixth, &inputs, 0, nullptr, &size, &list), 0);
    EXPECT_EQ (list.mNumberBuffers, 0u);

    const std::string velmar = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";
    ASSERT_TRUE (WaitFor ([&] { return sim::FindAudioDevice (velmar) != 0; }));
    EXPECT_EQ (StringProperty (sim::FindAudioDevice (velmar), kAudioObjectPropertyName).second,
               "Tavrolux Velmar Main Multitrack");
}

} // namespace
