// Linked with CFRunLoopRunInMode wrapped: the run-loop slices of the thread named "IOHIDManager" are counted.

#include "devices/HidAccess.h"
#include "devices/HidDevice.h"
#include "devices/HidDeviceRegistry.h"
#include "devices/HidDevices.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <atomic>
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

/** "major.minor.patch" of a probe or a device record. */
template <typename Probed>
juce::String Firmware (const Probed& p)
{
    return juce::String (p.firmwareMajor) + "." + juce::String (p.firmwareMinor) + "." + juce::String (p.firmwarePatch);
}

/** Polls until the condition holds or a generous deadline has passed. */
bool WaitFor (const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (10);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    return condition();
}

/** Waits until plugging and unplugging have reached the manager, through its HID thread, and it lists exactly these. */
bool Settled (IOHIDManagerRef manager, const std::vector<sim::HidId>& devices)
{
    std::set<const void*> expected;
    for (const auto device : devices)
        expected.insert (sim::HidDeviceRef (device));
    return WaitFor (
        [&]
        {
            const auto listed = HidAccess::CopyDevices (manager).devices;
            return std::set<const void*> (listed.begin(), listed.end()) == expected;
        });
}

TEST (HidManagerThread, MatchesTheMakerRunsItsSlicesOrFindsNothingAndKeepsOneReferenceForGood)
{
    for (const auto fault : { std::optional<sim::Fault>(), std::optional (sim::Fault::HidManagerCreate),
                              std::optional (sim::Fault::HidManagerOpen) })
    {
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
        EXPECT_TRUE (Settled (manager, fault ? std::vector<sim::HidId> {} : std::vector { ours }));
        const int before = slices;
        EXPECT_TRUE (fault || WaitFor ([before] { return slices > before + 2; }));
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
    const VirtualChannelsEngine engine;
    EXPECT_EQ (engine.hidDevices->getTimerInterval(), 250);
}

/** Hands the probe a report as IOKit would, on this thread. */
void Deliver (HidDevice& to, std::uint32_t reportId, Bytes report, IOHIDDeviceRef sender = nullptr)
{
    HidDevice::OnInputReport (&HidDeviceRegistry::idTable[std::size_t (to.id)], 0, sender ? sender : to.device,
                              kIOHIDReportTypeInput, reportId, report.data(), CFIndex (report.size()));
}

TEST (HidProbe, ReadsTheDetailsEvenWhenTheOpenFailsAndRegistersOnlyAnOpenedDevice)
{
    std::vector<sim::HidId> ids;
    const auto no = std::nullopt;
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
    ids.push_back (sim::AddHidDevice ({ { "VendorID", 0x7A31 }, { "SerialNumber", 12345 }, { "LocationID", 0x2B } }));
    sim::FailHidDeviceOpen (ids[8]);
    const int slicesBefore = slices;
    const IOHIDManager hid; // made once everything is plugged in, so that it finds it all at once
    const auto Probe = [&hid] (const juce::String& uniqueId)
    {
        auto probe = std::make_unique<HidDevice>();
        probe->Attach (hid.manager, uniqueId);
        probe->Open();
        return probe;
    };
    const char* const expected[] = {
        "100 1.2.3 QV2400117 0", "101 18.3.4 14200000 1", "102 18.3.4 0000001A 4", "104 0.0.0 000000AB 128",
        "105 1.2.3  1024",       "106 1.2.3 0000001A 0",  "107 1.2.3 QV77 0",      "5 1.2.3 QV2400117 16",
        "-7 2.0.5 0000001A 4",   "0 0.0.0 0000002B 0",
    };
    for (const juce::String line : expected)
    {
        const auto probe = Probe (line.upToFirstOccurrenceOf (" ", false, false));
        EXPECT_EQ (line.fromFirstOccurrenceOf (" ", false, false),
                   Firmware (*probe) + " " + probe->serialNumber + " " + juce::String (probe->slotSize));
        EXPECT_EQ (probe->ringBytes, probe->slotSize * 1024);
    }
    EXPECT_EQ (Probe ("4294967301")->device, nullptr);
    // Only an opened device is registered and fills its ring; destruction undoes it all.
    const IOHIDDeviceRef unit = sim::HidDeviceRef (ids[7]), failing = sim::HidDeviceRef (ids[8]);
    const auto references = std::make_pair (CFGetRetainCount (unit), CFGetRetainCount (failing));
    auto probe = Probe ("5");
    auto failed = Probe ("-7");
    const auto Ring = [&probe] (std::size_t from, std::size_t to)
    { return Bytes (&probe->ring[from], &probe->ring[to]); };
    EXPECT_EQ (std::make_tuple (probe->device, probe->id, failed->device, failed->id),
               std::make_tuple (unit, 0, failing, 1));
    EXPECT_EQ (std::make_pair (CFGetRetainCount (unit), CFGetRetainCount (failing)),
               std::make_pair (references.first + 1, references.second + 1));
    EXPECT_TRUE (sim::GetHidDeviceCounters (ids[7]).callbackRegistered);
    EXPECT_FALSE (sim::GetHidDeviceCounters (ids[8]).callbackRegistered);
    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
        EXPECT_EQ (std::make_pair (HidDeviceRegistry::idTable[0], HidDeviceRegistry::idTable[1]),
                   std::make_pair (0, -1));
        EXPECT_EQ (HidDeviceRegistry::devicesById, (std::map<std::uint32_t, HidDevice*> { { 0, probe.get() } }));
    }
    // Through the HID thread, a report lands in the first slot without its ID byte.
    ASSERT_TRUE (WaitFor ([slicesBefore] { return slices > slicesBefore; }));
    sim::SendInputReport (ids[7], 5, { 5, 1, 2, 3, 4, 5, 6, 7, 8 });
    ASSERT_TRUE (WaitFor ([&probe] { return probe->writeSlot.load() == 1; }));
    EXPECT_EQ (Ring (0, 9), (Bytes { 1, 2, 3, 4, 5, 6, 7, 8, 0 }));
    // Too short for its ID, longer than the 16-byte slot, or from another device: nothing is stored.
    Deliver (*probe, 5, {});
    Deliver (*probe, 0, Bytes (17, 1));
    Deliver (*probe, 7, Bytes (18, 7));
    Deliver (*probe, 0, { 1 }, failing);
    EXPECT_EQ (probe->writeSlot.load(), 1u);
    Deliver (*probe, 7, Bytes (17, 7)); // exactly a slot after its ID
    for (int n = 0; n <= 1022; ++n)     // an empty one takes a slot too; the last one wraps round to slot 0
        Deliver (*probe, 0, n == 0 ? Bytes {} : Bytes { std::uint8_t (n), std::uint8_t (n >> 8) });
    EXPECT_EQ (probe->writeSlot.load(), 1u);
    EXPECT_EQ (Ring (0, 18), (Bytes { 0xFE, 3, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7 }));
    EXPECT_EQ (Ring (31, 34), (Bytes { 7, 0, 0 }));
    EXPECT_EQ (Ring (16 * 1023, 16 * 1023 + 2), (Bytes { 0xFD, 3 }));
    probe.reset();
    failed.reset();
    EXPECT_EQ (std::make_pair (CFGetRetainCount (unit), CFGetRetainCount (failing)), references);
    EXPECT_EQ (sim::GetHidDeviceCounters (ids[7]).closes + sim::GetHidDeviceCounters (ids[8]).closes, 4)
        << "opened or not";
    EXPECT_FALSE (sim::GetHidDeviceCounters (ids[7]).callbackRegistered);
    EXPECT_EQ (HidDeviceRegistry::idTable[0], -1);
    EXPECT_TRUE (HidDeviceRegistry::devicesById.empty());
    // A late report of the first device, once its id 0 has gone to another one, is not the other's.
    const auto next = Probe ("102");
    Deliver (*next, 0, { 1, 2 }, unit);
    EXPECT_EQ (next->writeSlot.load(), 0u);
    Deliver (*next, 0, { 1, 2 });
    EXPECT_EQ (next->writeSlot.load(), 1u);
}

