#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <sigslot/signal.hpp>

namespace
{

struct Listener
{
    void OnValue (int v) { calls->push_back (id * 100 + v); }
    int id;
    std::vector<int>* calls;
};

// Both lock policies the program uses: HID detection is single-threaded, properties lock.
template <typename Signal>
void MemberSlotsRunInOrderUntilDisconnected()
{
    std::vector<int> calls;
    Listener a { 1, &calls }, b { 2, &calls };
    Signal signal;
    signal.connect (&Listener::OnValue, &a);
    auto second = signal.connect (&Listener::OnValue, &b);
    signal.connect ([&] (int v) { calls.push_back (300 + v); }); // handle dropped: stays connected
    signal (7);
    EXPECT_TRUE (second.disconnect());
    EXPECT_FALSE (second.disconnect()); // only the call that disconnected says so
    signal (8);
    EXPECT_EQ (calls, (std::vector<int> { 107, 207, 307, 108, 308 }));
}

TEST (Sigslot, MemberSlotsRunInConnectionOrderUntilDisconnected)
{
    MemberSlotsRunInOrderUntilDisconnected<sigslot::signal_st<int>>();
    MemberSlotsRunInOrderUntilDisconnected<sigslot::signal_base<std::recursive_mutex, int>>();
}

TEST (Sigslot, ScopedConnectionsDisconnectWhenReplacedOrGoneAndOutliveTheirSignal)
{
    auto signal = std::make_unique<sigslot::signal_base<sigslot::detail::null_mutex, int>>();
    int first = 0, second = 0;
    {
        sigslot::scoped_connection scoped = signal->connect ([&] (int) { ++first; });
        scoped = signal->connect ([&] (int) { ++second; }); // the engine's re-connection: drops the first slot
        (*signal) (1);
    }
    (*signal) (2);
    EXPECT_EQ (std::make_pair (first, second), std::make_pair (0, 1));
    sigslot::scoped_connection held = signal->connect ([] (int) {});
    sigslot::connection plain = held;
    signal.reset(); // held's destructor must not touch the destroyed signal
    EXPECT_FALSE (plain.valid());
}

TEST (Sigslot, SlotsMayDisconnectConnectAndEmitAgainDuringAnEmission)
{
    sigslot::signal_base<std::recursive_mutex, int> signal;
    std::vector<int> calls;
    sigslot::connection self, later;
    self = signal.connect (
        [&] (int v)
        {
            calls.push_back (v);
            self.disconnect();
            later.disconnect();                                          // later in this very emission: skipped
            signal.connect ([&] (int w) { calls.push_back (100 + w); }); // runs from the next emission
            signal (v + 1);                                              // re-entry on the same thread
        });
    later = signal.connect ([&] (int v) { calls.push_back (-v); });
    signal (1);
    signal (5);
    EXPECT_EQ (calls, (std::vector<int> { 1, 102, 105 }));
}

TEST (Sigslot, ConnectingAndDisconnectingOnTwoThreadsWhileEmittingOnAThird)
{
    sigslot::signal_base<std::recursive_mutex, int> signal;
    std::atomic<int> calls { 0 }, stop { 0 };
    std::thread emitter (
        [&]
        {
            while (!stop)
                signal (1);
        });
    const auto churn = [&]
    {
        std::vector<sigslot::connection> handles;
        for (int i = 0; i < 400; ++i)
            handles.push_back (signal.connect ([&] (int v) { calls += v; }));
        for (size_t i = 0; i < handles.size(); i += 2)
            handles[i].disconnect();
    };
    std::thread other (churn);
    churn();
    other.join();
    stop = 1;
    emitter.join();
    const int before = calls.load();
    signal (1);
    EXPECT_EQ (calls.load() - before, 400);
}

} // namespace
