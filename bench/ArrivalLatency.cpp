// How long it takes from a mixer's HID interface appearing to the first routed
// block reaching the mixer's outputs, with the program's own 250 ms scan timer
// and the audio device's real-time thread.
//
//     quor_arrival_latency [repetitions] [audioDelayMs]
//
// The mixer's USB audio device shows audioDelayMs after its HID interface, as
// a real one takes a while to enumerate. The goal is one scan period plus
// that delay. A watcher thread polls the mixer's first output every 0.2 ms,
// so each figure is late by at most that much.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <juce_events/juce_events.h>

#include "bench/ProgramHarness.h"

namespace
{

using Clock = std::chrono::steady_clock;

constexpr float kProbe = 0.5f;

/** Watches one output channel of a device from its own thread and notes when
    the first non-silent sample shows up. */
class OutputWatcher
{
public:
    explicit OutputWatcher (AudioObjectID device)
        : thread (
              [this, device]
              {
                  while (!stop.load())
                  {
                      const auto samples = sim::TakeOutput (device, 0);

                      if (std::find (samples.begin(), samples.end(), kProbe) != samples.end())
                      {
                          seenAt = Clock::now();
                          seen.store (true);
                          return;
                      }

                      std::this_thread::sleep_for (std::chrono::microseconds (200));
                  }
              })
    {
    }

    ~OutputWatcher()
    {
        stop.store (true);
        thread.join();
    }

    bool Seen() const { return seen.load(); }
    Clock::time_point SeenAt() const { return seenAt; }

private:
    std::atomic<bool> stop { false };
    std::atomic<bool> seen { false };
    Clock::time_point seenAt;
    std::thread thread;
};

double Median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    const auto n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main (int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::max (1, std::atoi (argv[1])) : 20;
    const int audioDelayMs = argc > 2 ? std::max (0, std::atoi (argv[2])) : 200;

    const juce::ScopedJuceInitialiser_GUI juce;
    bench::ProgramHarness program;
    program.Start();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (500);

    std::mt19937 random (12345);
    std::vector<double> latencies;

    for (int i = 0; i < repetitions; ++i)
    {
        // Whatever the virtual device carries when routing starts reaches mixer output 0.
        sim::FeedInput (program.virtualIds[0], 0, std::vector<float> (48000, kProbe));

        sim::MixerSpec spec;
        spec.serialNumber = "QV" + std::to_string (2400000 + i);
        spec.audioDelayMs = audioDelayMs;

        const auto pluggedAt = Clock::now();
        const auto mixer = sim::PlugMixer (spec);
        OutputWatcher watcher (mixer.audio);

        if (!bench::ProgramHarness::PumpUntil ([&watcher] { return watcher.Seen(); }, 15000.0))
        {
            std::fprintf (stderr, "plug-in %d: no routed block within 15 s\n", i + 1);
            return 1;
        }

        const double ms = std::chrono::duration<double, std::milli> (watcher.SeenAt() - pluggedAt).count();
        latencies.push_back (ms);
        std::printf ("plug-in %2d: %7.1f ms\n", i + 1, ms);

        sim::UnplugMixer (mixer);
        if (!bench::ProgramHarness::PumpUntil ([] { return sim::ExistingAggregates().empty(); }, 15000.0))
        {
            std::fprintf (stderr, "plug-in %d: the aggregate was not torn down\n", i + 1);
            return 1;
        }

        // The next plug-in lands at another point of the scan period.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (
            std::uniform_int_distribution<int> (0, 250) (random));
    }

    program.Stop();

    const double worst = *std::max_element (latencies.begin(), latencies.end());
    const double best = *std::min_element (latencies.begin(), latencies.end());
    std::printf ("arrival to first routed block, audio device after %d ms, %d plug-ins: median %.1f ms, min %.1f ms, "
                 "max %.1f ms (goal: under %d ms)\n",
                 audioDelayMs, repetitions, Median (latencies), best, worst, 250 + audioDelayMs);
    return 0;
}
