#include "devices/IOHIDManager.h"

#include "devices/CFRef.h"
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
    const auto matching = CFRef<CFMutableDictionaryRef>::Adopt (CFDictionaryCreateMutable (
        kCFAllocatorDefault, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    const SInt32 vendorId = kMakerVendorId;
    auto vendorNumber = CFRef<CFNumberRef>::Adopt (CFNumberCreate (kCFAllocatorDefault, kCFNumberIntType, &vendorId));

    // A null or empty dictionary would match every HID device on the system.
    // Without the vendor entry the manager is left unmatched: it finds nothing.
    if (!matching || !vendorNumber)
        return;

    CFDictionarySetValue (matching.Get(), CFSTR (kIOHIDVendorIDKey), vendorNumber.Get());
    vendorNumber.Reset();

    IOHIDManagerSetDeviceMatching (hidManager, matching.Get());
}

void IOHIDManager::run()
{
    IOHIDManagerScheduleWithRunLoop (manager, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);

    while (!threadShouldExit())
        CFRunLoopRunInMode (kCFRunLoopDefaultMode, kRunLoopSliceSeconds, true);
}
