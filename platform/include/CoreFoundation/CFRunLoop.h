#pragma once

// One run loop per thread, made the first time the thread asks for it. A
// thread runs its loop to wait for the work of the sources scheduled on it.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef struct __CFRunLoop* CFRunLoopRef;
    typedef CFStringRef CFRunLoopMode;
    typedef double CFTimeInterval;

#ifdef __cplusplus
    enum CFRunLoopRunResult : SInt32
#else
typedef SInt32 CFRunLoopRunResult;
enum
#endif
    {
        kCFRunLoopRunFinished = 1,      // nothing is scheduled on the loop
        kCFRunLoopRunStopped = 2,       // CFRunLoopStop was called
        kCFRunLoopRunTimedOut = 3,      // the time ran out
        kCFRunLoopRunHandledSource = 4, // a source was handled and the caller asked to return after one
    };

    extern const CFRunLoopMode kCFRunLoopDefaultMode;

    CFTypeID CFRunLoopGetTypeID (void);

    /** The calling thread's run loop, not retained for the caller. */
    CFRunLoopRef CFRunLoopGetCurrent (void);

    /** Runs the calling thread's loop: sleeps until a source has work or the time is up. */
    CFRunLoopRunResult CFRunLoopRunInMode (CFRunLoopMode mode, CFTimeInterval seconds,
                                           Boolean returnAfterSourceHandled);

    /** Makes the loop re-examine its sources; it does not end a run by itself. */
    void CFRunLoopWakeUp (CFRunLoopRef loop);

    /** Ends the loop's current run, or its next one if it is not running, with kCFRunLoopRunStopped. */
    void CFRunLoopStop (CFRunLoopRef loop);

#ifdef __cplusplus
}
#endif
