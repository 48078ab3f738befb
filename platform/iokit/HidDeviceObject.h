#pragma once

#include "platform/corefoundation/CFObject.h"
#include "platform/sim/SimulatedMachine.h"

#include <IOKit/hid/IOHIDDevice.h>

#include <string>
#include <utility>
#include <vector>

/** One simulated HID interface behind an IOHIDDeviceRef. Its properties are
    fixed when it is plugged in and read without a lock; everything else
    belongs to HidSystem and is guarded by its mutex. */
struct __IOHIDDevice final : cf::Object
{
    __IOHIDDevice (sim::HidId id, const sim::HidProperties& properties);
    ~__IOHIDDevice() override;

    /** The CFNumber or CFString under the key, owned by the device, or NULL. */
    CFTypeRef Property (const char* key) const;

    const sim::HidId id;
    std::vector<std::pair<std::string, CFTypeRef>> properties;

    // Guarded by HidSystem's mutex.
    bool present = true;
    bool failOpen = false;
    int openCount = 0;
    uint8_t* reportBuffer = nullptr;
    CFIndex reportLength = 0;
    IOHIDReportCallback reportCallback = nullptr;
    void* reportContext = nullptr;
};
