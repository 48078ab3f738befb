// The HID half of the simulated machine's control panel.

#include "platform/iokit/HidSystem.h"
#include "platform/sim/MachineInternals.h"

namespace sim
{

HidId AddHidDevice (const HidProperties& properties)
{
    detail::EnsureBooted();
    return HidSystem::Instance().AddDevice (properties);
}

void RemoveHidDevice (HidId device)
{
    detail::EnsureBooted();
    HidSystem::Instance().RemoveDevice (device);
}

void FailHidDeviceOpen (HidId device)
{
    detail::EnsureBooted();
    HidSystem::Instance().FailDeviceOpen (device);
}

IOHIDDeviceRef HidDeviceRef (HidId device)
{
    detail::EnsureBooted();
    return HidSystem::Instance().DeviceRef (device);
}

HidDeviceCounters GetHidDeviceCounters (HidId device)
{
    detail::EnsureBooted();
    return HidSystem::Instance().Counters (device);
}

void SendInputReport (HidId device, std::uint32_t reportId, const std::vector<std::uint8_t>& report)
{
    detail::EnsureBooted();
    HidSystem::Instance().SendInputReport (device, reportId, report);
}

std::vector<std::map<std::string, std::string>> HidMatchingHistory()
{
    detail::EnsureBooted();
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
