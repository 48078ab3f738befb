#include "HidTestSupport.h"

#include "devices/HidDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <vector>

namespace
{

using hidtest::Firmware;
using hidtest::Plug;

using Event = std::pair<char, int>; // '+' connected, '-' disconnected, and the key
using Events = std::vector<Event>;

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
        auto record = [this] (char kind, std::function<void (int)>& hook)
        {
            return [this, kind, &hook] (int key)
            {
                events.push_back ({ kind, key });
                if (hook)
                    hook (key);
            };
        };
        devices->DeviceDisconnected.connect (record ('-', onDisconnected));
        devices->DeviceConnected.connect (record ('+', onConnected));
    }

    void TearDown() override { devices.reset(); }

    Events Tick()
    {
        events.clear();
        devices->timerCallback();
        return events;
    }

    std::unique_ptr<HidDevices> devices;
    Events events;
    std::function<void (int)> onConnected, onDisconnected;
};

TEST_F (HidDevicesTest, NewInterfacesAreProbedStoredAndAnnouncedInScanOrder)
{
    const auto mixer = Plug ({ .uniqueId = 11, .productId = 114, .serial = "VEL1" });
    const auto altOnly = Plug ({ .uniqueId = 12, .productId = 0x4D, .serial = "W1", .version = 0x1234 });
    const auto oldPage = Plug ({ .uniqueId = 13,
                                 .productId = 0x30,
                                 .usagePage = 0x00FF,
                                 .serial = std::nullopt,
                                 .version = std::nullopt,
                                 .locationId = 0x14200000 });
    const auto wrongPage = Plug ({ .uniqueId = 14, .productId = 0x72, .usagePage = 0x00FF });
    const auto unknown = Plug ({ .uniqueId = 15, .productId = 0x74 });
    const auto foreign = Plug ({ .uniqueId = 16, .productId = 114, .vendorId = 0x7A30 });

    std::map<const void*, int> keys { { sim::HidDeviceRef (mixer), KeyOf (114, "VEL1") },
                                      { sim::HidDeviceRef (altOnly), KeyOf (0x4D, "W1") },
                                      { sim::HidDeviceRef (oldPage), KeyOf (0x30, "14200000") } };
    const CFSetRef set = IOHIDManagerCopyDevices (devices->hidManager->manager);
    ASSERT_NE (set, nullptr);
    std::vector<const void*> listed (static_cast<std::size_t> (CFSetGetCount (set)));
    CFSetGetValues (set, listed.data());
    CFRelease (set);
    Events expected;
    for (const void* device : listed)
        if (keys.count (device) != 0)
            expected.push_back ({ '+', keys[device] });
    ASSERT_EQ (expected.size(), 3u);
    EXPECT_EQ (Tick(), expected);
    EXPECT_EQ (devices->GetDeviceKeys().size(), 3u);
    EXPECT_FALSE (devices->GetDeviceInfo (-1).has_value());

    const auto velmar = devices->GetDeviceInfo (keys[sim::HidDeviceRef (mixer)]);
    ASSERT_TRUE (velmar.has_value());
    EXPECT_EQ (velmar->uniqueId, "11");
    EXPECT_EQ (velmar->productName, "Tavrolux Velmar");
    EXPECT_EQ (velmar->serialNumber, "VEL1");
    EXPECT_EQ (Firmware (*velmar), "1.2.3");

    const auto byAltId = devices->GetDeviceInfo (keys[sim::HidDeviceRef (altOnly)]);
    ASSERT_TRUE (byAltId.has_value());
    EXPECT_EQ (byAltId->productName, HidDevices::FindSupportedDevice (0x7A31, 0x4C)->name);
    EXPECT_EQ (Firmware (*byAltId), "18.3.4");

    // Probed, but with no version number: 0.0.0, not "not read".
    const auto early = devices->GetDeviceInfo (keys[sim::HidDeviceRef (oldPage)]);
    ASSERT_TRUE (early.has_value());
    EXPECT_EQ (early->usagePage, 0x00FF);
    EXPECT_EQ (Firmware (*early), "0.0.0");

    // Each accepted interface was opened and closed once; the others never.
    for (const auto unit : { mixer, altOnly, oldPage })
    {
        EXPECT_EQ (sim::GetHidDeviceCounters (unit).opens, 1);
        EXPECT_EQ (sim::GetHidDeviceCounters (unit).closes, 1);
        EXPECT_FALSE (sim::GetHidDeviceCounters (unit).callbackRegistered);
    }
    for (const auto unit : { wrongPage, unknown, foreign })
        EXPECT_EQ (sim::GetHidDeviceCounters (unit).opens, 0);

    sim::ClearCallLog();
    EXPECT_TRUE (Tick().empty());
    EXPECT_EQ (hidtest::CountLogLines ("IOHIDDeviceOpen"), 0) << "a tick with nothing new opens nothing";
    EXPECT_EQ (devices->GetDeviceKeys().size(), 3u);
}

