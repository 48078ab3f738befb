#include "HidTestSupport.h"

#include "devices/HidDevice.h"
#include "devices/IOHIDManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace
{

using hidtest::Interface;
using hidtest::Plug;
using Bytes = std::vector<std::uint8_t>;

class HidDeviceTest : public hidtest::SimulatedHidTest
{
protected:
    void SetUp() override
    {
        SimulatedHidTest::SetUp();
        hid = std::make_unique<IOHIDManager>();
        ASSERT_NE (hid->manager, nullptr);
    }

    void TearDown() override { hid.reset(); }

    /** A probe attached to and opened on the interface with this unique-ID text. */
    std::unique_ptr<HidDevice> Probe (const juce::String& uniqueId)
    {
        auto probe = std::make_unique<HidDevice>();
        probe->Attach (hid->manager, uniqueId);
        probe->Open();
        return probe;
    }

    std::unique_ptr<IOHIDManager> hid;
};

Bytes SlotBytes (const HidDevice& probe, std::size_t slot, std::size_t count)
{
    const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
    const auto* start = probe.ring.get() + probe.slotSize * slot;
    return { start, start + count };
}

void Deliver (HidDevice& probe, std::uint32_t reportId, Bytes report)
{
    HidDevice::OnInputReport (&HidDeviceRegistry::idTable[static_cast<std::size_t> (probe.id)], 0, probe.device,
                              kIOHIDReportTypeInput, reportId, report.data(), static_cast<CFIndex> (report.size()));
}

TEST_F (HidDeviceTest, OpenReadsFirmwareSlotSizeAndSerialWithItsFallback)
{
    struct Case
    {
        Interface interface;
        const char* firmware;
        std::size_t slotSize;
        const char* serial;
    };

    // Report sizes no ring could hold (negative, or a slot of a terabyte) read as missing.
    const auto no = std::nullopt;
    const Case cases[] = {
        { { .version = 0x0123, .maxReportSize = 0 }, "1.2.3", 0, "QV2400117" },
        { { .serial = no, .version = 0x1234, .maxReportSize = 1, .locationId = 0x14200000 }, "18.3.4", 1, "14200000" },
        { { .serial = no, .version = 0xAB1234, .maxReportSize = 3, .locationId = 0x1A }, "18.3.4", 4, "0000001A" },
        { { .serial = no, .version = no, .maxReportSize = 64, .locationId = 0xFA120000 }, "0.0.0", 64, "FA120000" },
        { { .serial = no, .version = 0x0510, .maxReportSize = 65, .locationId = 0x1000000AB },
          "5.1.0",
          128,
          "000000AB" },
        { { .serial = no, .maxReportSize = 1000, .locationId = 0 }, "1.2.3", 1024, "" },
        { { .serial = no, .maxReportSize = no }, "1.2.3", 0, "" },
        { { .serial = "", .maxReportSize = -1, .locationId = 0x1A }, "1.2.3", 0, "0000001A" },
        { { .serial = "QV77", .maxReportSize = 1LL << 40, .locationId = 0x14200000 }, "1.2.3", 0, "QV77" },
    };

    std::int64_t uniqueId = 100;
    for (auto c : cases)
    {
        c.interface.uniqueId = ++uniqueId;
        Plug (c.interface);
        const auto probe = Probe (juce::String (uniqueId));
        ASSERT_NE (probe->device, nullptr);
        EXPECT_EQ (juce::String (probe->firmwareMajor) + "." + juce::String (probe->firmwareMinor) + "." +
                       juce::String (probe->firmwarePatch),
                   c.firmware);
        EXPECT_EQ (probe->slotSize, c.slotSize) << uniqueId;
        EXPECT_EQ (probe->ringBytes, c.slotSize * 1024) << uniqueId;
        EXPECT_GE (probe->slotSize, probe->reportSize) << uniqueId;
        EXPECT_EQ (probe->serialNumber, c.serial) << uniqueId;
    }

    // A serial number that is not a string is no serial number.
    sim::AddHidDevice (
        { { "VendorID", 0x7A31 }, { "UniqueID", 199 }, { "SerialNumber", 12345 }, { "LocationID", 0x2B } });
    EXPECT_EQ (Probe ("199")->serialNumber, "0000002B");
}

TEST_F (HidDeviceTest, AttachFindsTheInterfaceByItsUniqueIdText)
{
    const auto five = Plug ({ .uniqueId = 0x100000005 }); // low 32 bits: 5
    const auto minusSeven = Plug ({ .uniqueId = -7 });
    sim::AddHidDevice ({ { "VendorID", 0x7A31 }, { "SerialNumber", std::string ("NOID") } });
    EXPECT_EQ (Probe ("5")->device, sim::HidDeviceRef (five));
    EXPECT_EQ (Probe ("-7")->device, sim::HidDeviceRef (minusSeven));
    EXPECT_EQ (Probe ("0")->serialNumber, "NOID");

    sim::ClearCallLog();
    const auto missing = Probe ("4294967301");
    EXPECT_EQ (missing->device, nullptr);
    EXPECT_EQ (missing->id, -1);
    EXPECT_EQ (hidtest::CountLogLines ("IOHIDDeviceOpen"), 0);
}

TEST_F (HidDeviceTest, OpenRegistersAFailedOpenStillReadsAndDestructionUndoesBoth)
{
    const auto unit = Plug ({ .uniqueId = 42 });
    const auto failing = Plug ({ .uniqueId = 43, .serial = std::nullopt, .version = 0x0205, .locationId = 0x1A });
    sim::FailHidDeviceOpen (failing);
    const IOHIDDeviceRef refs[] = { sim::HidDeviceRef (unit), sim::HidDeviceRef (failing) };
    const CFIndex referencesBefore[] = { CFGetRetainCount (refs[0]), CFGetRetainCount (refs[1]) };

    auto probe = Probe ("42");
    auto failed = Probe ("43");
    ASSERT_EQ (probe->device, refs[0]);
    EXPECT_EQ (probe->id, 0);
    EXPECT_TRUE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    EXPECT_EQ (sim::GetHidDeviceCounters (unit).opens, 1);
    EXPECT_EQ (failed->serialNumber, "0000001A");
    EXPECT_EQ (failed->firmwareMajor, 2);
    EXPECT_EQ (failed->firmwarePatch, 5);
    EXPECT_EQ (sim::GetHidDeviceCounters (failing).failedOpens, 1);
    EXPECT_FALSE (sim::GetHidDeviceCounters (failing).callbackRegistered);
    for (int i : { 0, 1 })
        EXPECT_EQ (CFGetRetainCount (refs[i]), referencesBefore[i] + 1);
    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
        EXPECT_EQ (HidDeviceRegistry::idTable[0], 0);
        EXPECT_EQ (HidDeviceRegistry::idTable[1], -1);
        EXPECT_EQ (HidDeviceRegistry::devicesById, (std::map<std::uint32_t, HidDevice*> { { 0, probe.get() } }));
    }

    probe.reset();
    failed.reset();
    for (int i : { 0, 1 })
    {
        EXPECT_EQ (sim::GetHidDeviceCounters (i == 0 ? unit : failing).closes, 1);
        EXPECT_FALSE (sim::GetHidDeviceCounters (i == 0 ? unit : failing).callbackRegistered);
        EXPECT_EQ (CFGetRetainCount (refs[i]), referencesBefore[i]);
    }
    EXPECT_TRUE (hidtest::IdTableAllFree());
    EXPECT_TRUE (HidDeviceRegistry::devicesById.empty());
}

