#include "platform/corefoundation/CFObject.h"
#include "platform/corefoundation/RunLoopInternals.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

/** A thread's run loop. Another thread may post to it, wake it or stop it at
    any time; only the owning thread runs it. Run loops live as long as their
    thread (or longer, while a manager still holds one), so they are left out
    of the live-object count like the constant strings. */
struct __CFRunLoop final : cf::Object
{
    __CFRunLoop() : Object (cf::kRunLoopTypeId, cf::Lifetime::Uncounted) {}

    std::mutex mutex;
    std::condition_variable wakeUp;
    std::deque<std::function<void()>> tasks;
    int sources = 0;
    bool stopRequested = false;
    bool threadEnded = false;
};

namespace
{

__CFRunLoop& LoopOf (CFRunLoopRef loop, const char* function)
{
    return cf::Checked<__CFRunLoop> (loop, cf::kRunLoopTypeId, function);
}

/** Owns the thread's loop; when the thread ends, the loop takes no more work. */
class ThreadLoop
{
public:
    ~ThreadLoop()
    {
        if (loop == nullptr)
            return;
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> lock (loop->mutex);
            loop->threadEnded = true;
            dropped.swap (loop->tasks);
        }
        // Dropped tasks may release objects whose destructors take other locks.
        dropped.clear();
        CFRelease (loop);
    }

    __CFRunLoop& Get()
    {
        if (loop == nullptr)
            loop = new __CFRunLoop;
        return *loop;
    }

private:
    __CFRunLoop* loop = nullptr;
};

thread_local ThreadLoop currentLoop;

} // namespace

namespace cf
{

bool PostToRunLoop (CFRunLoopRef loopRef, std::function<void()> task)
{
    __CFRunLoop& loop = LoopOf (loopRef, "PostToRunLoop");
    {
        std::lock_guard<std::mutex> lock (loop.mutex);
        if (!loop.threadEnded)
        {
            loop.tasks.push_back (std::move (task));
            loop.wakeUp.notify_all();
            return true;
        }
    }
    return false; // the task is destroyed here, outside the loop's lock
}

void AddRunLoopSource (CFRunLoopRef loopRef)
{
    __CFRunLoop& loop = LoopOf (loopRef, "AddRunLoopSource");
    std::lock_guard<std::mutex> lock (loop.mutex);
    ++loop.sources;
    loop.wakeUp.notify_all();
}

void RemoveRunLoopSource (CFRunLoopRef loopRef)
{
    __CFRunLoop& loop = LoopOf (loopRef, "RemoveRunLoopSource");
    std::lock_guard<std::mutex> lock (loop.mutex);
    if (loop.sources > 0)
        --loop.sources;
    loop.wakeUp.notify_all();
}

} // namespace cf

extern "C"
{
    const CFRunLoopMode kCFRunLoopDefaultMode = CFSTR ("kCFRunLoopDefaultMode");

    CFTypeID CFRunLoopGetTypeID (void)
    {
        return cf::kRunLoopTypeId;
    }

    CFRunLoopRef CFRunLoopGetCurrent (void)
    {
        return &currentLoop.Get();
    }

    // Modes are not told apart: every source is scheduled in every mode.
    CFRunLoopRunResult CFRunLoopRunInMode (CFRunLoopMode, CFTimeInterval seconds, Boolean returnAfterSourceHandled)
    {
        using Clock = std::chrono::steady_clock;
        __CFRunLoop& loop = currentLoop.Get();

        // Beyond a century counts as for ever; it also keeps the deadline from overflowing.
        const double boundedSeconds = seconds > 3.0e9 ? 3.0e9 : (seconds > 0.0 ? seconds : 0.0);
        const auto deadline =
            Clock::now() + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (boundedSeconds));

        std::unique_lock<std::mutex> lock (loop.mutex);
        for (;;)
        {
            if (loop.stopRequested)
            {
                loop.stopRequested = false;
                return kCFRunLoopRunStopped;
            }
            if (!loop.tasks.empty())
            {
                auto task = std::move (loop.tasks.front());
                loop.tasks.pop_front();
                lock.unlock();
                task();
                task = nullptr; // whatever the task held goes before the lock is taken again
                if (returnAfterSourceHandled)
                    return kCFRunLoopRunHandledSource;
                lock.lock();
                continue;
            }
            if (loop.sources == 0)
                return kCFRunLoopRunFinished;
            if (Clock::now() >= deadline)
                return kCFRunLoopRunTimedOut;
            loop.wakeUp.wait_until (lock, deadline);
        }
    }

    void CFRunLoopWakeUp (CFRunLoopRef loopRef)
    {
        __CFRunLoop& loop = LoopOf (loopRef, "CFRunLoopWakeUp");
        std::lock_guard<std::mutex> lock (loop.mutex);
        loop.wakeUp.notify_all();
    }

    void CFRunLoopStop (CFRunLoopRef loopRef)
    {
        __CFRunLoop& loop = LoopOf (loopRef, "CFRunLoopStop");
        std::lock_guard<std::mutex> lock (loop.mutex);
        loop.stopRequested = true;
        loop.wakeUp.notify_all();
    }

} // extern "C"
