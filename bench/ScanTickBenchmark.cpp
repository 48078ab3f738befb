#include "devices/HidDevices.h"
#include "platform/sim/SimulatedMachine.h"

#include <benchmark/benchmark.h>

namespace
{

/** The steady state of the 250 ms poll: eight known interfaces present, all
    already stored, so a tick only copies the device set and compares. */
void BM_ScanTickEightKnownDevicesNoneNew (benchmark::State& state)
{
    sim::Reset();

    const std::int64_t productIds[] = { 114, 115, 120, 121, 0x08, 0x4D, 0x1E, 0x7A };

    for (std::int64_t i = 0; i < 8; ++i)
        sim::AddHidDevice ({ { "VendorID", std::int64_t { 0x7A31 } },
                             { "ProductID", productIds[i] },
                             { "PrimaryUsagePage", std::int64_t { 0xFF00 } },
                             { "UniqueID", 5000 + i },
                             { "SerialNumber", "SN" + std::to_string (i) },
                             { "VersionNumber", std::int64_t { 0x0123 } },
                             { "MaxInputReportSize", std::int64_t { 64 } } });

    HidDevices devices;
    int announcements = 0;
    devices.DeviceConnected.connect ([&announcements] (int) { ++announcements; });
    devices.timerCallback();

    if (announcements != 8 || devices.GetDeviceKeys().size() != 8)
    {
        state.SkipWithError ("the eight devices were not all stored");
        return;
    }

    for (auto _ : state)
        devices.timerCallback();

    if (announcements != 8)
        state.SkipWithError ("a steady tick announced something");
}

BENCHMARK (BM_ScanTickEightKnownDevicesNoneNew);

} // namespace
