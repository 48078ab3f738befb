// The routes and stream details a device start derives, the block copy, and the copy over the real device path,
// where the C allocator (operator new's too) is replaced to count allocations inside the routing callback. A
// sanitizer's runtime owns the allocator, so under one nothing is counted.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "engine/EngineConstants.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/audiodevice/HalAudioIODevice.h"
#include "tests/platform/PlatformTestSupport.h"

static thread_local bool inside = false;
static std::atomic<long> allocations { 0 };

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define QUOR_COUNTING 1
static void* Counted (void* block)
{
    if (inside)
        allocations.fetch_add (1);
    return block;
}

extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void __libc_free (void*);

    void* malloc (size_t size)
    {
        return Counted (__libc_malloc (size));
    }
    void* calloc (size_t count, size_t size)
    {
        return Counted (__libc_calloc (count, size));
    }
    void* realloc (void* block, size_t size)
    {
        return Counted (__libc_realloc (block, size));
    }
    void free (void* block)
    {
        __libc_free (Counted (block));
    }
}
#endif

namespace
{

/** The stand-in reports no latency; a real device does, and a different one each way. */
struct LatentDevice : HalAudioIODevice
{
    using HalAudioIODevice::HalAudioIODevice;
    int getOutputLatencyInSamples() override { return 40; }
    int getInputLatencyInSamples() override { return 24; }
};

/** first, first + 1, ... */
template <typename T>
std::vector<T> Ramp (T first, size_t count)
{
    std::vector<T> values (count);
    std::iota (values.begin(), values.end(), first);
    return values;
}

/** Samples that tell channels apart, and every sample of one channel from the next. */
const auto SignalOf = [] (int channel, size_t n = 4 * 128) { return Ramp (float (channel * 1000), n); };

constexpr float kUntouched = -7.0f;

/** Runs one block of numSamples over 22 inputs carrying SignalOf their channel and
    22 outputs, of which the callback is told numIn and numOut, and nullChannel's
    input and output are null. Tells for each output the input it carries ('a' for
    0, ...), '.' if untouched, '0' if all zeros, '?' for anything else. */
std::string RunBlock (VirtualChanAudioCallback& callback, int numSamples, int numIn = 22, int numOut = 22,
                      int nullChannel = -1)
{
    const auto n = size_t (std::max (numSamples, 1));
    std::vector<std::vector<float>> in, out (22, std::vector<float> (n, kUntouched));
    std::vector<const float*> inputs;
    std::vector<float*> outputs;
    for (int c = 0; c < 22; ++c)
    {
        in.push_back (SignalOf (c, n));
        inputs.push_back (c == nullChannel ? nullptr : in.back().data());
        outputs.push_back (c == nullChannel ? nullptr : out[size_t (c)].data());
    }
    callback.audioDeviceIOCallbackWithContext (inputs.data(), numIn, outputs.data(), numOut, numSamples, {});

    in.push_back (std::vector<float> (n, kUntouched));
    in.push_back (std::vector<float> (n));
    std::string carried;
    for (const auto& channel : out)
        carried += "abcdefghijklmnopqrstuv.0?"[std::find (in.begin(), in.end(), channel) - in.begin()];
    return carried;
}

const std::string kMixer = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";
const std::string kSpeakers = "com.example.Speakers";

const auto Virtual = [] (int d) { return "QuorVirtualAudioDevice_UID" + (d == 1 ? "" : "_" + std::to_string (d)); };

/** The builder's order: virtual devices 6 to 10, 1 to 5, then the mixer. */
const std::vector<std::string> kBuilderOrder { Virtual (6),  Virtual (7), Virtual (8), Virtual (9),
                                               Virtual (10), Virtual (1), Virtual (2), Virtual (3),
                                               Virtual (4),  Virtual (5), kMixer };

/** The routing objects wired as the engine wires them, and a device open over an
    aggregate of the builder's sub-devices and a device with no channels. */
class RoutingTest : public ::testing::Test
{
protected:
    RoutingTest()
    {
        status.bufferSize.Changed.connect (&Mixer::SetBufferSize, &mixer);
        sim::AddAudioDevice ({ "Speakers", kSpeakers, {}, {} });
        sim::AddAudioDevice ({ "Stranger", "com.example.Stranger", {}, {} });
        auto full = kBuilderOrder;
        full.insert (full.begin(), kSpeakers);
        EXPECT_EQ (platformtest::CreateAggregate ("QUOR Aggregate", full, aggregate.deviceId), 0);
        aggregate.hardwareUid = kMixer;
        Restart (128, 44100.0);
    }

