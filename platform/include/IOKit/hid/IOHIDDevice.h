#pragma once

// A HID device's properties, opening and input reports.

#include <IOKit/hid/IOHIDBase.h>
#include <IOKit/hid/IOHIDKeys.h>

#ifdef __cplusplus
extern "C"
{
#endif

    CFTypeID IOHIDDeviceGetTypeID (void);

    /** The property's CFNumber or CFString, not retained for the caller, or NULL. */
    CFTypeRef IOHIDDeviceGetProperty (IOHIDDeviceRef device, CFStringRef key);

    /** Opens the device for its reports; fails on a device that has been unplugged. */
    IOReturn IOHIDDeviceOpen (IOHIDDeviceRef device, IOOptionBits options);
    IOReturn IOHIDDeviceClose (IOHIDDeviceRef device, IOOptionBits options);

    /** With a callback, input reports are copied into report (at most reportLength bytes) and the
        callback runs on the run loop of a manager that matches the device; with NULL, nothing is
        delivered any more. The caller keeps the buffer alive while it is registered. */
    void IOHIDDeviceRegisterInputReportCallback (IOHIDDeviceRef device, uint8_t* report, CFIndex reportLength,
                                                 IOHIDReportCallback callback, void* context);

#ifdef __cplusplus
}
#endif
