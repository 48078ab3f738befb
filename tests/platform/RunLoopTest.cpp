#include "platform/corefoundation/RunLoopInternals.h"

#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <time.h>

namespace
{

using namespace std::chrono_literals;

/** CPU time the calling thread has used so far. */
std::chrono::nanoseconds ThreadCpuTime()
{
    timespec now {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds (now.tv_sec) + std::chrono::nanoseconds (now.tv_nsec);
}

/** Runs body on a thread with a source on its run loop, so that runs wait instead of finishing. */
class LoopThread
{
public:
    explicit LoopThread (std::function<void (CFRunLoopRef)> body)
    {
        std::promise<CFRunLoopRef> started;
        thread = std::thread (
            [&started, body]
            {
                CFRunLoopRef current = CFRunLoopGetCurrent();
                cf::AddRunLoopSource (current);
                started.set_value (current);
                body (current);
                cf::RemoveRunLoopSource (current);
            });
        loop = started.get_future().get();
    }

    ~LoopThread() { thread.join(); }

    CFRunLoopRef loop = nullptr;

private:
    std::thread thread;
};

} // namespace

TEST (RunLoop, IsOnePerThreadAndFinishesAtOnceWithNothingScheduled)
{
    CFRunLoopRef mine = CFRunLoopGetCurrent();
    EXPECT_EQ (mine, CFRunLoopGetCurrent());
    auto other = std::async (std::launch::async,
                             []
                             {
                                 const auto result = CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true);
                                 return std::make_pair (CFRunLoopGetCurrent(), result);
                             });
    ASSERT_EQ (other.wait_for (30s), std::future_status::ready) << "an empty loop waited instead of finishing";
    const auto [otherLoop, result] = other.get();
    EXPECT_NE (otherLoop, mine);
    EXPECT_EQ (result, kCFRunLoopRunFinished);
}

TEST (RunLoop, SleepsUntilItTimesOutOrAPostedTaskWakesItOnItsThread)
{
    std::promise<CFRunLoopRunResult> timedOut, woken;
    std::chrono::nanoseconds elapsed {}, cpu {};
    std::thread::id loopThreadId, taskThreadId;
    {
        LoopThread thread (
            [&] (CFRunLoopRef)
            {
                loopThreadId = std::this_thread::get_id();
                const auto startWall = std::chrono::steady_clock::now();
                const auto startCpu = ThreadCpuTime();
                timedOut.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.3, true));
                cpu = ThreadCpuTime() - startCpu;
                elapsed = std::chrono::steady_clock::now() - startWall;
                woken.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true));
            });
        EXPECT_EQ (timedOut.get_future().get(), kCFRunLoopRunTimedOut);
        std::this_thread::sleep_for (50ms); // let the loop go to sleep again
        EXPECT_TRUE (cf::PostToRunLoop (thread.loop, [&] { taskThreadId = std::this_thread::get_id(); }));
        auto future = woken.get_future();
        ASSERT_EQ (future.wait_for (30s), std::future_status::ready);
        EXPECT_EQ (future.get(), kCFRunLoopRunHandledSource);
    }
    EXPECT_GE (elapsed, 300ms);
    // A loop that polls instead of sleeping burns about as much CPU as wall-clock time.
    EXPECT_LT (cpu, elapsed / 4);
    EXPECT_EQ (taskThreadId, loopThreadId);
}

TEST (RunLoop, HandlesEveryQueuedTaskWhenNotAskedToReturnAfterOne)
{
    std::atomic<int> handled { 0 };
    std::promise<CFRunLoopRunResult> result;
    LoopThread thread (
        [&] (CFRunLoopRef loop)
        {
            for (int i = 0; i < 3; ++i)
                cf::PostToRunLoop (loop, [&handled] { ++handled; });
            result.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.05, false));
        });
    EXPECT_EQ (result.get_future().get(), kCFRunLoopRunTimedOut);
    EXPECT_EQ (handled.load(), 3);
}

TEST (RunLoop, StopEndsTheCurrentOrNextRunButAWakeUpDoesNot)
{
    std::promise<CFRunLoopRunResult> woken, stopped;
    LoopThread thread (
        [&] (CFRunLoopRef)
        {
            woken.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.3, true));
            stopped.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true));
        });
    std::this_thread::sleep_for (50ms);
    CFRunLoopWakeUp (thread.loop);
    EXPECT_EQ (woken.get_future().get(), kCFRunLoopRunTimedOut);
    std::this_thread::sleep_for (50ms);
    CFRunLoopStop (thread.loop);
    auto future = stopped.get_future();
    ASSERT_EQ (future.wait_for (30s), std::future_status::ready);
    EXPECT_EQ (future.get(), kCFRunLoopRunStopped);

    cf::AddRunLoopSource (CFRunLoopGetCurrent());
    CFRunLoopStop (CFRunLoopGetCurrent());
    EXPECT_EQ (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true), kCFRunLoopRunStopped);
    EXPECT_EQ (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut);
    cf::RemoveRunLoopSource (CFRunLoopGetCurrent());
}

TEST (RunLoop, RefusesTasksOnceItsThreadHasEnded)
{
    CFRunLoopRef loop = nullptr;
    std::thread ([&loop] { loop = (CFRunLoopRef) CFRetain (CFRunLoopGetCurrent()); }).join();
    bool ran = false;
    EXPECT_FALSE (cf::PostToRunLoop (loop, [&ran] { ran = true; }));
    EXPECT_FALSE (ran);
    CFRelease (loop);
}
