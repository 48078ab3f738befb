#pragma once

#include "platform/corefoundation/CFObject.h"

#include <IOKit/hid/IOHIDManager.h>

#include <cstdint>
#include <utility>
#include <vector>

/** One HID manager behind an IOHIDManagerRef; all its state belongs to
    HidSystem and is guarded by its mutex. */
struct __IOHIDManager final : cf::Object
{
    explicit __IOHIDManager (std::uint64_t serial_) : Object (cf::kHidManagerTypeId), serial (serial_) {}
    ~__IOHIDManager() override;

    enum class Matching
    {
        Nothing, // no matching set yet
        Every,   // a NULL matching dictionary
        Entries, // each entry must equal the device's property
    };

    const std::uint64_t serial; // tells it from a later manager made at the same address
    bool open = false;
    Matching matching = Matching::Nothing;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries; // retained keys and values
    CFRunLoopRef runLoop = nullptr;                       // retained while scheduled

    // Its device set, each retained: enumerated when opened or given a
    // matching, afterwards brought up to date only on its scheduled run loop.
    std::vector<IOHIDDeviceRef> devices;
};
