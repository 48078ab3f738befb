#include "devices/IOHIDManager.h"

#include "devices/HidDeviceRegistry.h"
#include "devices/SupportedDevices.h"

#include <CoreFoundation/CoreFoundation.h>

namespace
{

constexpr CFTimeInterval kRunLoopSliceSeconds = 0.01;
constexpr int kStopTimeoutMs = 500;

} // namespace

IOHIDManager::IOHIDManager() : juce::Thread ("IOHIDManager")
{
    // No handle exists yet and the thread has not started, so no callback can see the table half reset.
    HidDeviceRegistry::ResetIdTable();

    manager = IOHIDManagerCreate (kCFAllocatorDefault, kIOHIDOptionsTypeNone);

    if (manager == nullptr)
        return;

    // A second reference, never dropped: the destructor releases one while
    // the HID thread may still be inside a run-loop slice with the manager.
    CFRetain (manager);

    if (IOHIDManagerOpen (manager, kIOHIDOptionsTypeNone) != kIOReturnSuccess)
        return;

    MatchMakerDevices (manager);

    startThread (juce::Thread::Priority::normal);
}

IOHIDManager::~IOHIDManager()
{
    if (manager != nullptr)
    {
        IOHIDManagerClose (manager, kIOHIDOptionsTypeNone);
        CFRelease (manager);
    }

    stopThread (kStopTimeoutMs);
}

void IOHIDManager::MatchMakerDevices (IOHIDManagerRef hidManager)
{
    CFMutableDictionaryRef matching = CFDictionaryCreateMutable (kCFAllocatorDefault, 2, &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks);
    const SInt32 vendorId = kMakerVendorId;
    CFNumberRef vendorNumber = CFNumberCreate (kCFAllocatorDefault, kCFNumberIntType, &vendorId);

    const bool complete = matching != nullptr && vendorNumber != nullptr;

    if (complete)
        CFDictionarySetValue (matching, CFSTR (kIOHIDVendorIDKey), vendorNumber);

    if (vendorNumber != nullptr)
        CFRelease (vendorNumber);

    // A null or empty dictionary would match every HID device on the system.
    // Without the vendor entry the manager is left unmatched: it finds nothing.
    if (complete)
        IOHIDManagerSetDeviceMatching (hidManager, matching);

    if (matching != nullptr)
        CFRelease (matching);
}

void IOHIDManager::run()
{
    IOHIDManagerScheduleWithRunLoop (manager, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);

    while (!threadShouldExit())
        CFRunLoopRunInMode (kCFRunLoopDefaultMode, kRunLoopSliceSeconds, true);
}