TEST_F (HidDeviceTest, ReportsArriveOnTheHidThreadIntoConsecutiveSlots)
{
    const auto unit = Plug ({ .uniqueId = 50, .maxReportSize = 9 });
    const auto probe = Probe ("50");
    ASSERT_EQ (probe->slotSize, 16u);

    // Reports reach the program only once the HID thread has scheduled the
    // manager on its run loop: prime until one gets through, then let
    // stragglers land before the reports under test.
    ASSERT_TRUE (hidtest::WaitFor (
        [&]
        {
            sim::SendInputReport (unit, 0, { 0xEE });
            return hidtest::WaitFor ([&] { return probe->writeSlot.load() != 0; }, 20);
        }));
    juce::Thread::sleep (200);
    const auto first = probe->writeSlot.load();

    sim::SendInputReport (unit, 5, { 5, 1, 2, 3, 4, 5, 6, 7, 8 });
    ASSERT_TRUE (hidtest::WaitFor ([&] { return probe->writeSlot.load() == first + 1; }));
    sim::SendInputReport (unit, 0, { 9, 8, 7, 6, 5, 4, 3, 2 });
    ASSERT_TRUE (hidtest::WaitFor ([&] { return probe->writeSlot.load() == first + 2; }));

    // With a report ID the ID byte is left out; without one every byte is kept.
    EXPECT_EQ (SlotBytes (*probe, first, 9), (Bytes { 1, 2, 3, 4, 5, 6, 7, 8, 0 }));
    EXPECT_EQ (SlotBytes (*probe, first + 1, 9), (Bytes { 9, 8, 7, 6, 5, 4, 3, 2, 0 }));
}

