#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include <juce_core/juce_core.h>

#include "engine/DeviceStatus.h"
#include "engine/ObservableProperty.h"

namespace {

/** Records every announcement of a property, in order, tagged with its source. */
template <typename T, typename Lockable>
struct Recorder
{
    explicit Recorder (ObservableProperty<T, Lockable>& property)
    {
        property.AboutToChange.connect ([this, &property] (T next) {
            events.push_back ("about:" + juce::String (juce::var (next).toString()));
            storedDuringAboutToChange.push_back (property.value);
        });
        property.Changed.connect ([this] (T next) { events.push_back ("changed:" + juce::var (next).toString()); });
    }

    std::vector<juce::String> events;
    std::vector<T> storedDuringAboutToChange;
};

TEST (ObservableProperty, AnnouncesBeforeAndAfterStoringAChangedValue)
{
    ObservableProperty<juce::String> name { "" };
    Recorder<juce::String, std::recursive_mutex> recorder (name);

    name.Set ("Tavrolux Velmar (A1)");

    EXPECT_EQ (name.value, "Tavrolux Velmar (A1)");
    EXPECT_EQ (recorder.events, (std::vector<juce::String> { "about:Tavrolux Velmar (A1)", "changed:Tavrolux Velmar (A1)" }));
    // AboutToChange runs while the old value is still stored.
    EXPECT_EQ (recorder.storedDuringAboutToChange, std::vector<juce::String> { "" });
}

TEST (ObservableProperty, EqualValuesAreNeitherStoredNorAnnounced)
{
    ObservableProperty<juce::String> name { "abc" };
    Recorder<juce::String, std::recursive_mutex> recorder (name);

    name.Set (juce::String ("ab") + "c"); // another object, same text
    EXPECT_TRUE (recorder.events.empty());

    name.Set ("ABC"); // case counts
    EXPECT_EQ (recorder.events.size(), 2u);

    ObservableProperty<double, sigslot::detail::null_mutex> zero { 0.0 };
    Recorder<double, sigslot::detail::null_mutex> zeroRecorder (zero);
    zero.Set (-0.0);
    EXPECT_TRUE (zeroRecorder.events.empty());
    EXPECT_FALSE (std::signbit (zero.value));
}

TEST (ObservableProperty, NaNIsStoredAndAnnouncedEveryTime)
{
    DeviceStatus status;
    int changes = 0;
    status.sampleRate.Changed.connect ([&] (double) { ++changes; });

    status.sampleRate.Set (std::numeric_limits<double>::quiet_NaN());
    status.sampleRate.Set (std::numeric_limits<double>::quiet_NaN());

    EXPECT_EQ (changes, 2);
    EXPECT_TRUE (std::isnan (status.sampleRate.value));
}

TEST (ObservableProperty, SlotsRunInConnectionOrderWithTheStoredValue)
{
    ObservableProperty<bool> enabled { true };
    std::vector<std::pair<int, bool>> calls;
    enabled.Changed.connect ([&] (bool v) { calls.emplace_back (1, v); });
    enabled.Changed.connect ([&] (bool v) { calls.emplace_back (2, v); });
    enabled.Changed.connect ([&] (bool v) { calls.emplace_back (3, v); });

    enabled.Set (false);

    EXPECT_EQ (calls, (std::vector<std::pair<int, bool>> { { 1, false }, { 2, false }, { 3, false } }));
}

TEST (ObservableProperty, ASlotMaySetTheSamePropertyAgainOnItsOwnThread)
{
    ObservableProperty<int> level { 0 };
    std::vector<int> seen;
    level.Changed.connect ([&] (int v) {
        seen.push_back (v);
        if (v < 3)
            level.Set (v + 1); // re-enters the recursive lock
    });

    level.Set (1);

    EXPECT_EQ (seen, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ (level.value, 3);
}

TEST (ObservableProperty, ASetFromAnotherThreadWaitsForTheChangeInProgress)
{
    ObservableProperty<int> level { 0 };
    std::atomic<bool> firstSlotEntered { false };
    std::atomic<bool> releaseFirstSlot { false };
    std::vector<int> order; // written only under the property's lock

    level.Changed.connect ([&] (int v) {
        order.push_back (v);
        if (v == 1)
        {
            firstSlotEntered = true;
            while (! releaseFirstSlot)
                std::this_thread::yield();
            order.push_back (-1); // the end of the first change
        }
    });

    std::thread first ([&] { level.Set (1); });
    while (! firstSlotEntered)
        std::this_thread::yield();

    std::atomic<bool> secondDone { false };
    std::thread second ([&] {
        level.Set (2);
        secondDone = true;
    });

    // The second Set cannot finish while the first holds the lock; give it
    // every chance to barge in before letting the first one go.
    std::this_thread::sleep_for (std::chrono::milliseconds (50));
    EXPECT_FALSE (secondDone.load());
    releaseFirstSlot = true;

    first.join();
    second.join();
    EXPECT_EQ (order, (std::vector<int> { 1, -1, 2 }));
    EXPECT_EQ (level.value, 2);
}

TEST (DeviceStatus, StartsAtZeroAndFeedsItsBufferSizeToListeners)
{
    DeviceStatus status;
    EXPECT_EQ (status.sampleRate.value, 0.0);
    EXPECT_EQ (status.numInputChannels.value, 0u);
    EXPECT_EQ (status.numOutputChannels.value, 0u);
    EXPECT_EQ (status.bufferSize.value, 0u);
    EXPECT_EQ (status.inputLatency.value, 0u);
    EXPECT_EQ (status.outputLatency.value, 0u);

    std::vector<std::uint64_t> sizes;
    status.bufferSize.Changed.connect ([&] (std::uint64_t n) { sizes.push_back (n); });
    status.bufferSize.Set (128);
    status.bufferSize.Set (128);
    status.bufferSize.Set (64);
    EXPECT_EQ (sizes, (std::vector<std::uint64_t> { 128, 64 }));
}

TEST (ObservableProperty, DestroyingItLeavesHeldConnectionsInert)
{
    sigslot::connection handle;
    {
        ObservableProperty<bool> enabled { true };
        handle = enabled.Changed.connect ([] (bool) {});
        EXPECT_TRUE (handle.connected());
    }
    EXPECT_FALSE (handle.valid());
    EXPECT_FALSE (handle.connected());
    EXPECT_FALSE (handle.disconnect());
}

} // namespace
