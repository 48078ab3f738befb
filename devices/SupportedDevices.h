#pragma once

#include "devices/SupportedDevice.h"

#include <cstdint>
#include <list>

/** The maker's USB vendor ID: every known product carries it, and the HID manager matches on it. */
constexpr std::uint16_t kMakerVendorId = 0x7A31;

/** The maker's known USB products, in lookup order: a lookup walks the list
    from the front and the first matching row counts. Built during static
    initialisation and never changed, so any thread may read it without a lock. */
extern const std::list<SupportedDevice> SupportedDevices;
