// The HID half of the simulated machine's control panel.

#include "platform/iokit/HidSystem.h"
#include "platform/sim/MachineInternals.h"

namespace sim
{

HidId AddHidDevice (const HidProperties& properties)
{
    return HidSystem::Instance().AddDevice (properties);
}

void RemoveHidDevice (HidId device)
{
    HidSystem::Instance().RemoveDevice (device);
}

void FailHidDeviceOpen (HidId device)
{
    HidSystem::Instance().FailDeviceOpen (device);
}

IOHIDDeviceRef HidDeviceRef (HidId device)
{
    return HidSystem::Instance().DeviceRef (device);
}

HidDeviceCounters GetHidDeviceCounters (HidId device)
{
    return HidSystem::Instance().Counters (device);
}

void SendInputReport (HidId device, std::uint32_t reportId, const std::vector<std::uint8_t>& report)
{
    HidSystem::Instance().SendInputReport (device, reportId, report);
}

std::vector<std::map<std::string, std::string>> HidMatchingHistory()
{
    return HidSystem::Instance().MatchingHistory();
}

namespace detail
{

void ResetHidSide()
{
    HidSystem::Instance().Reset();
}

} // namespace detail
} // namespace sim
