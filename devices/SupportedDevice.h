#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

/** One row of the known-product table: a USB product of the maker and its display name. */
struct SupportedDevice
{
    /** Stored in altProductId when a product has no second product ID. */
    static constexpr std::uint16_t kNoAltProductId = 0xFFFF;

    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t altProductId = kNoAltProductId;
    std::uint8_t kind = 0; // category code 0, 1 or 2; carried, read by nobody
    juce::String name;
};
