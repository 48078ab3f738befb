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
using Clock = std::chrono::steady_clock;

/** CPU time the calling thread has used so far. */
std::chrono::nanoseconds ThreadCpuTime()
{
    timespec now {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds (now.tv_sec) + std::chrono::nanoseconds (now.tv_nsec);
}

/** A thread with a source on its run loop, so that runs wait instead of finishing. */
class LoopThread
{
public:
    explicit LoopThread (std::function<void (CFRunLoopRef)> body_) : body (std::move (body_))
    {
        thread = std::thread (
            [this]
            {
                CFRunLoopRef loop = CFRunLoopGetCurrent();
                cf::AddRunLoopSource (loop);
                loopPromise.set_value (loop);
                body (loop);
                cf::RemoveRunLoopSource (loop);
            });
        loop = loopPromise.get_future().get();
    }

    ~LoopThread() { thread.join(); }

    CFRunLoopRef loop = nullptr;

private:
    std::function<void (CFRunLoopRef)> body;
    std::promise<CFRunLoopRef> loopPromise;
    std::thread thread;
};

} // namespace

TEST (RunLoop, FinishesAtOnceWithNothingScheduled)
{
    auto result =
        std::async (std::launch::async, [] { return CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true); });
    ASSERT_EQ (result.wait_for (30s), std::future_status::ready) << "an empty loop waited instead of finishing";
    EXPECT_EQ (result.get(), kCFRunLoopRunFinished);
}

TEST (RunLoop, IsOnePerThread)
{
    CFRunLoopRef mine = CFRunLoopGetCurrent();
    EXPECT_EQ (mine, CFRunLoopGetCurrent());
    EXPECT_EQ (CFGetTypeID (mine), CFRunLoopGetTypeID());
    CFRunLoopRef other = nullptr;
    std::thread ([&other] { other = CFRunLoopGetCurrent(); }).join();
    EXPECT_NE (other, mine);
}

TEST (RunLoop, TimesOutAsleepWhenNoSourceFires)
{
    std::promise<CFRunLoopRunResult> result;
    std::chrono::nanoseconds elapsed {}, cpu {};
    {
        LoopThread thread (
            [&] (CFRunLoopRef)
            {
                const auto startWall = Clock::now();
                const auto startCpu = ThreadCpuTime();
                result.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.3, true));
                cpu = ThreadCpuTime() - startCpu;
                elapsed = Clock::now() - startWall;
            });
    }
    EXPECT_EQ (result.get_future().get(), kCFRunLoopRunTimedOut);
    EXPECT_GE (elapsed, 300ms);
    // A loop that polls instead of sleeping burns about as much CPU as wall-clock time.
    EXPECT_LT (cpu, elapsed / 4);
}

TEST (RunLoop, APostedTaskWakesTheLoopAndRunsOnItsThread)
{
    std::promise<CFRunLoopRunResult> result;
    std::thread::id loopThreadId, taskThreadId;
    std::atomic<bool> ran { false };
    {
        LoopThread thread (
            [&] (CFRunLoopRef)
            {
                loopThreadId = std::this_thread::get_id();
                result.set_value (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true));
            });
        std::this_thread::sleep_for (50ms); // let the loop go to sleep first
        EXPECT_TRUE (cf::PostToRunLoop (thread.loop,
                                        [&]
                                        {
                                            taskThreadId = std::this_thread::get_id();
                                            ran = true;
                                        }));
        auto future = result.get_future();
        ASSERT_EQ (future.wait_for (30s), std::future_status::ready);
        EXPECT_EQ (future.get(), kCFRunLoopRunHandledSource);
    }
    EXPECT_TRUE (ran);
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

TEST (RunLoop, StopEndsARunButAWakeUpDoesNot)
{
    std::promise<CFRunLoopRunResult> woken, stopped;
    std::promise<void> wokenDone;
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
}

TEST (RunLoop, AStopBeforeTheRunEndsTheNextRunOnly)
{
    cf::AddRunLoopSource (CFRunLoopGetCurrent());
    CFRunLoopStop (CFRunLoopGetCurrent());
    EXPECT_EQ (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 1.0e6, true), kCFRunLoopRunStopped);
    EXPECT_EQ (CFRunLoopRunInMode (kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut);
    cf::RemoveRunLoopSource (CFRunLoopGetCurrent());
}

TEST (RunLoop, RefusesTasksOnceItsThreadHasEnded)
{
    CFRunLoopRef loop = nullptr;
    std::thread ([&loop] { loop = static_cast<CFRunLoopRef> (const_cast<void*> (CFRetain (CFRunLoopGetCurrent()))); })
        .join();
    bool ran = false;
    EXPECT_FALSE (cf::PostToRunLoop (loop, [&ran] { ran = true; }));
    EXPECT_FALSE (ran);
    CFRelease (loop);
}
