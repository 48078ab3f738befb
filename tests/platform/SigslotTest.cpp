#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <sigslot/signal.hpp>

namespace {

struct Listener
{
    void OnValue (int v) { values.push_back (v); }
    std::vector<int> values;
};

TEST (Sigslot, SlotsRunInConnectionOrderAndMemberSlotsReachTheirObject)
{
    sigslot::signal_st<int> signal;
    std::vector<int> order;
    Listener listener;

    signal.connect ([&] (int) { order.push_back (1); });
    signal.connect (&Listener::OnValue, &listener);
    signal.connect ([&] (int) { order.push_back (3); });

    signal (7);
    signal (8);

    EXPECT_EQ (order, (std::vector<int> { 1, 3, 1, 3 }));
    EXPECT_EQ (listener.values, (std::vector<int> { 7, 8 }));
    EXPECT_EQ (signal.slot_count(), 3u);
}

TEST (Sigslot, GroupsRunInAscendingOrder)
{
    sigslot::signal_st<> signal;
    std::vector<int> order;
    signal.connect ([&] { order.push_back (2); }, 5);
    signal.connect ([&] { order.push_back (0); });
    signal.connect ([&] { order.push_back (1); }, 0);
    signal.connect ([&] { order.push_back (-1); }, -3);

    signal();

    EXPECT_EQ (order, (std::vector<int> { -1, 0, 1, 2 }));
}

TEST (Sigslot, DisconnectedAndBlockedSlotsAreNotCalled)
{
    sigslot::signal<int> signal;
    int a = 0, b = 0, c = 0;
    auto first = signal.connect ([&] (int) { ++a; });
    auto second = signal.connect ([&] (int) { ++b; });
    signal.connect ([&] (int) { ++c; });

    EXPECT_TRUE (first.disconnect());
    EXPECT_FALSE (first.disconnect()); // only the call that disconnected says so
    second.block();
    EXPECT_TRUE (second.blocked());
    signal (1);
    EXPECT_EQ (a, 0);
    EXPECT_EQ (b, 0);
    EXPECT_EQ (c, 1);

    second.unblock();
    signal.block();
    signal (2); // a blocked signal calls nothing
    EXPECT_EQ (c, 1);

    signal.unblock();
    signal (3);
    EXPECT_EQ (b, 1);
    EXPECT_EQ (c, 2);

    signal.disconnect_all();
    signal (4);
    EXPECT_EQ (signal.slot_count(), 0u);
    EXPECT_EQ (c, 2);
}

TEST (Sigslot, ASlotDisconnectedEarlierInTheSameEmissionIsSkipped)
{
    sigslot::signal_st<> signal;
    sigslot::connection later;
    int laterCalls = 0;
    signal.connect ([&] { later.disconnect(); });
    later = signal.connect ([&] { ++laterCalls; });

    signal();

    EXPECT_EQ (laterCalls, 0);
}

TEST (Sigslot, ScopedConnectionsDisconnectWhenTheyGoAndWhenReassigned)
{
    sigslot::signal<int> signal;
    int first = 0, second = 0;
    {
        sigslot::scoped_connection scoped = signal.connect ([&] (int) { ++first; });
        signal (1);
        scoped = signal.connect ([&] (int) { ++second; }); // drops the first slot
        signal (2);

        sigslot::scoped_connection moved = std::move (scoped);
        EXPECT_FALSE (scoped.connected());
        EXPECT_TRUE (moved.connected());
    }
    signal (3);

    EXPECT_EQ (first, 1);
    EXPECT_EQ (second, 1);
    EXPECT_EQ (signal.slot_count(), 0u);
}

TEST (Sigslot, DroppingAPlainConnectionKeepsTheSlot)
{
    sigslot::signal<int> signal;
    int calls = 0;
    {
        sigslot::connection dropped = signal.connect ([&] (int) { ++calls; });
    }
    signal (1);
    EXPECT_EQ (calls, 1);
}

TEST (Sigslot, HandlesBecomeInertWhenTheirSignalIsDestroyed)
{
    sigslot::connection plain;
    sigslot::scoped_connection scoped;
    {
        sigslot::signal<int> signal;
        plain = signal.connect ([] (int) {});
        scoped = signal.connect ([] (int) {});
        EXPECT_TRUE (plain.valid());
    }
    EXPECT_FALSE (plain.valid());
    EXPECT_FALSE (plain.connected());
    EXPECT_FALSE (plain.disconnect());
    EXPECT_FALSE (scoped.disconnect());
    // scoped's destructor must not touch the destroyed signal either.
}

TEST (Sigslot, EachSlotGetsItsOwnCopyOfAByValueArgument)
{
    sigslot::signal_st<std::vector<int>> signal;
    std::vector<int> seenBySecond;
    signal.connect ([] (std::vector<int> v) { v.push_back (99); });
    signal.connect ([&] (std::vector<int> v) { seenBySecond = v; });

    signal (std::vector<int> { 1, 2 });

    EXPECT_EQ (seenBySecond, (std::vector<int> { 1, 2 }));
}

TEST (Sigslot, ASlotMayConnectDuringEmissionAndRunsFromTheNextOne)
{
    sigslot::signal<> signal;
    int added = 0;
    bool connectedOnce = false;
    signal.connect ([&] {
        if (! connectedOnce)
        {
            connectedOnce = true;
            signal.connect ([&] { ++added; });
        }
    });

    signal();
    EXPECT_EQ (added, 0);
    signal();
    EXPECT_EQ (added, 1);
}

TEST (Sigslot, ConnectingOnOneThreadWhileEmittingOnAnother)
{
    sigslot::signal_base<std::recursive_mutex, int> signal;
    std::atomic<int> calls { 0 };
    std::atomic<bool> stop { false };

    std::thread emitter ([&] {
        while (! stop)
            signal (1);
    });

    std::vector<sigslot::connection> handles;
    for (int i = 0; i < 200; ++i)
        handles.push_back (signal.connect ([&] (int v) { calls += v; }));
    for (int i = 0; i < 200; i += 2)
        handles[(size_t) i].disconnect();

    stop = true;
    emitter.join();

    EXPECT_EQ (signal.slot_count(), 100u);
    const int before = calls.load();
    signal (1);
    EXPECT_EQ (calls.load() - before, 100);
}

} // namespace
