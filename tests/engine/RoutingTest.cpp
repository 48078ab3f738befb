// The mixer's routing: the routes and stream details that a device start
// derives, the block copy, and the copy over the real device path, where this
// binary counts what the audio thread does inside the routing callback. For
// that it replaces the C allocator (which operator new uses too) and the
// pthread mutex entry points; a sanitizer's runtime owns those, so under one
// nothing is counted.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <pthread.h>

#include "engine/AggregateState.h"
#include "engine/AudioSystemUtils.h"
#include "engine/DeviceStatus.h"
#include "engine/EngineConstants.h"
#include "engine/Mixer.h"
#include "engine/VirtualChanAudioCallback.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/audiodevice/HalAudioIODevice.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

thread_local bool inside = false;
std::atomic<long> allocations { 0 }, locks { 0 };

template <typename Result>
Result Counted (std::atomic<long>& counter, Result result)
{
    if (inside)
        counter.fetch_add (1);
    return result;
}

/** The C library's own function. dlsym takes its locks through libc's internal names, never through ours. */
int Next (std::atomic<void*>& real, const char* name, pthread_mutex_t* mutex)
{
    if (real.load() == nullptr)
        real = dlsym (RTLD_NEXT, name);
    return reinterpret_cast<int (*) (pthread_mutex_t*)> (real.load()) (mutex);
}

std::atomic<void*> realLock { nullptr }, realTryLock { nullptr };

} // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define QUOR_COUNTING 1

extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void __libc_free (void*);

    void* malloc (size_t size)
    {
        return Counted (allocations, __libc_malloc (size));
    }
    void* calloc (size_t count, size_t size)
    {
        return Counted (allocations, __libc_calloc (count, size));
    }
    void* realloc (void* block, size_t size)
    {
        return Counted (allocations, __libc_realloc (block, size));
    }
    void free (void* block)
    {
        __libc_free (Counted (allocations, block));
    }
    int pthread_mutex_lock (pthread_mutex_t* mutex)
    {
        return Counted (locks, Next (realLock, "pthread_mutex_lock", mutex));
    }
    int pthread_mutex_trylock (pthread_mutex_t* mutex)
    {
        return Counted (locks, Next (realTryLock, "pthread_mutex_trylock", mutex));
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

constexpr float kUntouched = -7.0f;
constexpr int U = -1, Z = -2; // an output untouched, or all zeros

/** Runs one block of numSamples over 22 input channels, channel c carrying c * 1000
    + the sample index, and 22 outputs, of which the callback is told numIn and
    numOut. Tells for each output the input it carries, U, Z, or 22 for anything else. */
std::vector<int> RunBlock (VirtualChanAudioCallback& callback, int numSamples, int numIn = 22, int numOut = 22,
                           int nullInput = -1, int nullOutput = -1)
{
    const auto n = size_t (std::max (numSamples, 1));
    std::vector<std::vector<float>> in (22, std::vector<float> (n)), out (22, std::vector<float> (n, kUntouched));
    std::vector<const float*> inputs;
    std::vector<float*> outputs;
    for (size_t c = 0; c < 22; ++c)
    {
        std::iota (in[c].begin(), in[c].end(), float (c * 1000));
        inputs.push_back (int (c) == nullInput ? nullptr : in[c].data());
        outputs.push_back (int (c) == nullOutput ? nullptr : out[c].data());
    }
    callback.audioDeviceIOCallbackWithContext (inputs.data(), numIn, outputs.data(), numOut, numSamples, {});

    std::vector<int> carried;
    for (const auto& channel : out)
    {
        const auto all = [&] (float v) { return std::count (channel.begin(), channel.end(), v) == long (n); };
        carried.push_back (all (kUntouched) ? U
                           : all (0.0f)     ? Z
                                            : int (std::find (in.begin(), in.end(), channel) - in.begin()));
    }
    return carried;
}

/** The 22 outputs of a block whose mixer outputs (10 to 19) carry these. */
std::vector<int> MixerCarries (std::vector<int> ten = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 })
{
    ten.insert (ten.begin(), 10, U);
    ten.resize (22, U);
    return ten;
}

