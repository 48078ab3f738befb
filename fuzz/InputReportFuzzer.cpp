// Input reports of any ID and length, against rings of any report size,
// from the registered device, from a foreign one, and after the probe is gone.

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <vector>

#include "devices/HidDevice.h"
#include "devices/HidDeviceRegistry.h"
#include "platform/sim/SimulatedMachine.h"

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input (data, size);
    sim::Reset();

    const auto reportSize = input.ConsumeIntegralInRange<std::int64_t> (-4, 300);
    const auto probed = sim::AddHidDevice ({ { "VendorID", 0x7A31 },
                                             { "ProductID", 114 },
                                             { "PrimaryUsagePage", 0xFF00 },
                                             { "UniqueID", 42 },
                                             { "MaxInputReportSize", reportSize } });
    const auto foreign = sim::AddHidDevice ({ { "VendorID", 0x7A31 }, { "ProductID", 115 }, { "UniqueID", 43 } });

    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, 0);
    IOHIDManagerSetDeviceMatching (manager, nullptr);
    IOHIDManagerOpen (manager, 0);

    auto probe = std::make_unique<HidDevice>();
    probe->Attach (manager, "42");
    probe->Open();
    void* const context = probe->id >= 0 ? &HidDeviceRegistry::idTable[(std::size_t) probe->id] : nullptr;
    const auto registeredSender = probe->device;

    std::vector<std::uint8_t> report;
    while (input.remaining_bytes() > 0)
    {
        switch (input.ConsumeIntegralInRange (0, 4))
        {
            case 0: // a report with an ID byte
            case 1: // a report without one
            case 2: // a report from another device
            {
                const auto choice = input.ConsumeIntegralInRange (0, 2);
                const std::uint32_t reportId = choice == 1 ? 0u : input.ConsumeIntegral<std::uint8_t>();
                const auto length = input.ConsumeIntegralInRange<int> (-2, 600);
                report.assign ((std::size_t) std::max (length, 0) + 1, 0);
                const auto bytes = input.ConsumeBytes<std::uint8_t> ((std::size_t) std::max (length, 0));
                std::copy (bytes.begin(), bytes.end(), report.begin());
                auto* sender = choice == 2 ? (void*) sim::HidDeviceRef (foreign) : (void*) registeredSender;
                HidDevice::OnInputReport (context, kIOReturnSuccess, sender, kIOHIDReportTypeInput, reportId,
                                          report.data(), length);
                break;
            }
            case 3: // the probe goes; later reports are late ones
                probe.reset();
                break;
            default: // a report whose context is not ours at all
                HidDevice::OnInputReport (nullptr, kIOReturnSuccess, registeredSender, kIOHIDReportTypeInput, 1,
                                          report.data(), 0);
                break;
        }
    }

    probe.reset();
    IOHIDManagerClose (manager, 0);
    CFRelease (manager);
    sim::RemoveHidDevice (probed);
    sim::RemoveHidDevice (foreign);
    return 0;
}
