#include "HidTestSupport.h"

#include "devices/HidDevice.h"
#include "devices/IOHIDManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace
{

using hidtest::Interface;
using hidtest::Plug;

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

std::vector<std::uint8_t> SlotBytes (const HidDevice& probe, std::size_t slot, std::size_t count)
{
    const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
    const auto* start = probe.ring.get() + probe.slotSize * slot;
    return { start, start + count };
}

void Deliver (HidDevice& probe, std::uint32_t reportId, std::vector<std::uint8_t> report, void* sender = nullptr)
{
    HidDevice::OnInputReport (&HidDeviceRegistry::idTable[static_cast<std::size_t> (probe.id)], 0,
                              sender != nullptr ? sender : probe.device, kIOHIDReportTypeInput, reportId, report.data(),
                              static_cast<CFIndex> (report.size()));
}

TEST_F (HidDeviceTest, FirmwareComesFromTheVersionNumberBits)
{
    struct Case
    {
        std::optional<std::int64_t> version;
        int major, minor, patch;
    };

    const Case cases[] = {
        { 0x0123, 1, 2, 3 },    { 0x0510, 5, 1, 0 },       { 0x1234, 18, 3, 4 },
        { 0xAB1234, 18, 3, 4 }, { std::nullopt, 0, 0, 0 },
    };

    std::int64_t uniqueId = 100;

    for (const auto& c : cases)
    {
        Plug ({ .uniqueId = ++uniqueId, .version = c.version });
        const auto probe = Probe (juce::String (uniqueId));

        EXPECT_EQ (probe->firmwareMajor, c.major) << uniqueId;
        EXPECT_EQ (probe->firmwareMinor, c.minor) << uniqueId;
        EXPECT_EQ (probe->firmwarePatch, c.patch) << uniqueId;
    }
}

TEST_F (HidDeviceTest, RingSlotsAreTheNextPowerOfTwoOfTheReportSize)
{
    struct Case
    {
        std::optional<std::int64_t> reportSize;
        std::size_t slotSize;
    };

    // Sizes no ring could hold (negative, or a slot of a terabyte) read as missing.
    const Case cases[] = { { 0, 0 },   { 1, 1 },        { 2, 2 },       { 3, 4 },
                           { 64, 64 }, { 65, 128 },     { 1000, 1024 }, { std::nullopt, 0 },
                           { -1, 0 },  { 1LL << 40, 0 } };

    std::int64_t uniqueId = 200;

    for (const auto& c : cases)
    {
        Plug ({ .uniqueId = ++uniqueId, .maxReportSize = c.reportSize });
        const auto probe = Probe (juce::String (uniqueId));

        ASSERT_NE (probe->device, nullptr);
        EXPECT_EQ (probe->slotSize, c.slotSize) << uniqueId;
        EXPECT_EQ (probe->ringBytes, c.slotSize * 1024) << uniqueId;
        EXPECT_GE (probe->slotSize, probe->reportSize) << uniqueId;
    }
}

TEST_F (HidDeviceTest, SerialNumberFallsBackToTheLocationId)
{
    struct Case
    {
        std::optional<std::string> serial;
        std::optional<std::int64_t> location;
        const char* expected;
    };

    const Case cases[] = {
        { std::nullopt, 0x14200000, "14200000" },
        { std::nullopt, 0x1A, "0000001A" },
        { std::nullopt, 0xFA120000, "FA120000" },
        { std::nullopt, 0x1000000AB, "000000AB" },
        { std::nullopt, 0, "" },
        { std::nullopt, std::nullopt, "" },
        { std::string (""), 0x1A, "0000001A" },
        { std::string ("QV77"), 0x14200000, "QV77" },
    };

    std::int64_t uniqueId = 300;

    for (const auto& c : cases)
    {
        Plug ({ .uniqueId = ++uniqueId, .serial = c.serial, .locationId = c.location });
        EXPECT_EQ (Probe (juce::String (uniqueId))->serialNumber, c.expected) << uniqueId;
    }

    // A serial number that is not a string is no serial number.
    sim::AddHidDevice (
        { { "VendorID", 0x7A31 }, { "UniqueID", 399 }, { "SerialNumber", 12345 }, { "LocationID", 0x2B } });
    EXPECT_EQ (Probe ("399")->serialNumber, "0000002B");
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
    EXPECT_EQ (missing->serialNumber, "");
    EXPECT_EQ (missing->firmwareMajor, 0xFF);
    EXPECT_EQ (missing->ring, nullptr);
    EXPECT_EQ (hidtest::CountLogLines ("IOHIDDeviceOpen"), 0);
}

TEST_F (HidDeviceTest, OpenRegistersAndDestructionUndoesEverything)
{
    const auto unit = Plug ({ .uniqueId = 42 });
    const IOHIDDeviceRef ref = sim::HidDeviceRef (unit);
    const auto referencesBefore = CFGetRetainCount (ref);

    auto probe = Probe ("42");

    ASSERT_EQ (probe->device, ref);
    EXPECT_EQ (probe->id, 0);
    EXPECT_EQ (CFGetRetainCount (ref), referencesBefore + 1);
    EXPECT_TRUE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    EXPECT_EQ (sim::GetHidDeviceCounters (unit).opens, 1);
    {
        const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
        EXPECT_EQ (HidDeviceRegistry::idTable[0], 0);
        ASSERT_EQ (HidDeviceRegistry::devicesById.size(), 1u);
        EXPECT_EQ (HidDeviceRegistry::devicesById.at (0), probe.get());
    }

    probe.reset();

    const auto counters = sim::GetHidDeviceCounters (unit);
    EXPECT_EQ (counters.closes, 1);
    EXPECT_FALSE (counters.callbackRegistered);
    EXPECT_EQ (CFGetRetainCount (ref), referencesBefore);
    EXPECT_TRUE (hidtest::IdTableAllFree());
    EXPECT_TRUE (HidDeviceRegistry::devicesById.empty());
}

TEST_F (HidDeviceTest, FailedOpenStillReadsClosesAndReleases)
{
    const auto unit = Plug ({ .uniqueId = 43, .serial = std::nullopt, .version = 0x0205, .locationId = 0x1A });
    sim::FailHidDeviceOpen (unit);
    const IOHIDDeviceRef ref = sim::HidDeviceRef (unit);
    const auto referencesBefore = CFGetRetainCount (ref);

    auto probe = Probe ("43");

    EXPECT_EQ (probe->serialNumber, "0000001A");
    EXPECT_EQ (probe->firmwareMajor, 2);
    EXPECT_EQ (probe->firmwarePatch, 5);
    EXPECT_EQ (sim::GetHidDeviceCounters (unit).failedOpens, 1);
    EXPECT_FALSE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    EXPECT_TRUE (HidDeviceRegistry::devicesById.empty());
    EXPECT_TRUE (hidtest::IdTableAllFree());

    probe.reset();

    EXPECT_EQ (sim::GetHidDeviceCounters (unit).closes, 1);
    EXPECT_EQ (CFGetRetainCount (ref), referencesBefore);
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
    EXPECT_EQ (SlotBytes (*probe, first, 9), (std::vector<std::uint8_t> { 1, 2, 3, 4, 5, 6, 7, 8, 0 }));
    EXPECT_EQ (SlotBytes (*probe, first + 1, 9), (std::vector<std::uint8_t> { 9, 8, 7, 6, 5, 4, 3, 2, 0 }));
}

TEST_F (HidDeviceTest, TheRingWrapsAfter1024Reports)
{
    Plug ({ .uniqueId = 51, .maxReportSize = 4 });
    const auto probe = Probe ("51");

    for (int n = 0; n < 1025; ++n)
        Deliver (*probe, 0, { static_cast<std::uint8_t> (n & 0xFF), static_cast<std::uint8_t> (n >> 8), 0xAA, 0xBB });

    EXPECT_EQ (probe->writeSlot.load(), 1u);
    EXPECT_EQ (SlotBytes (*probe, 0, 4), (std::vector<std::uint8_t> { 0x00, 0x04, 0xAA, 0xBB })); // report 1024
    EXPECT_EQ (SlotBytes (*probe, 1, 4), (std::vector<std::uint8_t> { 0x01, 0x00, 0xAA, 0xBB }));
    EXPECT_EQ (SlotBytes (*probe, 1023, 4), (std::vector<std::uint8_t> { 0xFF, 0x03, 0xAA, 0xBB }));
}

TEST_F (HidDeviceTest, ReportsThatDoNotFitASlotStoreNothing)
{
    Plug ({ .uniqueId = 52, .maxReportSize = 4 });
    const auto probe = Probe ("52");

    Deliver (*probe, 5, {});                   // too short to hold its own ID
    Deliver (*probe, 0, { 1, 2, 3, 4, 5 });    // longer than a slot
    Deliver (*probe, 7, { 7, 1, 2, 3, 4, 5 }); // longer than a slot after its ID
    EXPECT_EQ (probe->writeSlot.load(), 0u);
    EXPECT_EQ (SlotBytes (*probe, 0, 4), (std::vector<std::uint8_t> { 0, 0, 0, 0 }));
    EXPECT_EQ (SlotBytes (*probe, 1, 4), (std::vector<std::uint8_t> { 0, 0, 0, 0 }));

    Deliver (*probe, 7, { 7, 1, 2, 3, 4 }); // exactly a slot after its ID
    EXPECT_EQ (probe->writeSlot.load(), 1u);
    EXPECT_EQ (SlotBytes (*probe, 0, 4), (std::vector<std::uint8_t> { 1, 2, 3, 4 }));
}

TEST_F (HidDeviceTest, AnEmptyRingStoresNothing)
{
    Plug ({ .uniqueId = 53, .maxReportSize = 0 });
    const auto probe = Probe ("53");
    ASSERT_EQ (probe->slotSize, 0u);

    Deliver (*probe, 0, {});
    Deliver (*probe, 0, { 1 });
    Deliver (*probe, 3, { 3 });
    EXPECT_EQ (probe->writeSlot.load(), 0u);
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
    EXPECT_EQ (SlotBytes (*other, 0, 4), (std::vector<std::uint8_t> { 0, 0, 0, 0 }));

    HidDevice::OnInputReport (context, 0, other->device, kIOHIDReportTypeInput, 0, report, 4);
    EXPECT_EQ (other->writeSlot.load(), 1u);
}

} // namespace