const std::string kMixer = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:QV2400117:4,5";
const std::string kSpeakers = "com.example.Speakers";

std::string Virtual (int device)
{
    return device == 1 ? "QuorVirtualAudioDevice_UID" : "QuorVirtualAudioDevice_UID_" + std::to_string (device);
}

/** The builder's order: virtual devices 6 to 10, 1 to 5, then the mixer. */
std::vector<std::string> BuilderOrder (int without = 0)
{
    std::vector<std::string> uids;
    for (int d : { 6, 7, 8, 9, 10, 1, 2, 3, 4, 5 })
        if (d != without)
            uids.push_back (Virtual (d));
    uids.push_back (kMixer);
    return uids;
}

/** The routing objects wired as the engine wires them, and a device open over an
    aggregate of a device with no channels, then the builder's sub-devices. */
class RoutingTest : public ::testing::Test
{
protected:
    static CFMutableDictionaryRef NewDictionary()
    {
        return CFDictionaryCreateMutable (nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    }

    RoutingTest()
    {
        status.bufferSize.Changed.connect (&Mixer::SetBufferSize, &mixer);
        AudioSystemUtils::DetachNotificationsFromMainRunLoop(); // as the engine does
        sim::InstallVirtualDriver();
        sim::AddAudioDevice ({ kVelmarMultitrackName, kMixer, { 2 }, { 12 } });
        sim::AddAudioDevice ({ "Speakers", kSpeakers, {}, {} });
        sim::AddAudioDevice ({ "Stranger", "com.example.Stranger", {}, {} });

        auto full = BuilderOrder();
        full.insert (full.begin(), kSpeakers);
        auto* subDevices = CFArrayCreateMutable (nullptr, 0, &kCFTypeArrayCallBacks);
        for (const auto& uid : full)
        {
            auto* subDevice = NewDictionary();
            auto* text = CFStringCreateWithCString (nullptr, uid.c_str(), kCFStringEncodingUTF8);
            CFDictionaryAddValue (subDevice, CFSTR (kAudioSubDeviceUIDKey), text);
            CFArrayAppendValue (subDevices, subDevice);
            CFRelease (text);
            CFRelease (subDevice);
        }
        auto* description = NewDictionary();
        CFDictionaryAddValue (description, CFSTR (kAudioAggregateDeviceSubDeviceListKey), subDevices);
        EXPECT_EQ (AudioHardwareCreateAggregateDevice (description, &aggregate.deviceId), 0);
        CFRelease (subDevices);
        CFRelease (description);
        aggregate.hardwareUid = kMixer;
        Open (128, 44100.0);
    }

    /** 10 of the aggregate's 12 inputs, all its 22 outputs. */
    void Open (int bufferSize, double sampleRate)
    {
        juce::BigInteger inputs, outputs;
        inputs.setRange (2, 10, true);
        outputs.setRange (0, 22, true);
        device = std::make_unique<LatentDevice> ("QUOR Aggregate", aggregate.deviceId, aggregate.deviceId);
        ASSERT_EQ (device->open (inputs, outputs, sampleRate, bufferSize), "");
    }

    /** Starts while the HAL reports these active sub-devices. */
    void Start (const std::vector<std::string>& active = BuilderOrder())
    {
        std::vector<AudioObjectID> ids;
        for (const auto& uid : active)
            ids.push_back (sim::FindAudioDevice (uid));
        sim::PropertyAnswer answer;
        answer.data.assign ((const std::uint8_t*) ids.data(), (const std::uint8_t*) (ids.data() + ids.size()));
        answer.size = UInt32 (answer.data.size());
        sim::OverrideProperty (aggregate.deviceId, kAudioAggregateDevicePropertyActiveSubDeviceList, answer);
        callback.audioDeviceAboutToStart (device.get());
    }

    DeviceStatus status;
    AggregateState aggregate;
    Mixer mixer { &aggregate };
    VirtualChanAudioCallback callback { &status, &mixer, &aggregate };
    std::unique_ptr<LatentDevice> device;
};

TEST_F (RoutingTest, StartDerivesTheRoutesAndPublishesTheStreamDetails)
{
    using Routes = std::map<int, std::pair<std::vector<int>, std::vector<int>>>;
    const auto in = [] (int f) { return Routes::mapped_type { { f, f + 1 }, {} }; };
    const auto out = [] (int f) {
        return Routes::mapped_type { {}, { f, f + 1, f + 2, f + 3, f + 4, f + 5, f + 6, f + 7, f + 8, f + 9 } };
    };
    const std::vector<std::pair<std::vector<std::string>, Routes>> layouts {
        { BuilderOrder(),
          { { 0, in (0) }, { 1, in (2) }, { 2, in (4) }, { 3, in (6) }, { 4, in (8) }, { 5, out (10) } } },
        // Device 1 named twice takes the second pair; device 10's UID holds
        // device 1's, yet is neither and moves nothing.
        { { Virtual (10), Virtual (1), Virtual (3), Virtual (1), kMixer },
          { { 0, in (4) }, { 2, in (2) }, { 5, out (10) } } },
        // Only a non-virtual device of the full list moves the mixer's outputs.
        { { "com.example.Stranger", kSpeakers, Virtual (2), kMixer }, { { 1, in (0) }, { 5, out (20) } } },
        { { kMixer, Virtual (5), kMixer }, { { 4, in (0) }, { 5, out (30) } } },
    };
    for (const auto& [active, expected] : layouts)
    {
        Start (active);
        Routes routes;
        for (const auto& [kind, route] : aggregate.routes)
            routes[kind] = { route.inputChannels, route.outputChannels };
        EXPECT_EQ (routes, expected) << active.size() << " active";
    }

    // Every detail differs from the others, so that none can stand in for another.
    const auto details = [this]
    {
        return std::vector<double> { status.sampleRate.value,
                                     double (status.numInputChannels.value),
                                     double (status.numOutputChannels.value),
                                     double (status.bufferSize.value),
                                     double (status.inputLatency.value),
                                     double (status.outputLatency.value) };
    };
    const auto buffers = [this]
    {
        const auto &silence = mixer.silenceBuffer, &discard = mixer.discardBuffer;
        return std::vector<int> { silence.getNumChannels(), silence.getNumSamples(), discard.getNumChannels(),
                                  discard.getNumSamples() };
    };
    EXPECT_EQ (details(), (std::vector<double> { 44100.0, 10.0, 22.0, 128.0, 24.0, 40.0 }));
    EXPECT_EQ (buffers(), (std::vector<int> { 2, 128, 10, 128 }));

    // Only a new buffer size resizes the work buffers, which clears the silence.
    mixer.silenceBuffer.setSample (1, 5, 0.25f);
    Open (128, 48000.0);
    Start();
    EXPECT_EQ (mixer.silenceBuffer.getSample (1, 5), 0.25f);
    Open (64, 48000.0);
    Start();
    EXPECT_EQ (details(), (std::vector<double> { 48000.0, 10.0, 22.0, 64.0, 24.0, 40.0 }));
    EXPECT_EQ (buffers(), (std::vector<int> { 2, 64, 10, 64 }));
    EXPECT_EQ (mixer.silenceBuffer.findMinMax (1, 0, 64), juce::Range<float>());

    // The size the engine starts out with: no buffers, and blocks copy nothing.
    mixer.SetBufferSize (0);
    EXPECT_EQ (buffers(), (std::vector<int> { 0, 0, 0, 0 }));
    EXPECT_EQ (RunBlock (callback, 16), std::vector<int> (22, U));
}

TEST_F (RoutingTest, BlocksCopyTheTenRoutedInputsSampleExactAndWriteNothingElse)
{
    Start();
    EXPECT_EQ (RunBlock (callback, 128), MixerCarries());
    EXPECT_EQ (RunBlock (callback, 32), MixerCarries());

    // Missing inputs are silent sources; missing or null outputs discard their copies.
    EXPECT_EQ (RunBlock (callback, 128, 7), MixerCarries ({ 0, 1, 2, 3, 4, 5, 6, Z, Z, Z }));
    EXPECT_EQ (RunBlock (callback, 128, 22, 15), MixerCarries ({ 0, 1, 2, 3, 4, U, U, U, U, U }));
    EXPECT_EQ (RunBlock (callback, 128, 22, 22, -1, 13), MixerCarries ({ 0, 1, 2, U, 4, 5, 6, 7, 8, 9 }));

    // A null source, no samples, or more than the buffers hold: nothing is written.
    for (const auto& [samples, nullInput] : { std::pair (128, 7), { 0, -1 }, { -16, -1 }, { 129, -1 } })
        EXPECT_EQ (RunBlock (callback, samples, 22, 22, nullInput), std::vector<int> (22, U)) << samples;

    // Virtual device 3 not active: the devices after it move down a pair, its outputs are silent.
    Start (BuilderOrder (3));
    EXPECT_EQ (RunBlock (callback, 128), MixerCarries ({ 0, 1, 2, 3, Z, Z, 4, 5, 6, 7 }));

    // Without the mixer's UID there is no route to it, and nothing is written.
    aggregate.hardwareUid = "";
    Start();
    EXPECT_EQ (RunBlock (callback, 128), std::vector<int> (22, U));
}

/** The engine's callback, counting what the audio thread does inside it. */
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

/** Four blocks of a signal that tells the ten routed channels apart, sample by sample. */
std::vector<float> SignalOf (int channel)
{
    std::vector<float> samples (4 * 128);
    std::iota (samples.begin(), samples.end(), float (channel * 1000));
    return samples;
}

TEST_F (RoutingTest, TenVirtualChannelsReachTheMixerWithoutAllocatingLockingOrSignalling)
{
#ifdef QUOR_COUNTING
    // The counters must see what they are meant to see, or zero proves nothing.
    inside = true;
    std::make_unique<std::vector<int>> (64, 3).reset();
    std::mutex probe;
    probe.lock();
    probe.unlock();
    inside = false;
    ASSERT_GE (allocations.exchange (0), 2);
    ASSERT_GE (locks.exchange (0), 1);
#endif

    sim::SetAudioClock (sim::AudioClock::Manual);
    sim::SetOutputPrefill (-42.5f);
    const auto mixerId = sim::FindAudioDevice (kMixer);
    std::vector<AudioObjectID> virtualIds;
    for (int d = 1; d <= 10; ++d)
        virtualIds.push_back (sim::FindAudioDevice (Virtual (d)));
    auto engine = std::make_unique<VirtualChannelsEngine>();
    engine->audioCallback =
        std::make_unique<CountingCallback> (engine->deviceStatus.get(), engine->mixer.get(), &engine->aggregate);
    ASSERT_EQ (engine->CreateAggregateDevice (kVelmarMultitrackName, 1), 0);

    long emissions = 0;
    const auto count = [&emissions] (auto&... properties)
    { (properties.Changed.connect ([&emissions] (auto) { ++emissions; }), ...); };
    auto& status = *engine->deviceStatus;
    count (status.sampleRate, status.numInputChannels, status.numOutputChannels, status.bufferSize, status.inputLatency,
           status.outputLatency, engine->deviceName, engine->firmwareVersion, engine->latency,
           engine->processingEnabled);

    sim::RunAudioBlocks (10000);
    for (auto id : virtualIds)
        sim::TakeOutput (id, 0);
    for (int c = 0; c < 12; ++c)
        sim::TakeOutput (mixerId, c);
    for (int c = 0; c < 10; ++c)
        sim::FeedInput (virtualIds[size_t (c / 2)], c % 2, SignalOf (c));
    sim::RunAudioBlocks (4);

    EXPECT_EQ (allocations.load(), 0);
    EXPECT_EQ (locks.load(), 0);
    EXPECT_EQ (emissions, 0);

    // Virtual devices 1 to 5 on the first ten mixer outputs, sample-exact, and nothing written elsewhere.
    const std::vector<float> untouched (4 * 128, -42.5f);
    for (int c = 0; c < 12; ++c)
        EXPECT_EQ (sim::TakeOutput (mixerId, c), c < 10 ? SignalOf (c) : untouched) << c;
    for (int d = 6; d <= 10; ++d)
        EXPECT_EQ (sim::TakeOutput (virtualIds[size_t (d - 1)], 0), untouched) << "virtual device " << d;
}

} // namespace
