#pragma once

// How the rest of the stand-in puts work on a thread's run loop, for the
// stand-in's own sources only.

#include <CoreFoundation/CFRunLoop.h>

#include <functional>

namespace cf
{

/** Queues the task for the loop's thread, which runs it as one handled source
    inside CFRunLoopRunInMode. Returns false, and drops the task, once the
    loop's thread has ended. Callable from any thread. */
bool PostToRunLoop (CFRunLoopRef loop, std::function<void()> task);

/** Counts a source (a scheduled HID manager) on the loop; a loop with no source
    and no queued task finishes its runs at once. */
void AddRunLoopSource (CFRunLoopRef loop);
void RemoveRunLoopSource (CFRunLoopRef loop);

} // namespace cf
