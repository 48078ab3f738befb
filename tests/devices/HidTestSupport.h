#pragma once

#include "devices/HidDeviceRegistry.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace hidtest
{

/** A HID interface of the maker as the simulated machine should show it. */
struct Interface
{
    std::int64_t uniqueId = 1001;
    std::int64_t productId = 114;
    std::int64_t usagePage = 0xFF00;
    std::int64_t vendorId = 0x7A31;
    std::optional<std::string> serial = std::string ("QV2400117");
    std::optional<std::int64_t> version = 0x0123;
    std::optional<std::int64_t> maxReportSize = 64;
    std::optional<std::int64_t> locationId;
};

inline sim::HidId Plug (const Interface& i)
{
    sim::HidProperties properties { { "VendorID", i.vendorId },
                                    { "ProductID", i.productId },
                                    { "PrimaryUsagePage", i.usagePage },
                                    { "UniqueID", i.uniqueId } };
    if (i.serial)
        properties["SerialNumber"] = *i.serial;
    if (i.version)
        properties["VersionNumber"] = *i.version;
    if (i.maxReportSize)
        properties["MaxInputReportSize"] = *i.maxReportSize;
    if (i.locationId)
        properties["LocationID"] = *i.locationId;
    return sim::AddHidDevice (properties);
}

/** "major.minor.patch" of a probe or a device record. */
template <typename Probed>
juce::String Firmware (const Probed& probed)
{
    return juce::String (probed.firmwareMajor) + "." + juce::String (probed.firmwareMinor) + "." +
           juce::String (probed.firmwarePatch);
}

/** Polls until the condition holds or the (generous) time is up. */
inline bool WaitFor (const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    return true;
}

/** Threads of this process whose OS-level name is name. */
inline int CountThreadsNamed (const juce::String& name)
{
    int count = 0;
    for (const auto& task : juce::File ("/proc/self/task").findChildFiles (juce::File::findDirectories, false))
        count += task.getChildFile ("comm").loadFileAsString().trim() == name ? 1 : 0;
    return count;
}

/** The devices a manager's copied set holds now. */
inline int CountCopiedDevices (IOHIDManagerRef manager)
{
    const CFSetRef set = IOHIDManagerCopyDevices (manager);
    if (set == nullptr)
        return 0;
    const auto count = static_cast<int> (CFSetGetCount (set));
    CFRelease (set);
    return count;
}

/** Fills the open-device id table with junk, as if handles had been left behind. */
inline void DirtyIdTable()
{
    const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
    for (std::size_t i = 0; i < HidDeviceRegistry::idTable.size(); ++i)
        HidDeviceRegistry::idTable[i] = static_cast<std::int32_t> (i);
}

inline bool IdTableAllFree()
{
    const std::lock_guard<std::mutex> lock (HidDeviceRegistry::mutex);
    for (const auto entry : HidDeviceRegistry::idTable)
        if (entry != -1)
            return false;
    return true;
}

inline int CountLogLines (const std::string& prefix)
{
    int count = 0;
    for (const auto& line : sim::CallLog())
        count += line.rfind (prefix, 0) == 0 ? 1 : 0;
    return count;
}

/** Every test starts on an empty simulated machine. */
class SimulatedHidTest : public ::testing::Test
{
protected:
    void SetUp() override { sim::Reset(); }
};

} // namespace hidtest
