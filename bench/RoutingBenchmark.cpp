#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/EngineConstants.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{

constexpr size_t kChannels = 22;

/** One block's channel arrays, shaped as the aggregate presents them: ten
    virtual-device inputs first, the mixer's outputs from channel 10. Both
    benchmarks get the very same addresses, so that cache and alignment
    effects of the copies themselves do not differ between them. */
struct Channels
{
    explicit Channels (int numSamples)
    {
        // A little padding between channels keeps sources and destinations
        // from sitting a whole number of pages apart.
        const auto stride = static_cast<size_t> (numSamples) + 16;
        storage.resize (2 * kChannels * stride + 16, 0.0f);
        auto* base = storage.data();

        while (reinterpret_cast<std::uintptr_t> (base) % 64 != 0)
            ++base;

        for (size_t c = 0; c < kChannels; ++c)
        {
            std::fill_n (base + c * stride, numSamples, 0.25f);
            inputs.push_back (base + c * stride);
            outputs.push_back (base + (kChannels + c) * stride);
        }
    }

    std::vector<float> storage;
    std::vector<const float*> inputs;
    std::vector<float*> outputs;
};

/** The engine's routing callback as the program sets it up: the builder's
    aggregate of the virtual driver and a 12-channel mixer, opened on the
    simulated machine's manual clock so that only this thread runs blocks. */
std::unique_ptr<VirtualChannelsEngine> MakeRoutedEngine()
{
    sim::Reset();
    sim::SetAudioClock (sim::AudioClock::Manual);
    sim::InstallVirtualDriver();
    sim::AudioDeviceSpec mixer;
    mixer.name = kVelmarMultitrackName;
    mixer.uid = "AppleUSBAudioEngine:QUOR:Tavrolux Velmar:1:4,5";
    mixer.inputStreams = { 12 };
    mixer.outputStreams = { 12 };
    sim::AddAudioDevice (mixer);

    auto engine = std::make_unique<VirtualChannelsEngine>();
    engine->CreateAggregateDevice (kVelmarMultitrackName, 1);
    return engine;
}

/** The routing callback's block copy, with the routes of the builder's aggregate. */
void BM_RoutingBlockCopy (benchmark::State& state)
{
    const auto numSamples = static_cast<int> (state.range (0));

    const auto engine = MakeRoutedEngine();
    auto& callback = *engine->audioCallback;
    engine->mixer->SetBufferSize (static_cast<unsigned long> (numSamples));

    Channels channels (numSamples);
    const juce::AudioIODeviceCallbackContext context;

    for (auto _ : state)
    {
        callback.audioDeviceIOCallbackWithContext (channels.inputs.data(), int (kChannels), channels.outputs.data(),
                                                   int (kChannels), numSamples, context);
        benchmark::ClobberMemory();
    }

    if (channels.outputs[19][numSamples - 1] != 0.25f)
        state.SkipWithError ("the block was not routed");

    state.SetBytesProcessed (state.iterations() * 10 * numSamples * static_cast<int64_t> (sizeof (float)));
}

/** The floor: the same ten channel copies as plain memcpy calls. */
void BM_TenMemcpyBaseline (benchmark::State& state)
{
    const auto numSamples = static_cast<int> (state.range (0));
    Channels channels (numSamples);
    const auto numBytes = static_cast<size_t> (numSamples) * sizeof (float);
    const float* const* inputs = channels.inputs.data();
    float* const* outputs = channels.outputs.data();

    for (auto _ : state)
    {
        benchmark::DoNotOptimize (inputs);
        benchmark::DoNotOptimize (outputs);

        for (int c = 0; c < 10; ++c)
            std::memcpy (outputs[10 + c], inputs[c], numBytes);

        benchmark::ClobberMemory();
    }

    state.SetBytesProcessed (state.iterations() * 10 * numSamples * static_cast<int64_t> (sizeof (float)));
}

} // namespace

BENCHMARK (BM_RoutingBlockCopy)->Arg (32)->Arg (128)->Arg (512)->Arg (4096);
BENCHMARK (BM_TenMemcpyBaseline)->Arg (32)->Arg (128)->Arg (512)->Arg (4096);
