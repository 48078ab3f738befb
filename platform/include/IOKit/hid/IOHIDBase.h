#pragma once

// Types shared by the HID manager and HID device interfaces.

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOReturn.h>
#include <IOKit/IOTypes.h>

#ifdef __cplusplus
extern "C"
{
#endif

    /** A HID manager: it matches devices and delivers their callbacks on the run loop it is scheduled on. */
    typedef struct __IOHIDManager* IOHIDManagerRef;

    /** One HID interface of a USB device; a CoreFoundation object. */
    typedef struct __IOHIDDevice* IOHIDDeviceRef;

    typedef enum IOHIDReportType
    {
        kIOHIDReportTypeInput = 0,
        kIOHIDReportTypeOutput,
        kIOHIDReportTypeFeature,
        kIOHIDReportTypeCount
    } IOHIDReportType;

    /** Called on the manager's run loop with a report copied into the registered buffer;
        sender is the IOHIDDeviceRef. */
    typedef void (*IOHIDReportCallback) (void* context, IOReturn result, void* sender, IOHIDReportType type,
                                         uint32_t reportID, uint8_t* report, CFIndex reportLength);

#ifdef __cplusplus
}
#endif
