#include <gtest/gtest.h>

#include <mutex>
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
template <typename Lockable>
void SlotsRunInConnectionOrderUntilDisconnected()
{
    std::vector<int> calls;
    Listener a { 1, &calls }, b { 2, &calls };
    sigslot::signal_base<Lockable, int> signal;
    signal.connect (&Listener::OnValue, &a);
    auto second = signal.connect (&Listener::OnValue, &b);
    signal.connect ([&] (int v) { calls.push_back (300 + v); }); // handle dropped: stays connected
    signal (7);
    EXPECT_TRUE (second.disconnect());
    signal (8);
    {
        sigslot::scoped_connection scoped = signal.connect ([&] (int v) { calls.push_back (400 + v); });
        scoped = signal.connect ([&] (int v) { calls.push_back (500 + v); }); // drops the slot it held
        signal (9);
    }
    signal (10);
    EXPECT_EQ (calls, (std::vector<int> { 107, 207, 307, 108, 308, 109, 309, 509, 110, 310 }));
}

TEST (Sigslot, SlotsRunInConnectionOrderUntilDisconnectedOrTheirScopedConnectionGoes)
{
    SlotsRunInConnectionOrderUntilDisconnected<sigslot::detail::null_mutex>();
    SlotsRunInConnectionOrderUntilDisconnected<std::recursive_mutex>();
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

} // namespace
