// The scan and the probe against HID devices whose properties are missing,
// of the wrong type or of any value, coming and going between ticks.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "devices/HidDevices.h"
#include "platform/sim/SimulatedMachine.h"

namespace {

const char* const kNumberKeys[] = { "VendorID",      "ProductID",          "PrimaryUsagePage", "UniqueID",
                                    "VersionNumber", "MaxInputReportSize", "LocationID" };

sim::HidProperties MakeProperties (FuzzedDataProvider& input)
{
    sim::HidProperties properties;
    for (const auto* key : kNumberKeys)
    {
        switch (input.ConsumeIntegralInRange (0, 5))
        {
            case 0: break; // missing
            case 1: properties[key] = input.ConsumeRandomLengthString (12); break; // wrong type
            default: properties[key] = input.ConsumeIntegral<std::int64_t>(); break;
        }
    }

    // Mostly the maker's vendor and known products, so that the probe runs.
    if (input.ConsumeBool())
        properties["VendorID"] = std::int64_t { 0x7A31 };
    if (input.ConsumeBool())
    {
        const std::int64_t known[] = { 0x08, 0x09, 0x30, 0x4D, 0x4F, 0x72, 0x73, 0x78, 0x79, 0x7B };
        properties["ProductID"] = known[input.ConsumeIntegralInRange<std::size_t> (0, std::size (known) - 1)];
    }
    if (input.ConsumeBool())
        properties["PrimaryUsagePage"] = std::int64_t { input.ConsumeBool() ? 0xFF00 : 0x00FF };
    if (input.ConsumeBool())
        properties["MaxInputReportSize"] = input.ConsumeIntegralInRange<std::int64_t> (-1, 200);

    switch (input.ConsumeIntegralInRange (0, 2))
    {
        case 0: break;
        case 1: properties["SerialNumber"] = input.ConsumeRandomLengthString (80); break;
        default: properties["SerialNumber"] = input.ConsumeIntegral<std::int64_t>(); break;
    }
    return properties;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    static HidDevices* const detection = [] {
        sim::Reset();
        auto* created = new HidDevices();
        // A slot reads the details back, as the engine does, and checks the
        // key still leads to a record while it is being announced.
        created->DeviceConnected.connect ([created] (int key) {
            if (! created->GetDeviceInfo (key).has_value())
                std::abort();
        });
        created->DeviceDisconnected.connect ([created] (int key) {
            if (created->GetDeviceInfo (key).has_value())
                std::abort();
            for (const auto remaining : created->GetDeviceKeys())
                created->GetDeviceInfo (remaining);
        });
        return created;
    }();

    FuzzedDataProvider input (data, size);
    std::vector<sim::HidId> present;

    while (input.remaining_bytes() > 0)
    {
        switch (input.ConsumeIntegralInRange (0, 4))
        {
            case 0:
            case 1: present.push_back (sim::AddHidDevice (MakeProperties (input))); break;
            case 2:
                if (! present.empty())
                {
                    const auto index = input.ConsumeIntegralInRange<std::size_t> (0, present.size() - 1);
                    sim::RemoveHidDevice (present[index]);
                    present.erase (present.begin() + (std::ptrdiff_t) index);
                }
                break;
            case 3:
                if (! present.empty())
                    sim::FailHidDeviceOpen (present.back());
                break;
            default: detection->timerCallback(); break;
        }
    }

    detection->timerCallback();
    for (const auto device : present)
        sim::RemoveHidDevice (device);
    detection->timerCallback();
    if (! detection->GetDeviceKeys().empty())
        std::abort(); // an empty device set must leave nothing stored
    return 0;
}