TEST_F (HidDeviceTest, OnlyReportsThatFitASlotAreStoredAndThe1025thWraps)
{
    Plug ({ .uniqueId = 52, .maxReportSize = 4 });
    Plug ({ .uniqueId = 53, .maxReportSize = 0 });
    const auto probe = Probe ("52");
    const auto empty = Probe ("53");
    ASSERT_EQ (empty->slotSize, 0u);

    Deliver (*probe, 5, {});                   // too short to hold its own ID
    Deliver (*probe, 0, { 1, 2, 3, 4, 5 });    // longer than a slot
    Deliver (*probe, 7, { 7, 1, 2, 3, 4, 5 }); // longer than a slot after its ID
    for (const auto& report : { Bytes {}, Bytes { 1 } })
        Deliver (*empty, 0, report);
    Deliver (*empty, 3, { 3 });
    EXPECT_EQ (empty->writeSlot.load(), 0u);
    EXPECT_EQ (probe->writeSlot.load(), 0u);
    EXPECT_EQ (SlotBytes (*probe, 0, 8), (Bytes (8, 0)));

    Deliver (*probe, 7, { 7, 1, 2, 3, 4 }); // exactly a slot after its ID
    EXPECT_EQ (probe->writeSlot.load(), 1u);
    EXPECT_EQ (SlotBytes (*probe, 0, 4), (Bytes { 1, 2, 3, 4 }));

    for (int n = 1; n <= 1024; ++n)
        Deliver (*probe, 0, { static_cast<std::uint8_t> (n & 0xFF), static_cast<std::uint8_t> (n >> 8), 0xAA, 0xBB });
    EXPECT_EQ (probe->writeSlot.load(), 1u);
    EXPECT_EQ (SlotBytes (*probe, 0, 4), (Bytes { 0x00, 0x04, 0xAA, 0xBB })); // report 1024
    EXPECT_EQ (SlotBytes (*probe, 1, 4), (Bytes { 0x01, 0x00, 0xAA, 0xBB }));
    EXPECT_EQ (SlotBytes (*probe, 1023, 4), (Bytes { 0xFF, 0x03, 0xAA, 0xBB }));
}

TEST_F (HidDeviceTest, LateAndForeignReportsChangeNothing)
{
    const auto first = Plug ({ .uniqueId = 60, .maxReportSize = 4 });
    const auto second = Plug ({ .uniqueId = 61, .maxReportSize = 4 });
    const IOHIDDeviceRef firstRef = sim::HidDeviceRef (first);
    std::int32_t* const context = &HidDeviceRegistry::idTable[0];
    std::uint8_t report[] = { 1, 2, 3, 4 };

    auto probe = Probe ("60");
    ASSERT_EQ (probe->id, 0);
    probe.reset();
    // The handle is gone: its entry says so, and nothing is touched.
    EXPECT_EQ (*context, -1);
    HidDevice::OnInputReport (context, 0, firstRef, kIOHIDReportTypeInput, 0, report, 4);

    // Id 0 now belongs to another device; a late report of the first one is not its.
    const auto other = Probe ("61");
    ASSERT_EQ (other->id, 0);
    ASSERT_EQ (other->device, sim::HidDeviceRef (second));
    HidDevice::OnInputReport (context, 0, firstRef, kIOHIDReportTypeInput, 0, report, 4);
    HidDevice::OnInputReport (nullptr, 0, other->device, kIOHIDReportTypeInput, 0, report, 4);
    EXPECT_EQ (other->writeSlot.load(), 0u);
    EXPECT_EQ (SlotBytes (*other, 0, 4), (Bytes { 0, 0, 0, 0 }));

    HidDevice::OnInputReport (context, 0, other->device, kIOHIDReportTypeInput, 0, report, 4);
    EXPECT_EQ (other->writeSlot.load(), 1u);
}

} // namespace
