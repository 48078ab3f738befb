#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

/** The details of one HID interface of the maker's devices. Written by the
    scan on the message thread; others get copies that share nothing with it. */
struct HidDeviceInfo
{
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t usagePage = 0;       // primary usage page of the interface
    juce::String uniqueId;             // IOKit unique ID as signed decimal text
    juce::String productName;          // from the known-product table
    juce::String serialNumber;         // or the location ID as eight hex digits, or empty
    std::uint8_t firmwareMajor = 0xFF; // 0xFF: not read
    std::uint8_t firmwareMinor = 0xFF;
    std::uint8_t firmwarePatch = 0xFF;
};
