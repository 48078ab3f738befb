// How much CPU the whole program uses while it idles in its message loop:
// Watching (the virtual driver present, no mixer) or Routing (a mixer plugged
// in, its aggregate open and routed on the audio device's own thread).
//
//     quor_idle_cpu [watching|routing] [seconds]
//
// Prints the process's user plus system CPU time over the run as a percentage
// of one core. One mode per run: JUCE's message loop runs once per process.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <juce_events/juce_events.h>

#include "bench/ProgramHarness.h"

namespace
{

double CpuSeconds()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    const auto seconds = [] (const timeval& t) { return (double) t.tv_sec + (double) t.tv_usec / 1e6; };
    return seconds (usage.ru_utime) + seconds (usage.ru_stime);
}

/** Ends the message loop the way "Quit" does, once the time is up. */
class QuitTimer : public juce::Timer
{
public:
    explicit QuitTimer (juce::JUCEApplication& app) : application (app) {}

    void timerCallback() override
    {
        stopTimer();
        application.systemRequestedQuit();
    }

private:
    juce::JUCEApplication& application;
};

} // namespace

int main (int argc, char** argv)
{
    const bool routing = argc > 1 && std::strcmp (argv[1], "routing") == 0;
    const double seconds = argc > 2 ? std::atof (argv[2]) : 10.0;

    if (argc > 1 && !routing && std::strcmp (argv[1], "watching") != 0)
    {
        std::fprintf (stderr, "usage: %s [watching|routing] [seconds]\n", argv[0]);
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    bench::ProgramHarness program;
    sim::Mixer mixer;

    if (routing)
    {
        sim::MixerSpec spec;
        spec.audioDelayMs = 0;
        mixer = sim::PlugMixer (spec);
    }

    program.Start();

    // Let start-up settle: a few scans, and for Routing until the device runs blocks.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (1000);

    if (routing && !bench::ProgramHarness::PumpUntil (
                       [] { return !sim::ExistingAggregates().empty() && sim::AudioBlocksRun() > 100; }, 20000.0))
    {
        std::fprintf (stderr, "the mixer was never routed\n");
        return 1;
    }

    QuitTimer quit (program.Application());
    const auto blocksBefore = sim::AudioBlocksRun();
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();

    // The program's own loop, as JUCE's application start-up runs it.
    quit.startTimer (static_cast<int> (seconds * 1000.0));
    juce::MessageManager::getInstance()->runDispatchLoop();

    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double> (std::chrono::steady_clock::now() - wallBefore).count();
    const auto blocks = sim::AudioBlocksRun() - blocksBefore;
    const bool stillRouting = !sim::ExistingAggregates().empty();

    program.Stop();

    std::printf ("idle CPU, %s: %.3f %% of one core (%.3f s CPU over %.2f s; %lld audio blocks%s)\n",
                 routing ? "Routing" : "Watching", 100.0 * cpu / wall, cpu, wall, (long long) blocks,
                 routing ? (stillRouting ? ", aggregate open" : ", aggregate LOST") : "");
    return routing && !stillRouting ? 1 : 0;
}