TEST_F (HidDevicesTest, EachRemovalIsAnnouncedAfterItsRecordGoesUntilTheSetIsEmpty)
{
    const auto a = Plug ({ .uniqueId = 41, .serial = "A" });
    const auto b = Plug ({ .uniqueId = 42, .productId = 115, .serial = "B" });
    const auto kept = Plug ({ .uniqueId = 43, .productId = 120, .serial = "K" });
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
    auto removed = Tick();
    std::sort (removed.begin(), removed.end());
    Events expected { { '-', KeyOf (114, "A") }, { '-', KeyOf (115, "B") } };
    std::sort (expected.begin(), expected.end());
    EXPECT_EQ (removed, expected);
    EXPECT_EQ (keysSeen, (std::vector<std::size_t> { 2, 1 }));
    EXPECT_TRUE (ownRecordGone);
    EXPECT_EQ (devices->GetDeviceKeys(), std::vector<int> { KeyOf (120, "K") });

    // The manager hands out no set at all once nothing matches.
    sim::RemoveHidDevice (kept);
    EXPECT_EQ (Tick(), (Events { { '-', KeyOf (120, "K") } }));
    EXPECT_TRUE (devices->GetDeviceKeys().empty());
    EXPECT_TRUE (Tick().empty());
}

TEST_F (HidDevicesTest, ReplugBetweenTicksIsARemovalThenAnArrivalOfTheSameKey)
{
    const auto first = Plug ({ .uniqueId = 51, .serial = "SAME" });
    const int key = KeyOf (114, "SAME");
    EXPECT_EQ (Tick(), (Events { { '+', key } }));

    sim::RemoveHidDevice (first);
    Plug ({ .uniqueId = 52, .serial = "SAME" });
    EXPECT_EQ (Tick(), (Events { { '-', key }, { '+', key } }));
    ASSERT_TRUE (devices->GetDeviceInfo (key).has_value());
    EXPECT_EQ (devices->GetDeviceInfo (key)->uniqueId, "52");
}

TEST_F (HidDevicesTest, AnInterfaceGoneBeforeItsProbeIsStoredWithoutDetails)
{
    const auto a = Plug ({ .uniqueId = 61, .productId = 114, .serial = "A" });
    const auto b = Plug ({ .uniqueId = 62, .productId = 121, .serial = "B" });
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
    const bool aFirst = arrived[0].second == keyA;
    const int vanishedKey = aFirst ? KeyOf (121, "") : KeyOf (114, "");
    EXPECT_EQ (arrived[1], Event ('+', vanishedKey));

    const auto info = devices->GetDeviceInfo (vanishedKey);
    ASSERT_TRUE (info.has_value());
    EXPECT_EQ (info->serialNumber, "");
    EXPECT_EQ (info->productName, aFirst ? "Tavrolux TESK" : "Tavrolux Velmar");
    EXPECT_EQ (Firmware (*info), "255.255.255");
    EXPECT_EQ (Tick(), (Events { { '-', vanishedKey } }));
}

TEST_F (HidDevicesTest, TwoInterfacesOfOneUnitShareOneKeyAndAreProbedEveryTick)
{
    const auto first = Plug ({ .uniqueId = 71, .productId = 0x30, .serial = "U" });
    const auto second = Plug ({ .uniqueId = 72, .productId = 0x30, .usagePage = 0x00FF, .serial = "U" });
    const int key = KeyOf (0x30, "U");

    EXPECT_EQ (Tick(), (Events { { '+', key }, { '+', key } }));
    EXPECT_EQ (devices->GetDeviceKeys(), std::vector<int> { key });

    // The record holds one of the two unique IDs, so the other always looks new.
    EXPECT_EQ (Tick(), (Events { { '+', key }, { '+', key } }));
    EXPECT_EQ (sim::GetHidDeviceCounters (first).opens, 2);
    EXPECT_EQ (sim::GetHidDeviceCounters (second).opens, 2);
}

TEST_F (HidDevicesTest, SlotsMayReadTheDetailsWhileTheyAreAnnounced)
{
    const auto unit = Plug ({ .uniqueId = 81, .serial = "LIVE" });
    std::optional<HidDeviceInfo> seenOnArrival, seenOnRemoval;
    onConnected = [&] (int k) { seenOnArrival = devices->GetDeviceInfo (k); };
    onDisconnected = [&] (int k) { seenOnRemoval = devices->GetDeviceInfo (k); };

    // A deadlock shows as a failure at once, not as a hung test.
    auto ticks = std::async (std::launch::async,
                             [&]
                             {
                                 Tick();
                                 sim::RemoveHidDevice (unit);
                                 return Tick();
                             });
    if (ticks.wait_for (std::chrono::seconds (20)) != std::future_status::ready)
    {
        ADD_FAILURE() << "a slot reading the details deadlocked";
        std::_Exit (3);
    }
    EXPECT_EQ (ticks.get(), (Events { { '-', KeyOf (114, "LIVE") } }));
    ASSERT_TRUE (seenOnArrival.has_value());
    EXPECT_EQ (seenOnArrival->serialNumber, "LIVE");
    EXPECT_FALSE (seenOnRemoval.has_value());
}

TEST (HidDevicesWithoutManager, NoManagerMeansNoDevices)
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
    }
}

} // namespace
