#pragma once

#include "platform/corefoundation/CFObject.h"

#include <IOKit/hid/IOHIDManager.h>

#include <utility>
#include <vector>

/** One HID manager behind an IOHIDManagerRef; all its state belongs to
    HidSystem and is guarded by its mutex. */
struct __IOHIDManager final : cf::Object
{
    __IOHIDManager() : Object (cf::kHidManagerTypeId) {}
    ~__IOHIDManager() override;

    enum class Matching
    {
        Nothing, // no matching set yet
        Every,   // a NULL matching dictionary
        Entries, // each entry must equal the device's property
    };

    bool open = false;
    Matching matching = Matching::Nothing;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries; // retained keys and values
    CFRunLoopRef runLoop = nullptr;                       // retained while scheduled
};
