#pragma once

#include "devices/HidDeviceRegistry.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
        if (task.getChildFile ("comm").loadFileAsString().trim() == name)
            ++count;

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
        if (line.rfind (prefix, 0) == 0)
            ++count;

    return count;
}

/** Ends the process if a test hangs, so that a deadlock shows as a failure at once. */
class Watchdog
{
public:
    explicit Watchdog (int seconds)
        : thread (
              [this, seconds]
              {
                  std::unique_lock<std::mutex> lock (mutex);

                  if (!done.wait_for (lock, std::chrono::seconds (seconds), [this] { return finished; }))
                  {
                      std::fprintf (stderr, "watchdog: the test hung (deadlock?)\n");
                      std::_Exit (3);
                  }
              })
    {
    }

    ~Watchdog()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            finished = true;
        }

        done.notify_one();
        thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread thread;
};

/** Every test starts on an empty simulated machine. */
class SimulatedHidTest : public ::testing::Test
{
protected:
    void SetUp() override { sim::Reset(); }
};

} // namespace hidtest
