// What the whole simulated machine shares: the call log, the faults, booting
// the default machine and resetting everything.

#include "platform/corefoundation/CFObject.h"
#include "platform/sim/MachineInternals.h"

#include <atomic>
#include <mutex>

namespace
{

struct Core
{
    std::mutex logMutex;
    std::vector<std::string> log;

    std::atomic<unsigned> faults { 0 };

    // Boot state: bootStarted keeps a boot that reaches EnsureBooted again (through
    // the machine's own calls) from booting twice; bootDone lets every later call
    // through without the lock. The mutex is recursive for that same reason.
    std::recursive_mutex bootMutex;
    bool bootStarted = false;
    std::atomic<bool> bootDone { false };
};

Core& TheCore()
{
    // Never destroyed: other threads and static objects may log during exit.
    static Core* const core = new Core;
    return *core;
}

unsigned Bit (sim::Fault fault)
{
    return 1u << static_cast<unsigned> (fault);
}

} // namespace

namespace sim
{

void Reset()
{
    Core& core = TheCore();
    {
        std::lock_guard<std::recursive_mutex> lock (core.bootMutex);
        core.bootStarted = true;
        core.bootDone.store (true, std::memory_order_release);
    }
    detail::ResetHidSide();
    detail::ResetAudioSide();
    core.faults.store (0);
    ClearCallLog();
}

long LiveObjectCount()
{
    return cf::LiveObjectCount();
}

std::vector<std::string> CallLog()
{
    Core& core = TheCore();
    std::lock_guard<std::mutex> lock (core.logMutex);
    return core.log;
}

void ClearCallLog()
{
    Core& core = TheCore();
    std::lock_guard<std::mutex> lock (core.logMutex);
    core.log.clear();
}

void InjectFault (Fault fault)
{
    TheCore().faults.fetch_or (Bit (fault));
}

void ClearFault (Fault fault)
{
    TheCore().faults.fetch_and (~Bit (fault));
}

namespace detail
{

void Log (std::string line)
{
    Core& core = TheCore();
    std::lock_guard<std::mutex> lock (core.logMutex);
    core.log.push_back (std::move (line));
}

bool FaultActive (Fault fault)
{
    return (TheCore().faults.load() & Bit (fault)) != 0;
}

bool EnsureBooted()
{
    Core& core = TheCore();
    if (core.bootDone.load (std::memory_order_acquire))
        return false;
    std::lock_guard<std::recursive_mutex> lock (core.bootMutex);
    if (core.bootStarted)
        return false;
    core.bootStarted = true;
    BuildDefaultMachine();
    core.bootDone.store (true, std::memory_order_release);
    return true;
}

} // namespace detail
} // namespace sim
