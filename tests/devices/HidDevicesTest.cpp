#include "HidTestSupport.h"

#include "devices/HidDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace
{

using hidtest::Interface;
using hidtest::Plug;

struct Event
{
    char kind; // '+' connected, '-' disconnected
    int key;

    bool operator== (const Event& other) const { return kind == other.kind && key == other.key; }
};

std::ostream& operator<< (std::ostream& out, const Event& e)
{
    return out << e.kind << e.key;
}

int KeyOf (std::uint16_t productId, const juce::String& serial)
{
    return HidDevices::MakeDeviceKey (0x7A31, productId, serial);
}

class HidDevicesTest : public hidtest::SimulatedHidTest
{
protected:
    void SetUp() override
    {
        SimulatedHidTest::SetUp();
        devices = std::make_unique<HidDevices>();
        devices->DeviceDisconnected.connect (
            [this] (int key)
            {
                events.push_back ({ '-', key });
                if (onDisconnected)
                    onDisconnected (key);
            });
        devices->DeviceConnected.connect (
            [this] (int key)
            {
                events.push_back ({ '+', key });
                if (onConnected)
                    onConnected (key);
            });
    }

    void TearDown() override { devices.reset(); }

    std::vector<Event> Tick()
    {
        events.clear();
        devices->timerCallback();
        return events;
    }

    /** The unique-ID texts of the maker's devices, in the order the manager lists them. */
    std::vector<juce::String> ListedUniqueIds() const
    {
        std::vector<juce::String> ids;
        const CFSetRef set = IOHIDManagerCopyDevices (devices->hidManager->manager);

        if (set == nullptr)
            return ids;

        std::vector<const void*> values (static_cast<std::size_t> (CFSetGetCount (set)));
        CFSetGetValues (set, values.data());

        for (const void* value : values)
        {
            const auto number = static_cast<CFNumberRef> (
                IOHIDDeviceGetProperty (static_cast<IOHIDDeviceRef> (const_cast<void*> (value)), CFSTR ("UniqueID")));
            long long uniqueId = 0;
            CFNumberGetValue (number, kCFNumberLongLongType, &uniqueId);
            ids.push_back (juce::String (uniqueId));
        }

        CFRelease (set);
        return ids;
    }

    std::unique_ptr<HidDevices> devices;
    std::vector<Event> events;
    std::function<void (int)> onConnected, onDisconnected;
};

TEST_F (HidDevicesTest, NewInterfacesAreProbedStoredAndAnnouncedInScanOrder)
{
    const auto mixer = Plug ({ .uniqueId = 11, .productId = 114, .serial = std::string ("VEL1") });
    const auto altOnly = Plug ({ .uniqueId = 12, .productId = 0x4D, .serial = std::string ("W1"), .version = 0x1234 });
    const auto oldPage = Plug ({ .uniqueId = 13,
                                 .productId = 0x30,
                                 .usagePage = 0x00FF,
                                 .serial = std::nullopt,
                                 .version = std::nullopt,
                                 .locationId = 0x14200000 });
    const auto wrongPage = Plug ({ .uniqueId = 14, .productId = 0x72, .usagePage = 0x00FF });
    const auto unknown = Plug ({ .uniqueId = 15, .productId = 0x74 });
    const auto foreign = Plug ({ .uniqueId = 16, .productId = 114, .vendorId = 0x7A30 });

    std::map<juce::String, int> expectedKeys { { "11", KeyOf (114, "VEL1") },
                                               { "12", KeyOf (0x4D, "W1") },
                                               { "13", KeyOf (0x30, "14200000") } };
    std::vector<Event> expected;

    for (const auto& uniqueId : ListedUniqueIds())
        if (expectedKeys.count (uniqueId) != 0)
            expected.push_back ({ '+', expectedKeys[uniqueId] });

    ASSERT_EQ (expected.size(), 3u);
    EXPECT_EQ (Tick(), expected);

    const auto velmar = devices->GetDeviceInfo (KeyOf (114, "VEL1"));
    ASSERT_TRUE (velmar.has_value());
    EXPECT_EQ (velmar->vendorId, 0x7A31);
    EXPECT_EQ (velmar->productId, 114);
    EXPECT_EQ (velmar->usagePage, 0xFF00);
    EXPECT_EQ (velmar->uniqueId, "11");
    EXPECT_EQ (velmar->productName, "Tavrolux Velmar");
    EXPECT_EQ (velmar->serialNumber, "VEL1");
    EXPECT_EQ (velmar->firmwareMajor, 1);
    EXPECT_EQ (velmar->firmwareMinor, 2);
    EXPECT_EQ (velmar->firmwarePatch, 3);

    const auto wystan = devices->GetDeviceInfo (KeyOf (0x4D, "W1"));
    ASSERT_TRUE (wystan.has_value());
    EXPECT_EQ (wystan->productName, HidDevices::FindSupportedDevice (0x7A31, 0x4C)->name);
    EXPECT_EQ (wystan->firmwareMajor, 18);

    // Probed, but with no version number: 0.0.0, not "not read".
    const auto early = devices->GetDeviceInfo (KeyOf (0x30, "14200000"));
    ASSERT_TRUE (early.has_value());
    EXPECT_EQ (early->usagePage, 0x00FF);
    EXPECT_EQ (early->firmwareMajor, 0);
    EXPECT_EQ (early->firmwareMinor, 0);
    EXPECT_EQ (early->firmwarePatch, 0);

    // Each accepted interface was opened and closed once; the others never.
    for (const auto unit : { mixer, altOnly, oldPage })
    {
        EXPECT_EQ (sim::GetHidDeviceCounters (unit).opens, 1);
        EXPECT_EQ (sim::GetHidDeviceCounters (unit).closes, 1);
        EXPECT_FALSE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    }

    for (const auto unit : { wrongPage, unknown, foreign })
        EXPECT_EQ (sim::GetHidDeviceCounters (unit).opens, 0);

    EXPECT_EQ (devices->GetDeviceKeys().size(), 3u);
    EXPECT_FALSE (devices->GetDeviceInfo (-1).has_value());
}

TEST_F (HidDevicesTest, ATickWithNothingNewOpensNothing)
{
    Plug ({ .uniqueId = 21, .serial = std::string ("A") });
    Plug ({ .uniqueId = 22, .serial = std::string ("B") });
    ASSERT_EQ (Tick().size(), 2u);

    sim::ClearCallLog();
    EXPECT_TRUE (Tick().empty());
    EXPECT_TRUE (Tick().empty());
    EXPECT_EQ (hidtest::CountLogLines ("IOHIDDeviceOpen"), 0);
    EXPECT_EQ (devices->GetDeviceKeys().size(), 2u);
}

TEST_F (HidDevicesTest, AnEmptySetRemovesEveryRecordOnce)
{
    const auto a = Plug ({ .uniqueId = 31, .serial = std::string ("A") });
    const auto b = Plug ({ .uniqueId = 32, .productId = 115, .serial = std::string ("B") });
    const auto c = Plug ({ .uniqueId = 33, .productId = 120, .serial = std::string ("C") });
    Tick();

    for (const auto unit : { a, b, c })
        sim::RemoveHidDevice (unit);

    auto removed = Tick();
    std::sort (removed.begin(), removed.end(), [] (const Event& x, const Event& y) { return x.key < y.key; });
    std::vector<Event> expected { { '-', KeyOf (114, "A") }, { '-', KeyOf (115, "B") }, { '-', KeyOf (120, "C") } };
    std::sort (expected.begin(), expected.end(), [] (const Event& x, const Event& y) { return x.key < y.key; });

    EXPECT_EQ (removed, expected);
    EXPECT_TRUE (devices->GetDeviceKeys().empty());
    EXPECT_TRUE (Tick().empty());
}

TEST_F (HidDevicesTest, EachRemovalIsAnnouncedBeforeTheNextRecordGoes)
{
    const auto a = Plug ({ .uniqueId = 41, .serial = std::string ("A") });
    const auto b = Plug ({ .uniqueId = 42, .serial = std::string ("B") });
    const auto kept = Plug ({ .uniqueId = 43, .serial = std::string ("K") });
    Tick();

    std::vector<std::size_t> keysSeen;
    bool ownRecordGone = true;
    onDisconnected = [&] (int key)
    {
        keysSeen.push_back (devices->GetDeviceKeys().size());
        ownRecordGone = ownRecordGone && !devices->GetDeviceInfo (key).has_value();
    };

    sim::RemoveHidDevice (a);
    sim::RemoveHidDevice (b);
    EXPECT_EQ (Tick().size(), 2u);

    EXPECT_EQ (keysSeen, (std::vector<std::size_t> { 2, 1 }));
    EXPECT_TRUE (ownRecordGone);
    EXPECT_EQ (devices->GetDeviceKeys(), std::vector<int> { KeyOf (114, "K") });
    (void) kept;
}

TEST_F (HidDevicesTest, ReplugBetweenTicksIsARemovalThenAnArrivalOfTheSameKey)
{
    const auto first = Plug ({ .uniqueId = 51, .serial = std::string ("SAME") });
    const int key = KeyOf (114, "SAME");
    EXPECT_EQ (Tick(), (std::vector<Event> { { '+', key } }));

    sim::RemoveHidDevice (first);
    Plug ({ .uniqueId = 52, .serial = std::string ("SAME") });

    EXPECT_EQ (Tick(), (std::vector<Event> { { '-', key }, { '+', key } }));
    ASSERT_TRUE (devices->GetDeviceInfo (key).has_value());
    EXPECT_EQ (devices->GetDeviceInfo (key)->uniqueId, "52");
}

TEST_F (HidDevicesTest, AnInterfaceGoneBeforeItsProbeIsStoredWithoutDetails)
{
    const auto a = Plug ({ .uniqueId = 61, .productId = 114, .serial = std::string ("A") });
    const auto b = Plug ({ .uniqueId = 62, .productId = 121, .serial = std::string ("B") });
    const int keyA = KeyOf (114, "A");

    // The first arrival's slot pulls the other interface out before its probe.
    bool pulled = false;
    onConnected = [&] (int key)
    {
        if (!pulled)
            sim::RemoveHidDevice (key == keyA ? b : a);

        pulled = true;
    };

    const auto arrived = Tick();
    ASSERT_EQ (arrived.size(), 2u);

    const bool aFirst = arrived[0].key == keyA;
    const int vanishedKey = aFirst ? KeyOf (121, "") : KeyOf (114, "");
    EXPECT_EQ (arrived[1], (Event { '+', vanishedKey }));

    const auto info = devices->GetDeviceInfo (vanishedKey);
    ASSERT_TRUE (info.has_value());
    EXPECT_EQ (info->serialNumber, "");
    EXPECT_EQ (info->productName, aFirst ? "Tavrolux TESK" : "Tavrolux Velmar");
    EXPECT_EQ (info->firmwareMajor, 0xFF);
    EXPECT_EQ (info->firmwareMinor, 0xFF);
    EXPECT_EQ (info->firmwarePatch, 0xFF);

    EXPECT_EQ (Tick(), (std::vector<Event> { { '-', vanishedKey } }));
}

TEST_F (HidDevicesTest, TwoInterfacesOfOneUnitShareOneKeyAndAreProbedEveryTick)
{
    const auto first = Plug ({ .uniqueId = 71, .productId = 0x30, .serial = std::string ("U") });
    const auto second = Plug ({ .uniqueId = 72, .productId = 0x30, .usagePage = 0x00FF, .serial = std::string ("U") });
    const int key = KeyOf (0x30, "U");

    EXPECT_EQ (Tick(), (std::vector<Event> { { '+', key }, { '+', key } }));
    EXPECT_EQ (devices->GetDeviceKeys(), std::vector<int> { key });

    // The record holds one of the two unique IDs, so the other always looks new.
    EXPECT_EQ (Tick(), (std::vector<Event> { { '+', key }, { '+', key } }));
    EXPECT_EQ (sim::GetHidDeviceCounters (first).opens, 2);
    EXPECT_EQ (sim::GetHidDeviceCounters (second).opens, 2);
}

TEST_F (HidDevicesTest, SlotsMayReadTheDetailsWhileTheyAreAnnounced)
{
    const hidtest::Watchdog watchdog (20);
    const auto unit = Plug ({ .uniqueId = 81, .serial = std::string ("LIVE") });
    const int key = KeyOf (114, "LIVE");

    std::optional<HidDeviceInfo> seenOnArrival, seenOnRemoval;
    onConnected = [&] (int k) { seenOnArrival = devices->GetDeviceInfo (k); };
    onDisconnected = [&] (int k) { seenOnRemoval = devices->GetDeviceInfo (k); };

    Tick();
    ASSERT_TRUE (seenOnArrival.has_value());
    EXPECT_EQ (seenOnArrival->serialNumber, "LIVE");

    sim::RemoveHidDevice (unit);
    EXPECT_EQ (Tick(), (std::vector<Event> { { '-', key } }));
    EXPECT_FALSE (seenOnRemoval.has_value());
}

TEST_F (HidDevicesTest, AFailedOpenStillYieldsSerialAndFirmware)
{
    const auto unit = Plug ({ .uniqueId = 91, .serial = std::string ("F"), .version = 0x0321 });
    sim::FailHidDeviceOpen (unit);

    EXPECT_EQ (Tick(), (std::vector<Event> { { '+', KeyOf (114, "F") } }));
    const auto info = devices->GetDeviceInfo (KeyOf (114, "F"));
    ASSERT_TRUE (info.has_value());
    EXPECT_EQ (info->firmwareMajor, 3);
    EXPECT_EQ (info->firmwarePatch, 1);
    EXPECT_EQ (sim::GetHidDeviceCounters (unit).closes, 1);
}

class HidDevicesWithoutManagerTest : public hidtest::SimulatedHidTest
{
};

TEST_F (HidDevicesWithoutManagerTest, NoManagerMeansNoDevices)
{
    for (const auto fault : { sim::Fault::HidManagerCreate, sim::Fault::HidManagerOpen })
    {
        sim::Reset();
        Plug ({ .uniqueId = 101 });
        sim::InjectFault (fault);

        HidDevices devices;
        int announced = 0;
        devices.DeviceConnected.connect ([&] (int) { ++announced; });

        devices.timerCallback();
        devices.timerCallback();

        EXPECT_EQ (announced, 0);
        EXPECT_TRUE (devices.GetDeviceKeys().empty());
        sim::ClearFault (fault);
    }
}

} // namespace