using Events = std::multiset<std::pair<char, int>>; // '+' connected or '-' disconnected, and the key
const auto KeyOf = [] (std::uint16_t product, const juce::String& serial)
{ return HidDevices::MakeDeviceKey (0x7A31, product, serial); };

class HidDevicesTest : public ::testing::Test
{
protected:
    // The slots read the details as the engine's do: a lock held while announcing would hang here. A tick
    // scans once the manager lists exactly the given devices.
    void SetUp() override
    {
        devices.DeviceDisconnected.connect ([this] (int key) { Heard ('-', key); });
        devices.DeviceConnected.connect ([this] (int key) { Heard ('+', key); });
    }
    void Heard (char kind, int key)
    {
        events.insert ({ kind, key });
        EXPECT_EQ (devices.GetDeviceInfo (key).has_value(), kind == '+');
        keysLeft.push_back (devices.GetDeviceKeys().size());
    }
    Events Tick (const std::vector<sim::HidId>& listed)
    {
        EXPECT_TRUE (Settled (devices.hidManager->manager, listed));
        events.clear();
        keysLeft.clear();
        devices.timerCallback();
        return events;
    }
    HidDevices devices;
    Events events;
    std::vector<std::size_t> keysLeft;
};

TEST_F (HidDevicesTest, AcceptedInterfacesAreProbedOnceStoredAndAnnouncedUntilTheyGo)
{
    const std::vector<sim::HidId> listed {
        Plug ({ .uniqueId = 0x1FFFFFFF5, .serial = "VEL1" }),
        Plug ({ .uniqueId = 12, .productId = 0x4D, .serial = "W1", .version = 0x1234 }),
        Plug ({ .uniqueId = 13, .productId = 0x30, .usagePage = 0xFF, .serial = std::nullopt, .locationId = 0x142 }),
        Plug ({ .uniqueId = 14, .productId = 0x4F, .usagePage = 0xFF, .serial = "", .version = std::nullopt }),
        Plug ({ .uniqueId = 15, .productId = 0x72, .usagePage = 0xFF }), // from here on passed over
        Plug ({ .uniqueId = 16, .productId = 0x74 }),
        Plug ({ .uniqueId = 17, .productId = 0x37, .usagePage = 0xFF01 }),
    };
    Plug ({ .uniqueId = 18, .vendorId = 0x7A30 });
    const std::map<int, juce::String> stored { { KeyOf (114, "VEL1"), "114 65280 -11 Tavrolux Velmar VEL1 1.2.3" },
                                               { KeyOf (0x4D, "W1"), "77 65280 12 Tavrolux Wystan W1 18.3.4" },
                                               { KeyOf (0x30, "00000142"), "48 255 13 Tavrolux Velmar 00000142 1.2.3" },
                                               { KeyOf (0x4F, ""), "79 255 14 Tavrolux TESK  0.0.0" } };
    EXPECT_EQ (Tick (listed).size(), stored.size());
    for (const auto& [key, details] : stored)
    {
        EXPECT_EQ (events.count ({ '+', key }), 1u);
        const auto info = devices.GetDeviceInfo (key).value_or (HidDeviceInfo {});
        EXPECT_EQ (juce::String (info.vendorId) + " " + juce::String (info.productId) + " " +
                       juce::String (info.usagePage) + " " + info.uniqueId + " " + info.productName + " " +
                       info.serialNumber + " " + Firmware (info),
                   "31281 " + details);
    }
    EXPECT_TRUE (Tick (listed).empty());
    for (const auto id : listed)
        sim::RemoveHidDevice (id);
    EXPECT_EQ (Tick ({}).size(), 4u);
    // Removals are announced one by one, each after its record has gone.
    const auto a = Plug ({ .uniqueId = 41, .serial = "A" });
    const auto b = Plug ({ .uniqueId = 42, .productId = 115, .serial = "B" });
    const auto kept = Plug ({ .uniqueId = 43, .productId = 120, .serial = "K" });
    const int keptKey = KeyOf (120, "K");
    EXPECT_EQ (Tick ({ a, b, kept }).size(), 3u);
    sim::RemoveHidDevice (a);
    sim::RemoveHidDevice (b);
    EXPECT_EQ (Tick ({ kept }), (Events { { '-', KeyOf (114, "A") }, { '-', KeyOf (115, "B") } }));
    EXPECT_EQ (keysLeft, (std::vector<std::size_t> { 2, 1 }));
    EXPECT_EQ (devices.GetDeviceKeys(), std::vector<int> { keptKey });
    // Unplugged and plugged back between two ticks: a new unique ID under the same key.
    sim::RemoveHidDevice (kept);
    const auto back = Plug ({ .uniqueId = 44, .productId = 120, .serial = "K" });
    EXPECT_EQ (Tick ({ back }), (Events { { '-', keptKey }, { '+', keptKey } }));
    EXPECT_EQ (devices.GetDeviceInfo (keptKey).value_or (HidDeviceInfo {}).uniqueId, "44");
    sim::RemoveHidDevice (back);
    EXPECT_EQ (Tick ({}), (Events { { '-', keptKey } }));
    EXPECT_TRUE (Tick ({}).empty());
}

} // namespace
