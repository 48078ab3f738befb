#include "platform/seam/PlatformSeam.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace
{

std::optional<std::int64_t> NumberProperty (sim::HidId hid, const char* key)
{
    CFStringRef name = CFStringCreateWithCString (nullptr, key, kCFStringEncodingUTF8);
    const auto value = IOHIDDeviceGetProperty (sim::HidDeviceRef (hid), name);
    CFRelease (name);
    if (value == nullptr || CFGetTypeID (value) != CFNumberGetTypeID())
        return std::nullopt;
    std::int64_t number = 0;
    CFNumberGetValue (static_cast<CFNumberRef> (value), kCFNumberSInt64Type, &number);
    return number;
}

bool HasProperty (sim::HidId hid, const char* key)
{
    CFStringRef name = CFStringCreateWithCString (nullptr, key, kCFStringEncodingUTF8);
    const bool found = IOHIDDeviceGetProperty (sim::HidDeviceRef (hid), name) != nullptr;
    CFRelease (name);
    return found;
}

std::string DeviceString (AudioObjectID device, AudioObjectPropertySelector selector)
{
    const AudioObjectPropertyAddress address { selector, kAudioObjectPropertyScopeGlobal,
                                               kAudioObjectPropertyElementMain };
    CFStringRef value = nullptr;
    UInt32 size = sizeof (value);
    if (AudioObjectGetPropertyData (device, &address, 0, nullptr, &size, &value) != 0 || value == nullptr)
        return {};
    const auto text = PlatformSeam::StringFromCF (value).toStdString();
    CFRelease (value);
    return text;
}

AudioObjectID WaitForDevice (const std::string& uid)
{
    for (int i = 0; i < 2000 && sim::FindAudioDevice (uid) == 0; ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    return sim::FindAudioDevice (uid);
}

TEST (SimulatedMachine, MixerShowsItsHidInterfaceAndLaterItsAudioDevice)
{
    sim::Reset();
    sim::MixerSpec spec;
    spec.productId = 121;
    spec.serialNumber = "";
    spec.locationId = 0x14300000;
    spec.audioDelayMs = 100;
    const auto first = sim::PlugMixer (spec);
    const auto second = sim::PlugMixer (spec);

    EXPECT_EQ (NumberProperty (first.hid, "VendorID"), 0x7A31);
    EXPECT_EQ (NumberProperty (first.hid, "ProductID"), 121);
    EXPECT_EQ (NumberProperty (first.hid, "PrimaryUsagePage"), 0xFF00);
    EXPECT_EQ (NumberProperty (first.hid, "VersionNumber"), 0x0123);
    EXPECT_EQ (NumberProperty (first.hid, "LocationID"), 0x14300000);
    EXPECT_FALSE (HasProperty (first.hid, "SerialNumber"));
    ASSERT_TRUE (NumberProperty (first.hid, "UniqueID").has_value());
    EXPECT_NE (NumberProperty (first.hid, "UniqueID"), NumberProperty (second.hid, "UniqueID"));

    ASSERT_NE (first.audio, 0u);
    EXPECT_EQ (DeviceString (first.audio, kAudioObjectPropertyName), "") << "not listed before its delay";
    std::this_thread::sleep_for (std::chrono::milliseconds (150));
    EXPECT_EQ (DeviceString (first.audio, kAudioObjectPropertyName), "Tavrolux Tesk Main Multitrack");
    const auto uid = DeviceString (first.audio, kAudioDevicePropertyDeviceUID);
    EXPECT_NE (uid.find ("AppleUSBAudioEngine:QUOR:Tavrolux"), std::string::npos);
    EXPECT_NE (uid.find (":4,5"), std::string::npos);

    sim::UnplugMixer (first);
    EXPECT_EQ (DeviceString (first.audio, kAudioObjectPropertyName), "");
    EXPECT_EQ (sim::HidDeviceRef (first.hid), nullptr);
}

TEST (SimulatedMachine, DefaultMachineHasBuiltInDefaultsTheDriverAndAVelmar)
{
    sim::Reset();
    sim::BootDefaultMachine();
    EXPECT_EQ (DeviceString (sim::DefaultInput(), kAudioObjectPropertyName), "Built-in Input");
    EXPECT_EQ (DeviceString (sim::DefaultOutput(), kAudioObjectPropertyName), "Built-in Output");

    // Devices 1 to 5 carry the inputs, 6 to 10 the outputs.
    const auto first = sim::FindAudioDevice ("QuorVirtualAudioDevice_UID");
    const auto sixth = sim::FindAudioDevice ("QuorVirtualAudioDevice_UID_6");
    const auto tenth = sim::FindAudioDevice ("QuorVirtualAudioDevice_UID_10");
    ASSERT_NE (first, 0u);
    ASSERT_NE (sixth, 0u);
    ASSERT_NE (tenth, 0u);
    const AudioObjectPropertyAddress inputs { kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                                              kAudioObjectPropertyElementMain };
    UInt32 size = 0;
    ASSERT_EQ (AudioObjectGetPropertyDataSize (first, &inputs, 0, nullptr, &size), 0);
    AudioBufferList list {};
    ASSERT_EQ (AudioObjectGetPropertyData (first, &inputs, 0, nullptr, &size, &list), 0);
    EXPECT_EQ (list.mNumberBuffers, 1u);
    EXPECT_EQ (list.mBuffers[0].mNumberChannels, 2u);
    ASSERT_EQ (AudioObjectGetPropertyDataSize (sixth, &inputs, 0, nullptr, &size), 0);
    ASSERT_EQ (AudioObjectGetPropertyData (sixth, &inputs, 0, nullptr, &size, &list), 0);
    EXPECT_EQ (list.mNumberBuffers, 0u);

    const auto velmar = WaitForDevice ("AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5");
    ASSERT_NE (velmar, 0u);
    EXPECT_EQ (DeviceString (velmar, kAudioObjectPropertyName), "Tavrolux Velmar Main Multitrack");
}

TEST (SimulatedMachine, BootingAnUntouchedMachineBuildsItOnce)
{
    // No Reset: the boot's own first touch of the machine must not build it a second time.
    sim::BootDefaultMachine();
    const AudioObjectPropertyAddress devices { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal,
                                               kAudioObjectPropertyElementMain };
    UInt32 size = 0;
    ASSERT_EQ (AudioObjectGetPropertyDataSize (kAudioObjectSystemObject, &devices, 0, nullptr, &size), 0);
    std::vector<AudioObjectID> ids (size / 4);
    ASSERT_EQ (AudioObjectGetPropertyData (kAudioObjectSystemObject, &devices, 0, nullptr, &size, ids.data()), 0);
    EXPECT_EQ (std::count_if (ids.begin(), ids.end(),
                              [] (AudioObjectID id)
                              { return DeviceString (id, kAudioDevicePropertyDeviceUID) == "BuiltInInputDevice"; }),
               1);
}

TEST (SimulatedMachine, CaptureKeepsOnlyTheLatestSamples)
{
    sim::Reset();
    sim::SetAudioClock (sim::AudioClock::Manual);
    sim::AudioDeviceSpec spec;
    spec.name = "Dev";
    spec.uid = "dev";
    spec.inputStreams = { 1 };
    spec.outputStreams = { 1 };
    const auto device = sim::AddAudioDevice (spec);

    std::vector<float> fed;
    for (int i = 0; i < 140000; ++i)
        fed.push_back ((float) i);
    sim::FeedInput (device, 0, fed);

    juce::AudioDeviceManager manager;
    PlatformSeam::PrepareAudioDeviceManager (manager);
    struct Through : juce::AudioIODeviceCallback
    {
        void audioDeviceIOCallbackWithContext (const float* const* in, int, float* const* out, int, int n,
                                               const juce::AudioIODeviceCallbackContext&) override
        {
            std::copy (in[0], in[0] + n, out[0]);
        }
        void audioDeviceAboutToStart (juce::AudioIODevice*) override {}
        void audioDeviceStopped() override {}
    } through;
    juce::AudioDeviceManager::AudioDeviceSetup setup;
    setup.inputDeviceName = setup.outputDeviceName = "Dev";
    setup.sampleRate = 48000.0;
    setup.bufferSize = 2048;
    manager.addAudioCallback (&through);
    ASSERT_EQ (manager.initialise (1, 1, nullptr, false, {}, &setup), "");

    sim::RunAudioBlocks (70); // 143360 samples
    const auto captured = sim::TakeOutput (device, 0);
    ASSERT_EQ (captured.size(), 131072u);
    EXPECT_EQ (captured.front(), (float) (143360 - 131072));
    EXPECT_EQ (captured[131072 - 3360 - 1], 139999.0f);
    EXPECT_EQ (captured.back(), 0.0f);

    manager.removeAudioCallback (&through);
    manager.closeAudioDevice();
}

} // namespace
