#pragma once

#include "devices/CFRef.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hid/IOHIDManager.h>
#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

/** The few IOKit HID reads that the detection needs, with every missing or
    mistyped answer turned into a neutral value. Any thread. */
namespace HidAccess
{

/** The devices that the manager matches right now, in the set's order. The
    set is held alongside, so the device references stay valid while it lives. */
struct DeviceSet
{
    CFRef<CFSetRef> set;
    std::vector<IOHIDDeviceRef> devices;
};

/** Copies the manager's device set; empty when there is no manager or no set. */
DeviceSet CopyDevices (IOHIDManagerRef manager);

/** A numeric device property as a 64-bit integer; 0 when missing or not a number. */
std::int64_t ReadNumber (IOHIDDeviceRef device, CFStringRef key, CFNumberType type = kCFNumberSInt64Type);

/** A text device property; empty when missing or not a string. */
juce::String ReadText (IOHIDDeviceRef device, CFStringRef key);

/** The device's "UniqueID" as text: its low 32 bits as a signed decimal
    integer, "0" when missing. Identifies one interface while it is present. */
juce::String UniqueIdText (IOHIDDeviceRef device);

} // namespace HidAccess
