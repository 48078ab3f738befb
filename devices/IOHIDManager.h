#pragma once

#include <IOKit/hid/IOHIDManager.h>
#include <juce_core/juce_core.h>

/** The program's one IOKit HID manager, matching the maker's vendor ID, and
    the HID thread ("IOHIDManager") whose run loop it is scheduled on; input
    reports of devices opened through it arrive on that thread.

    Built and destroyed on the message thread by HidDevices, which owns it.
    Construction never fails as a call: a manager that could not be created
    shows as a null `manager`, one that could not be opened as a manager with
    no matching and no thread. */
class IOHIDManager : private juce::Thread
{
public:
    IOHIDManager();

    /** Closes the manager, drops one of its two references and stops the
        thread, waiting at most 500 ms. The second reference is never dropped,
        so the manager outlives a run-loop slice still in progress. */
    ~IOHIDManager() override;

    /** The HID manager, or null when it could not be created. Written only
        before the thread starts; read without a lock by both threads. */
    IOHIDManagerRef manager = nullptr;

private:
    void run() override;

    /** Gives the manager a matching dictionary of just the maker's vendor ID. */
    static void MatchMakerDevices (IOHIDManagerRef hidManager);

    JUCE_DECLARE_NON_COPYABLE (IOHIDManager)
};
