#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

// JUCE is initialised for the whole run, as in the program, so that timers,
// threads and the message manager behave as they do there.
int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
