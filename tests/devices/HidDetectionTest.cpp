// Linked with CFRunLoopRunInMode wrapped: the run-loop slices of the thread named "IOHIDManager" are counted.
#include "devices/HidAccess.h"
#include "devices/HidDevice.h"
#include "devices/HidDeviceRegistry.h"
#include "devices/HidDevices.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <optional>
#include <set>
#include <thread>

static std::atomic<int> slices { 0 }, otherSlices { 0 };

extern "C" CFRunLoopRunResult __real_CFRunLoopRunInMode (CFRunLoopMode, CFTimeInterval, Boolean);
extern "C" CFRunLoopRunResult __wrap_CFRunLoopRunInMode (CFRunLoopMode mode, CFTimeInterval seconds, Boolean once)
{
    if (auto* thread = juce::Thread::getCurrentThread(); thread && thread->getThreadName() == "IOHIDManager")
        ++(CFEqual (mode, kCFRunLoopDefaultMode) && seconds == 0.01 && once ? slices : otherSlices);
    return __real_CFRunLoopRunInMode (mode, seconds, once);
}

namespace
{
using Bytes = std::vector<std::uint8_t>;
const auto no = std::nullopt;

/** A HID interface of the maker; an empty optional leaves the property out. */
struct Interface
{
    std::int64_t uniqueId = 1001, productId = 114, usagePage = 0xFF00, vendorId = 0x7A31;
    std::optional<sim::HidValue> serial = "QV2400117", version = 0x0123, maxReportSize = 64, locationId;
};

sim::HidId Plug (const Interface& i)
{
    sim::HidProperties properties { { "VendorID", i.vendorId },
                                    { "ProductID", i.productId },
                                    { "PrimaryUsagePage", i.usagePage },
                                    { "UniqueID", i.uniqueId } };
    for (const auto& [key, value] :
         { std::pair ("SerialNumber", i.serial), std::pair ("VersionNumber", i.version),
           std::pair ("MaxInputReportSize", i.maxReportSize), std::pair ("LocationID", i.locationId) })
        if (value)
            properties[key] = *value;
    return sim::AddHidDevice (properties);
}

template <typename Probed>
juce::String Firmware (const Probed& p)
{
    return juce::String (p.firmwareMajor) + "." + juce::String (p.firmwareMinor) + "." + juce::String (p.firmwarePatch);
}

bool WaitFor (const std::function<bool()>& condition)
{
    for (int ms = 0; ms < 10000 && !condition(); ++ms)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    return condition();
}

/** Plugging and unplugging each post a refresh of the whole device set to the HID thread's run loop: once it has run a
    whole slice from now, its manager lists what is plugged in now. */
bool CaughtUp()
{
    return WaitFor ([from = slices.load()] { return slices > from + 1; });
}

TEST (HidManagerThread, MatchesTheMakerRunsItsSlicesOrFindsNothingAndKeepsOneReferenceForGood)
{
    // The element type is spelt out: deduced from the faults, "{}" would be the first fault, not none.
    for (const auto fault : std::initializer_list<std::optional<sim::Fault>> {
             std::nullopt, sim::Fault::HidManagerCreate, sim::Fault::HidManagerOpen })
    {
        SCOPED_TRACE (fault ? "fault " + std::to_string (int (*fault)) : std::string ("no fault"));
        sim::Reset();
        const auto ours = Plug ({ .uniqueId = 1 });
        Plug ({ .uniqueId = 2, .vendorId = 0x05AC });
        if (fault)
            sim::InjectFault (*fault);
        auto devices = std::make_unique<HidDevices>();
        const IOHIDManagerRef manager = devices->hidManager->manager;
        ASSERT_EQ (manager == nullptr, fault == sim::Fault::HidManagerCreate);
        EXPECT_EQ (sim::HidMatchingHistory(),
                   (std::vector<std::map<std::string, std::string>> (fault ? 0 : 1, { { "VendorID", "31281" } })));
        EXPECT_TRUE (fault || CaughtUp());
        EXPECT_EQ (HidAccess::CopyDevices (manager).devices,
                   std::vector<IOHIDDeviceRef> (fault ? 0 : 1, sim::HidDeviceRef (ours)));
        EXPECT_EQ (otherSlices, 0) << "every slice is 0.01 s of the default mode and ends after one source";
        EXPECT_EQ (manager != nullptr ? CFGetRetainCount (manager) : 2, 2);
        sim::ClearCallLog();
        devices.reset();
        EXPECT_EQ (sim::CallLog(), std::vector<std::string> (manager != nullptr ? 1 : 0, "IOHIDManagerClose"));
        EXPECT_EQ (manager != nullptr ? CFGetRetainCount (manager) : 1, 1);
    }
    // The engine starts the scan only once it has found the virtual driver.
    sim::Reset();
    sim::InstallVirtualDriver();
    EXPECT_EQ (VirtualChannelsEngine().hidDevices->getTimerInterval(), 250);
}

/** Hands the probe a report as IOKit would, on this thread; tells the slot it will write next. */
std::size_t Deliver (HidDevice& to, std::uint32_t reportId, Bytes report, IOHIDDeviceRef sender = nullptr)
{
    HidDevice::OnInputReport (&HidDeviceRegistry::idTable[std::size_t (to.id)], 0, sender ? sender : to.device,
                              kIOHIDReportTypeInput, reportId, report.data(), CFIndex (report.size()));
    return to.writeSlot;
}

TEST (HidProbe, ReadsTheDetailsEvenWhenTheOpenFailsAndRegistersOnlyAnOpenedDevice)
{
    std::vector<sim::HidId> ids;
    for (const Interface& interface : std::vector<Interface> {
             { .uniqueId = 100, .maxReportSize = 0 },
             { .uniqueId = 101, .serial = no, .version = 0x1234, .maxReportSize = 1, .locationId = 0x14200000 },
             { .uniqueId = 102, .serial = no, .version = 0xAB1234, .maxReportSize = 3, .locationId = 0x1A },
             { .uniqueId = 104, .serial = no, .version = no, .maxReportSize = 65, .locationId = 0x1000000AB },
             { .uniqueId = 105, .serial = no, .maxReportSize = 1000, .locationId = 0 },
             { .uniqueId = 106, .serial = "", .maxReportSize = -1, .locationId = 0x1A },
             { .uniqueId = 107, .serial = "QV77", .maxReportSize = 1LL << 40, .locationId = 0x1A },
             { .uniqueId = 0x100000005, .maxReportSize = 9 }, // its text is "5"
             { .uniqueId = -7, .serial = no, .version = 0x0205, .maxReportSize = 4, .locationId = 0x1A } })
        ids.push_back (Plug (interface));
    sim::AddHidDevice ({ { "VendorID", 0x7A31 }, { "SerialNumber", 12345 }, { "LocationID", 0x2B } });
    sim::FailHidDeviceOpen (ids[8]);
    const IOHIDManager hid; // made once everything is plugged in, so that it finds it all at once
    const IOHIDDeviceRef unit = sim::HidDeviceRef (ids[7]), failing = sim::HidDeviceRef (ids[8]);
    const auto State = [&] // only this thread writes the registry
    {
        return std::make_tuple (CFGetRetainCount (unit), CFGetRetainCount (failing),
                                sim::GetHidDeviceCounters (ids[7]).callbackRegistered,
                                sim::GetHidDeviceCounters (ids[8]).callbackRegistered, HidDeviceRegistry::idTable[0],
                                HidDeviceRegistry::idTable[1], HidDeviceRegistry::devicesById);
    };
    const auto before = State();
    const auto Probe = [&hid] (const juce::String& uniqueId)
    {
        auto probe = std::make_unique<HidDevice>();
        probe->Attach (hid.manager, uniqueId);
        probe->Open();
        return probe;
    };
    // Unique ID text, then firmware, serial number and ring slot size as probed.
    for (const juce::String line :
         { "100 1.2.3 QV2400117 0", "101 18.3.4 14200000 1", "102 18.3.4 0000001A 4", "104 0.0.0 000000AB 128",
           "105 1.2.3  1024", "106 1.2.3 0000001A 0", "107 1.2.3 QV77 0", "5 1.2.3 QV2400117 16", "-7 2.0.5 0000001A 4",
           "0 0.0.0 0000002B 0" })
    {
        const auto probe = Probe (line.upToFirstOccurrenceOf (" ", false, false));
        EXPECT_EQ (line.fromFirstOccurrenceOf (" ", false, false),
                   Firmware (*probe) + " " + probe->serialNumber + " " + juce::String (probe->slotSize));
        EXPECT_EQ (probe->ringBytes, probe->slotSize * 1024);
    }
    // Only an opened device is registered and fills its ring; destruction undoes it all.
    auto probe = Probe ("5");
    auto failed = Probe ("-7");
    const auto Ring = [&probe] (std::size_t a, std::size_t b) { return Bytes (&probe->ring[a], &probe->ring[b]); };
    EXPECT_EQ (std::make_tuple (probe->device, probe->id, failed->device, failed->id),
               std::make_tuple (unit, 0, failing, 1));
    EXPECT_EQ (State(), std::make_tuple (std::get<0> (before) + 1, std::get<1> (before) + 1, true, false, 0, -1,
                                         std::map<std::uint32_t, HidDevice*> { { 0, probe.get() } }));
    // Through the HID thread, a report lands in the first slot without its ID byte.
    ASSERT_TRUE (CaughtUp());
    sim::SendInputReport (ids[7], 5, { 5, 1, 2, 3, 4, 5, 6, 7, 8 });
    ASSERT_TRUE (WaitFor ([&probe] { return probe->writeSlot.load() == 1; }));
    EXPECT_EQ (Ring (0, 9), (Bytes { 1, 2, 3, 4, 5, 6, 7, 8, 0 }));
    // Too short for its ID, longer than the 16-byte slot, or from another device: nothing is stored; exactly a slot
    // after its ID, or its ID alone, take a slot.
    EXPECT_EQ ((std::vector { Deliver (*probe, 5, {}), Deliver (*probe, 0, Bytes (17, 1)),
                              Deliver (*probe, 7, Bytes (18, 7)), Deliver (*probe, 0, { 1 }, failing),
                              Deliver (*probe, 7, Bytes (17, 7)), Deliver (*probe, 9, { 9 }) }),
               (std::vector<std::size_t> { 1, 1, 1, 1, 2, 3 }));
    for (int n = 0; n <= 1021; ++n) // an empty one takes a slot too; the last, one byte, wraps round to slot 0
        Deliver (*probe, 0, n % 1021 == 0 ? Bytes (n / 1021, 0xFD) : Bytes { std::uint8_t (n), std::uint8_t (n >> 8) });
    EXPECT_EQ (probe->writeSlot.load(), 1u);
    EXPECT_EQ (Ring (0, 18), (Bytes { 0xFD, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7 }));
    EXPECT_EQ (Ring (31, 34), (Bytes { 7, 0, 0 }));
    EXPECT_EQ (Ring (16 * 1023, 16 * 1023 + 2), (Bytes { 0xFC, 3 }));
    probe.reset();
    failed.reset();
    EXPECT_EQ (State(), before);
    EXPECT_EQ (sim::GetHidDeviceCounters (ids[7]).closes + sim::GetHidDeviceCounters (ids[8]).closes, 4)
        << "opened or not";
    // A late report of the first device, once its id 0 has gone to another one, is not the other's.
    const auto next = Probe ("101"); // and a one-byte slot takes a one-byte report
    EXPECT_EQ ((std::vector { std::size_t (next->id), Deliver (*next, 0, { 1 }, unit), Deliver (*next, 0, { 1 }) }),
               (std::vector<std::size_t> { 0, 0, 1 }));
}

TEST (HidDevices, AcceptedInterfacesAreProbedOnceStoredAndAnnouncedUntilTheyGo)
{
    // The slots read the details as the engine's do: a lock held while announcing would hang here.
    using Events = std::multiset<std::pair<int, juce::String>>;
    HidDevices devices;
    Events events;
    std::vector<std::size_t> keysLeft;
    const auto Heard = [&] (const char* kind, int key)
    {
        const auto info = devices.GetDeviceInfo (key);
        events.insert (
            { key, kind + (!info ? ""
                                 : " " + juce::String (info->vendorId) + " " + juce::String (info->productId) + " " +
                                       juce::String (info->usagePage) + " " + info->uniqueId + " " + info->productName +
                                       " " + info->serialNumber + " " + Firmware (*info)) });
        keysLeft.push_back (devices.GetDeviceKeys().size());
    };
    devices.DeviceDisconnected.connect ([&] (int key) { Heard ("-", key); });
    devices.DeviceConnected.connect ([&] (int key) { Heard ("+", key); });
    const auto Tick = [&]
    {
        EXPECT_TRUE (CaughtUp());
        events.clear();
        keysLeft.clear();
        devices.timerCallback();
        return events;
    };
    const auto KeyOf = [] (std::uint16_t product, const juce::String& serial)
    { return HidDevices::MakeDeviceKey (0x7A31, product, serial); };
    const int velmar = KeyOf (114, "VEL1"), wystan = KeyOf (0x4D, "W1"), mixer = KeyOf (0x30, "00000142"),
              tesk = KeyOf (0x4F, "");

    const std::vector<sim::HidId> listed {
        Plug ({ .uniqueId = 0x1FFFFFFF5, .serial = "VEL1" }),
        Plug ({ .uniqueId = 12, .productId = 0x4D, .serial = "W1", .version = 0x1234 }),
        Plug ({ .uniqueId = 13, .productId = 0x30, .usagePage = 0xFF, .serial = no, .locationId = 0x142 }),
        Plug ({ .uniqueId = 14, .productId = 0x4F, .usagePage = 0xFF, .serial = "", .version = no }),
        Plug ({ .uniqueId = 15, .productId = 0x72, .usagePage = 0xFF }), // from here on passed over
        Plug ({ .uniqueId = 16, .productId = 0x74 }),
        Plug ({ .uniqueId = 17, .productId = 0x37, .usagePage = 0xFF01 }),
    };
    Plug ({ .uniqueId = 18, .vendorId = 0x7A30 });
    EXPECT_EQ (Tick(), (Events { { velmar, "+ 31281 114 65280 -11 Tavrolux Velmar VEL1 1.2.3" },
                                 { wystan, "+ 31281 77 65280 12 Tavrolux Wystan W1 18.3.4" },
                                 { mixer, "+ 31281 48 255 13 Tavrolux Velmar 00000142 1.2.3" },
                                 { tesk, "+ 31281 79 255 14 Tavrolux TESK  0.0.0" } }));
    EXPECT_TRUE (Tick().empty());
    // Two unplugged and one plugged back under a new unique ID between two ticks: removals are announced one by
    // one, each after its record has gone, and the key comes back.
    for (const auto gone : { 0, 1, 3 })
        sim::RemoveHidDevice (listed[gone]);
    const auto back = Plug ({ .uniqueId = 44, .productId = 0x4F, .usagePage = 0xFF, .serial = "", .version = no });
    EXPECT_EQ (
        Tick(),
        (Events {
            { velmar, "-" }, { wystan, "-" }, { tesk, "-" }, { tesk, "+ 31281 79 255 44 Tavrolux TESK  0.0.0" } }));
    EXPECT_EQ (keysLeft, (std::vector<std::size_t> { 3, 2, 1, 2 }));
    sim::RemoveHidDevice (listed[2]);
    sim::RemoveHidDevice (back);
    EXPECT_EQ (Tick(), (Events { { tesk, "-" }, { mixer, "-" } }));
    EXPECT_TRUE (devices.GetDeviceKeys().empty());
}
} // namespace
