#include "devices/HidDeviceRegistry.h"

namespace
{

std::array<std::int32_t, kMaxHidDevices> AllFree()
{
    std::array<std::int32_t, kMaxHidDevices> table;
    table.fill (-1);
    return table;
}

} // namespace

std::mutex HidDeviceRegistry::mutex;
std::map<std::uint32_t, HidDevice*> HidDeviceRegistry::devicesById;
std::array<std::int32_t, kMaxHidDevices> HidDeviceRegistry::idTable = AllFree();

void HidDeviceRegistry::ResetIdTable()
{
    const std::lock_guard<std::mutex> lock (mutex);
    idTable.fill (-1);
}
