#pragma once

// The HID manager: finds the HID devices that match a dictionary of properties.

#include <IOKit/hid/IOHIDBase.h>
#include <IOKit/hid/IOHIDDevice.h>
#include <IOKit/hid/IOHIDKeys.h>

#ifdef __cplusplus
extern "C"
{
#endif

    enum
    {
        kIOHIDManagerOptionNone = 0x0
    };
    typedef UInt32 IOHIDManagerOptions;

    CFTypeID IOHIDManagerGetTypeID (void);

    /** A new manager owned by the caller, or NULL. It matches nothing until a matching is set. */
    IOHIDManagerRef IOHIDManagerCreate (CFAllocatorRef allocator, IOOptionBits options);

    IOReturn IOHIDManagerOpen (IOHIDManagerRef manager, IOOptionBits options);
    IOReturn IOHIDManagerClose (IOHIDManagerRef manager, IOOptionBits options);

    /** Copies the dictionary's entries; a device matches when each entry equals its property.
        NULL matches every device. */
    void IOHIDManagerSetDeviceMatching (IOHIDManagerRef manager, CFDictionaryRef matching);

    void IOHIDManagerScheduleWithRunLoop (IOHIDManagerRef manager, CFRunLoopRef runLoop, CFStringRef runLoopMode);

    /** A new set of the present devices that match, owned by the caller; NULL when none match or the
        manager is not open. */
    CFSetRef IOHIDManagerCopyDevices (IOHIDManagerRef manager);

#ifdef __cplusplus
}
#endif
