#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include <juce_core/juce_core.h>

#include "engine/DeviceStatus.h"

TEST (ObservableProperty, AnnouncesOnlyRealChangesBeforeAndAfterStoringThemOneSetterAtATime)
{
    ObservableProperty<juce::String> name { "abc" };
    std::vector<juce::String> log;
    name.AboutToChange.connect ([&] (juce::String next) { log.push_back (next + " over " + name.value); });
    name.Changed.connect ([&] (juce::String now) { log.push_back (now + " stored " + name.value); });
    name.Set (juce::String ("ab") + "c"); // another object, same text
    name.Set ("ABC");
    EXPECT_EQ (log, (std::vector<juce::String> { "ABC over abc", "ABC stored ABC" }));

    DeviceStatus status;
    for (auto* count : { &status.numInputChannels, &status.numOutputChannels, &status.bufferSize, &status.inputLatency,
                         &status.outputLatency })
        EXPECT_EQ (count->value, 0u);
    std::vector<double> rates;
    status.sampleRate.Changed.connect ([&] (double rate) { rates.push_back (rate); });
    for (double rate : { 0.0, 48000.0, std::nan (""), std::nan ("") }) // NaN equals nothing, not even NaN
        status.sampleRate.Set (rate);
    ASSERT_EQ (rates.size(), 3u);
    EXPECT_TRUE (rates[0] == 48000.0 && std::isnan (rates[2]) && std::isnan (status.sampleRate.value));

    // A slot may set the property again on its own thread while another thread waits.
    ObservableProperty<int> level { 0 };
    std::atomic<bool> firstEntered { false }, releaseFirst { false };
    std::vector<int> order; // written only with the property's lock held
    level.Changed.connect (
        [&] (int v)
        {
            while (v == 1 && !releaseFirst) // holds the first change open
                firstEntered = true;
            order.push_back (v);
            if (v == 2)
                level.Set (3); // re-enters the recursive lock
        });
    std::thread first ([&] { level.Set (1); });
    while (!firstEntered)
        std::this_thread::yield();
    std::thread second ([&] { level.Set (2); });
    std::this_thread::sleep_for (std::chrono::milliseconds (50)); // a chance to barge into the first change
    releaseFirst = true;
    first.join();
    second.join();
    EXPECT_EQ (order, (std::vector<int> { 1, 2, 3 }));
}
