#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>

class HidDevice;

/** The number of HID devices that can be open through the registry at once. */
constexpr int kMaxHidDevices = 100;

/** The process-wide registry of open HID devices, shared by the message
    thread (which opens and closes devices) and the HID thread (whose
    input-report callback looks its device up here). Lives from static
    initialisation until process exit. */
class HidDeviceRegistry
{
public:
    HidDeviceRegistry() = delete;

    /** Guards devicesById and idTable. Taken after the scan's devicesMutex, never before it. */
    static std::mutex mutex;

    /** Registry id -> open handle. Only handles whose device opened; not owned. */
    static std::map<std::uint32_t, HidDevice*> devicesById;

    /** Entry i holds i while handle i is registered, else -1. Entry i's address
        is handle i's callback context; entries never move, so a late callback
        always reads a valid entry. */
    static std::array<std::int32_t, kMaxHidDevices> idTable;

    /** Marks every id-table entry free (-1). */
    static void ResetIdTable();
};
