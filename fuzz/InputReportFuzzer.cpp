// Input reports of any ID and length, against rings of any report size, from the registered device, from a
// foreign one, with a context that is not ours, and after the probe is gone.
#include <fuzzer/FuzzedDataProvider.h>

#include "devices/HidDevice.h"
#include "devices/HidDeviceRegistry.h"
#include "platform/sim/SimulatedMachine.h"

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input (data, size);
    sim::Reset();
    sim::AddHidDevice ({ { "VendorID", 0x7A31 },
                         { "UniqueID", 42 },
                         { "MaxInputReportSize", input.ConsumeIntegralInRange<std::int64_t> (-4, 300) } });
    void* const foreign = sim::HidDeviceRef (sim::AddHidDevice ({ { "VendorID", 0x7A31 }, { "UniqueID", 43 } }));
    IOHIDManagerRef manager = IOHIDManagerCreate (kCFAllocatorDefault, 0);
    IOHIDManagerSetDeviceMatching (manager, nullptr);
    IOHIDManagerOpen (manager, 0);
    auto probe = std::make_unique<HidDevice>();
    probe->Attach (manager, "42");
    probe->Open();
    void* const context = probe->id >= 0 ? &HidDeviceRegistry::idTable[std::size_t (probe->id)] : nullptr;
    void* const registered = probe->device;
    while (input.remaining_bytes() > 0)
    {
        // 0: with an ID byte, 1: without, 2: from another device, 3: late, once the probe has gone, 4: no context.
        const auto kind = input.ConsumeIntegralInRange (0, 4);
        if (kind == 3)
            probe.reset();
        const std::uint32_t reportId = kind == 1 ? 0u : input.ConsumeIntegral<std::uint8_t>();
        const auto length = input.ConsumeIntegralInRange<int> (-2, 600);
        auto report = input.ConsumeBytes<std::uint8_t> (std::size_t (std::max (length, 0)));
        report.resize (std::size_t (std::max (length, 0)) + 1);
        HidDevice::OnInputReport (kind == 4 ? nullptr : context, kIOReturnSuccess, kind == 2 ? foreign : registered,
                                  kIOHIDReportTypeInput, reportId, report.data(), length);
    }
    probe.reset();
    IOHIDManagerClose (manager, 0);
    CFRelease (manager);
    return 0;
}
