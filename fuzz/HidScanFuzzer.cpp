// The scan and the probe against HID devices whose properties are missing, of the wrong type or of any value,
// coming and going between ticks.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <thread>

#include "devices/HidAccess.h"
#include "devices/HidDevices.h"
#include "platform/sim/SimulatedMachine.h"

namespace
{
void Check (bool holds)
{
    if (!holds)
        std::abort();
}

sim::HidProperties MakeProperties (FuzzedDataProvider& input)
{
    sim::HidProperties properties;
    for (const auto* key : { "VendorID", "ProductID", "PrimaryUsagePage", "UniqueID", "VersionNumber",
                             "MaxInputReportSize", "LocationID", "SerialNumber" })
        if (const auto kind = input.ConsumeIntegralInRange (0, 2); kind > 0)
            properties[key] = kind == 1 ? sim::HidValue (input.ConsumeRandomLengthString (80))
                                        : sim::HidValue (input.ConsumeIntegral<std::int64_t>());
    // Mostly the maker's vendor, known products and accepted usage pages, so that the probe runs.
    const std::int64_t known[] = { 0x08, 0x09, 0x30, 0x4D, 0x4F, 0x72, 0x73, 0x78, 0x79, 0x7B };
    if (input.ConsumeBool())
        properties["VendorID"] = std::int64_t { 0x7A31 };
    if (input.ConsumeBool())
        properties["ProductID"] = known[input.ConsumeIntegralInRange<std::size_t> (0, std::size (known) - 1)];
    if (input.ConsumeBool())
        properties["PrimaryUsagePage"] = std::int64_t { input.ConsumeBool() ? 0xFF00 : 0x00FF };
    if (input.ConsumeBool())
        properties["MaxInputReportSize"] = input.ConsumeIntegralInRange<std::int64_t> (-1, 200);
    return properties;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    // The slots read the details back, as the engine's do: an announced key has a record until it goes.
    static HidDevices* const detection = []
    {
        sim::Reset();
        auto* created = new HidDevices();
        created->DeviceConnected.connect ([created] (int key) { Check (created->GetDeviceInfo (key).has_value()); });
        created->DeviceDisconnected.connect ([created] (int key) { Check (!created->GetDeviceInfo (key)); });
        return created;
    }();
    FuzzedDataProvider input (data, size);
    std::vector<sim::HidId> present;
    while (input.remaining_bytes() > 0)
    {
        // 0 and 1: plugged in, 2: unplugged, 3: its open fails from now on, 4: a tick.
        const auto action = input.ConsumeIntegralInRange (0, 4);
        if (action < 2)
            present.push_back (sim::AddHidDevice (MakeProperties (input)));
        else if (action == 4)
            detection->timerCallback();
        else if (!present.empty())
        {
            const auto at = present.begin() + input.ConsumeIntegralInRange<long> (0, long (present.size()) - 1);
            action == 3 ? sim::FailHidDeviceOpen (*at) : sim::RemoveHidDevice (*at);
            if (action == 2)
                present.erase (at);
        }
    }
    for (const auto device : present)
        sim::RemoveHidDevice (device);
    // A removed device still reads its properties, so the tick waits for the HID thread to let go of them all.
    while (!HidAccess::CopyDevices (detection->hidManager->manager).devices.empty())
        std::this_thread::yield();
    detection->timerCallback();
    Check (detection->GetDeviceKeys().empty());
    return 0;
}