    /** Opens 10 of the aggregate's 12 inputs, all its 22 outputs, and starts. */
    void Restart (int bufferSize, double sampleRate)
    {
        juce::BigInteger inputs, outputs;
        inputs.setRange (2, 10, true);
        outputs.setRange (0, 22, true);
        device = std::make_unique<LatentDevice> ("QUOR Aggregate", aggregate.deviceId, aggregate.deviceId);
        ASSERT_EQ (device->open (inputs, outputs, sampleRate, bufferSize), "");
        Start();
    }

    /** Starts while the HAL reports these active sub-devices. */
    void Start (const std::vector<std::string>& active = kBuilderOrder)
    {
        std::vector<AudioObjectID> ids;
        for (const auto& uid : active)
            ids.push_back (sim::FindAudioDevice (uid));
        const auto* bytes = reinterpret_cast<const std::uint8_t*> (ids.data());
        sim::OverrideProperty (
            aggregate.deviceId, kAudioAggregateDevicePropertyActiveSubDeviceList,
            { 0, UInt32 (ids.size() * sizeof (ids[0])), 0, { bytes, bytes + ids.size() * sizeof (ids[0]) } });
        callback.audioDeviceAboutToStart (device.get());
    }

    const std::vector<AudioObjectID> virtualIds = sim::InstallVirtualDriver();
    const AudioObjectID mixerId = sim::AddAudioDevice ({ kVelmarMultitrackName, kMixer, { 2 }, { 12 } });
    DeviceStatus status;
    AggregateState aggregate;
    Mixer mixer { &aggregate };
    VirtualChanAudioCallback callback { &status, &mixer, &aggregate };
    std::unique_ptr<LatentDevice> device;
};

/** The engine's callback, counting the allocations the audio thread makes inside it. */
struct CountingCallback : VirtualChanAudioCallback
{
    using VirtualChanAudioCallback::VirtualChanAudioCallback;
    void audioDeviceIOCallbackWithContext (const float* const* in, int numIn, float* const* out, int numOut,
                                           int numSamples, const juce::AudioIODeviceCallbackContext& context) override
    {
        inside = true;
        VirtualChanAudioCallback::audioDeviceIOCallbackWithContext (in, numIn, out, numOut, numSamples, context);
        inside = false;
    }
};

TEST_F (RoutingTest, StartDerivesRoutesAndStreamDetailsAndBlocksCopyTenChannelsExactlyWithoutAllocating)
{
    // The stream details, each unlike the others so that none can stand in for another, then the work buffers.
    const auto published = [this]
    {
        const auto &silence = mixer.silenceBuffer, &discard = mixer.discardBuffer;
        return std::vector<double> { double (status.sampleRate.value),        double (status.numInputChannels.value),
                                     double (status.numOutputChannels.value), double (status.bufferSize.value),
                                     double (status.inputLatency.value),      double (status.outputLatency.value),
                                     double (silence.getNumChannels()),       double (silence.getNumSamples()),
                                     double (discard.getNumChannels()),       double (discard.getNumSamples()) };
    };
    EXPECT_EQ (published(), (std::vector<double> { 44100, 10, 22, 128, 24, 40, 2, 128, 10, 128 }));

    // Outputs 10 to 19 are the mixer's.
    EXPECT_EQ (RunBlock (callback, 128), "..........abcdefghij..");
    EXPECT_EQ (RunBlock (callback, 1), "..........abcdefghij..");

    // Missing inputs are silent sources; missing or null outputs discard their copies.
    EXPECT_EQ (RunBlock (callback, 128, 0), "..........0000000000..");
    EXPECT_EQ (RunBlock (callback, 128, 22, 15), "..........abcde.......");
    EXPECT_EQ (RunBlock (callback, 128, 22, 22, 13), "..........abc.efghij..");

    // A null source, no samples, or more than the buffers hold: nothing is written.
    for (const auto& [samples, nullInput] : { std::pair (128, 7), { 0, -1 }, { -16, -1 }, { 129, -1 } })
        EXPECT_EQ (RunBlock (callback, samples, 22, 22, nullInput), std::string (22, '.')) << samples;

    // Each layout's routes, and what a block then carries.
    using Routes = std::map<int, std::pair<std::vector<int>, std::vector<int>>>;
    const auto in = [] (int f) { return Routes::mapped_type { Ramp (f, 2), {} }; };
    const auto out = [] (int f) { return Routes::mapped_type { {}, Ramp (f, 10) }; };
    const std::vector<std::tuple<std::vector<std::string>, Routes, std::string>> layouts {
        { kBuilderOrder,
          { { 0, in (0) }, { 1, in (2) }, { 2, in (4) }, { 3, in (6) }, { 4, in (8) }, { 5, out (10) } },
          "..........abcdefghij.." },
        // Device 1 named twice takes the second pair; device 10's UID holds device 1's, yet moves nothing.
        { { Virtual (10), Virtual (1), Virtual (3), Virtual (1), kMixer },
          { { 0, in (4) }, { 2, in (2) }, { 5, out (10) } },
          "..........ef00cd0000.." },
        { { kMixer, Virtual (5), kMixer }, { { 4, in (0) }, { 5, out (30) } }, std::string (22, '.') },
        // Only a non-virtual device of the full list moves the mixer's outputs.
        { { "com.example.Stranger", kSpeakers, Virtual (2), kMixer },
          { { 1, in (0) }, { 5, out (20) } },
          "....................00" },
    };
    for (const auto& [active, expected, carried] : layouts)
    {
        Start (active);
        Routes routes;
        for (const auto& [kind, route] : aggregate.routes)
            routes[kind] = { route.inputChannels, route.outputChannels };
        EXPECT_EQ (routes, expected) << active.size() << " active";
        EXPECT_EQ (RunBlock (callback, 128), carried) << active.size() << " active";
    }

    // Without the mixer's UID there is no route to it, and nothing is written.
    aggregate.hardwareUid = "";
    Start();
    EXPECT_EQ (RunBlock (callback, 128), std::string (22, '.'));

    // A new buffer size resizes the work buffers and clears the silence.
    mixer.silenceBuffer.setSample (1, 5, 0.25f);
    Restart (64, 48000.0);
    EXPECT_EQ (published(), (std::vector<double> { 48000, 10, 22, 64, 24, 40, 2, 64, 10, 64 }));
    EXPECT_EQ (mixer.silenceBuffer.findMinMax (1, 0, 64), juce::Range<float>());

    // The size the engine starts out with: no buffers, and blocks copy nothing.
    mixer.SetBufferSize (0);
    EXPECT_EQ (published(), (std::vector<double> { 48000, 10, 22, 64, 24, 40, 0, 0, 0, 0 }));
    EXPECT_EQ (RunBlock (callback, 16), std::string (22, '.'));

    // Over the real device path the engine's callback allocates nothing; the counter must see what it is meant to
    // see, or zero proves nothing.
#ifdef QUOR_COUNTING
    inside = true;
    std::make_unique<std::vector<int>> (64, 3).reset();
    inside = false;
    ASSERT_GE (allocations.exchange (0), 2);
#endif
    sim::SetAudioClock (sim::AudioClock::Manual);
    sim::SetOutputPrefill (-42.5f);
    auto engine = std::make_unique<VirtualChannelsEngine>();
    engine->audioCallback =
        std::make_unique<CountingCallback> (engine->deviceStatus.get(), engine->mixer.get(), &engine->aggregate);
    ASSERT_EQ (engine->CreateAggregateDevice (kVelmarMultitrackName, 1), 0);
    for (int c = 0; c < 10; ++c)
        sim::FeedInput (virtualIds[size_t (c / 2)], c % 2, SignalOf (c));
    sim::RunAudioBlocks (4);
    EXPECT_EQ (allocations.load(), 0);

    // Virtual devices 1 to 5 on the first ten mixer outputs, sample-exact, and nothing written elsewhere: not on
    // the mixer's last two outputs, nor on the virtual devices' own, which stand ahead of the mixer's.
    const std::vector<float> untouched (4 * 128, -42.5f);
    for (int c = 0; c < 12; ++c)
        EXPECT_EQ (sim::TakeOutput (mixerId, c), c < 10 ? SignalOf (c) : untouched) << c;
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ (sim::TakeOutput (virtualIds[size_t (c / 2)], c % 2), untouched) << "virtual output " << c;
}

} // namespace
