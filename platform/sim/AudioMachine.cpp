// The audio side of the simulated machine: its devices, defaults, aggregates,
// property faults and the sample data that flows through opened devices.

#include "platform/sim/AudioInternals.h"
#include "platform/sim/MachineInternals.h"
#include "platform/sim/ManualBlockSource.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace sim::detail
{

/** Samples fed to one device channel, and the last samples written to it. */
class ChannelStore
{
public:
    static constexpr std::size_t captureCapacity = 131072;

    std::vector<float> fed;
    std::size_t fedRead = 0;

    // A ring of captureCapacity samples, made when a device opens the channel
    // so that the audio thread never allocates.
    std::vector<float> captured;
    std::size_t captureEnd = 0;
    std::size_t capturedCount = 0;
};

} // namespace sim::detail

namespace sim
{
namespace
{

using Clock = std::chrono::steady_clock;
using PropertyKey = std::pair<AudioObjectID, AudioObjectPropertySelector>;

struct DeviceRecord
{
    AudioDeviceSpec spec;
    std::optional<Clock::time_point> listedFrom; // nullopt: never listed
    bool created = false;                        // made by AudioHardwareCreateAggregateDevice
    std::vector<std::string> subDeviceUids;

    bool IsListed (Clock::time_point now) const { return listedFrom.has_value() && *listedFrom <= now; }
};

struct Listener
{
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    AudioObjectPropertyListenerProc proc;
    void* clientData;

    bool Is (const Listener& other) const
    {
        return object == other.object && address.mSelector == other.address.mSelector &&
               address.mScope == other.address.mScope && address.mElement == other.address.mElement &&
               proc == other.proc && clientData == other.clientData;
    }

    bool HearsDeviceList() const
    {
        return object == kAudioObjectSystemObject &&
               (address.mSelector == kAudioHardwarePropertyDevices ||
                address.mSelector == kAudioObjectPropertySelectorWildcard) &&
               (address.mScope == kAudioObjectPropertyScopeGlobal ||
                address.mScope == kAudioObjectPropertyScopeWildcard) &&
               (address.mElement == kAudioObjectPropertyElementMain ||
                address.mElement == kAudioObjectPropertyElementWildcard);
    }
};

/** Everything the audio side knows; guarded by the machine's audio mutex. */
struct AudioSide
{
    AudioObjectID nextId = 40;                     // ids are never reused, not even across Reset
    std::map<AudioObjectID, DeviceRecord> devices; // ids only grow: in the order they were added
    AudioObjectID defaultInput = 0;
    AudioObjectID defaultOutput = 0;
    std::map<PropertyKey, OSStatus> failures;
    std::map<PropertyKey, PropertyAnswer> overrides;
    int aggregateAppearDelayMs = 0;
    std::vector<AggregateDescription> descriptions;
    std::map<std::pair<AudioObjectID, int>, std::shared_ptr<detail::ChannelStore>> stores;
    float prefill = 0.0f;
    AudioClock clock = AudioClock::RealTime;
    std::vector<std::shared_ptr<detail::ManualBlockSource>> manualSources;

    // The device list as HAL readers see it. The HAL tells a change on the
    // main run loop unless the program moved its notifications to the HAL's
    // own thread; until it is told, readers see the list as it was.
    bool notifyOnOwnThread = false;
    bool connected = false;               // the process has read from the HAL since Reset
    std::vector<AudioObjectID> toldList;  // what readers see while notifying on the main run loop
    std::vector<AudioObjectID> heardList; // what the notification thread last saw
};

/** Survive Reset: they belong to live objects of the program. */
struct Notifications
{
    std::vector<Listener> listeners;
    std::recursive_mutex delivering; // held while listeners run, so that removing one waits for it
    std::condition_variable wake;    // on the machine's mutex: every change is made under it
};

/** The audio side of the booted machine, locked while this lives. Every
    function here goes through it, so the first one to touch the machine boots it. */
class LockedSide
{
public:
    LockedSide() : guarded (Booted()), lock (guarded.mutex) {}

    AudioSide* operator->() const { return &guarded.side; }
    AudioSide& operator*() const { return guarded.side; }

private:
    struct Guarded
    {
        std::mutex mutex;
        AudioSide side;
        Notifications notifications;
    };

    static Guarded& Booted()
    {
        // Never destroyed: audio threads and static objects may still ask during exit.
        static Guarded* const guarded = new Guarded;
        static const bool started = StartNotificationThread (*guarded);
        (void) started;
        detail::EnsureBooted();
        return *guarded;
    }

    /** The HAL's own notification thread: sleeps until the device list may
        have changed (a change, or the arrival time of a late device), then
        tells the change on the main run loop or, when asked to, itself. */
    static bool StartNotificationThread (Guarded& guarded);

    Guarded& guarded;
    std::unique_lock<std::mutex> lock;

public:
    /** The listeners, guarded by their own delivering mutex and not by the machine's lock. */
    static Notifications& TheNotifications() { return Booted().notifications; }

    /** Wakes the notification thread: the device list may have changed. */
    void DeviceListMayHaveChanged() const { guarded.notifications.wake.notify_one(); }
};

std::atomic<std::int64_t> blocksRun { 0 };

/** The devices that exist in the HAL right now, whether or not readers have been told. */
std::vector<AudioObjectID> ArrivedLocked (const AudioSide& side, Clock::time_point now)
{
    std::vector<AudioObjectID> ids;
    for (auto& [id, record] : side.devices)
        if (record.IsListed (now))
            ids.push_back (id);
    return ids;
}

/** A process learns the device list as it stands when it first talks to the
    HAL; later changes reach it only through notifications. */
void ConnectLocked (AudioSide& side, Clock::time_point now)
{
    if (!side.connected)
        side.toldList = ArrivedLocked (side, now);
    side.connected = true;
}

/** The device list a HAL reader gets now. */
std::vector<AudioObjectID> VisibleListLocked (AudioSide& side, Clock::time_point now)
{
    ConnectLocked (side, now);
    return side.notifyOnOwnThread ? ArrivedLocked (side, now) : side.toldList;
}

/** The device, if it exists and readers have been told of it. */
const DeviceRecord* ListedRecordLocked (AudioSide& side, AudioObjectID id, Clock::time_point now)
{
    ConnectLocked (side, now);
    const auto found = side.devices.find (id);
    if (found == side.devices.end() || !found->second.IsListed (now))
        return nullptr;
    if (!side.notifyOnOwnThread && std::find (side.toldList.begin(), side.toldList.end(), id) == side.toldList.end())
        return nullptr;
    return &found->second;
}

/** Calls the device-list listeners with the machine's lock released. A
    listener removed while the others run is not called. */
void TellDeviceListChanged (Notifications& notifications, std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    {
        std::lock_guard<std::recursive_mutex> delivering (notifications.delivering);
        const AudioObjectPropertyAddress address { kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal,
                                                   kAudioObjectPropertyElementMain };
        const auto listeners = notifications.listeners;
        for (const auto& listener : listeners)
        {
            const auto& now = notifications.listeners;
            const bool stillThere =
                std::any_of (now.begin(), now.end(), [&] (const Listener& entry) { return entry.Is (listener); });
            if (stillThere && listener.HearsDeviceList())
                listener.proc (kAudioObjectSystemObject, 1, &address, listener.clientData);
        }
    }
    lock.lock();
}

bool LockedSide::StartNotificationThread (Guarded& guarded)
{
    std::thread (
        [&guarded]
        {
            std::unique_lock<std::mutex> lock (guarded.mutex);
            auto& side = guarded.side;
            auto& notifications = guarded.notifications;

            for (;;)
            {
                const auto now = Clock::now();
                std::optional<Clock::time_point> nextArrival;
                for (auto& [id, record] : side.devices)
                    if (record.listedFrom.has_value() && *record.listedFrom > now &&
                        (!nextArrival.has_value() || *record.listedFrom < *nextArrival))
                        nextArrival = record.listedFrom;

                auto arrived = ArrivedLocked (side, now);
                if (arrived != side.heardList)
                {
                    side.heardList = arrived;
                    if (side.notifyOnOwnThread)
                    {
                        TellDeviceListChanged (notifications, lock);
                    }
                    else
                    {
                        // Readers learn of it only when the main run loop gets to it.
                        juce::MessageManager::callAsync (
                            [&guarded]
                            {
                                std::unique_lock<std::mutex> tellLock (guarded.mutex);
                                if (guarded.side.notifyOnOwnThread)
                                    return;
                                guarded.side.toldList = ArrivedLocked (guarded.side, Clock::now());
                                guarded.side.connected = true;
                                TellDeviceListChanged (guarded.notifications, tellLock);
                            });
                    }
                    continue;
                }

                // The list is compared afresh before every wait, under the mutex
                // every change is made under, so no change goes unheard.
                if (nextArrival.has_value())
                    notifications.wake.wait_until (lock, *nextArrival);
                else
                    notifications.wake.wait (lock);
            }
        })
        .detach();
    return true;
}

/** The devices whose streams a listed device presents, in order: the device
    itself or, for a created aggregate, its active sub-devices (the listed
    devices among its UIDs, each once). Aggregates are never sub-devices, so
    this cannot recurse. */
std::vector<AudioObjectID> StreamOwnersLocked (AudioSide& side, AudioObjectID id, const DeviceRecord& record,
                                               Clock::time_point now)
{
    if (!record.created)
        return { id };
    std::vector<AudioObjectID> active;
    for (const auto& uid : record.subDeviceUids)
    {
        const auto sub = std::find_if (side.devices.begin(), side.devices.end(),
                                       [&] (const auto& entry)
                                       { return entry.second.spec.uid == uid && entry.second.IsListed (now); });
        if (sub != side.devices.end() && !sub->second.spec.isAggregate &&
            std::find (active.begin(), active.end(), sub->first) == active.end())
            active.push_back (sub->first);
    }
    return active;
}

int ChannelCount (const std::vector<int>& streams)
{
    int total = 0;
    for (auto channels : streams)
        total += std::max (0, channels);
    return total;
}

/** The device as the HAL presents it now, if readers see it. */
std::optional<detail::HalDevice> ListedDeviceLocked (AudioSide& side, AudioObjectID id, Clock::time_point now)
{
    const auto* record = ListedRecordLocked (side, id, now);
    if (record == nullptr)
        return std::nullopt;

    detail::HalDevice device;
    device.name = record->spec.name;
    device.uid = record->spec.uid;
    device.isAggregate = record->spec.isAggregate;
    const auto owners = StreamOwnersLocked (side, id, *record, now);
    for (auto owner : owners)
    {
        const auto& spec = side.devices.at (owner).spec;
        device.inputStreams.insert (device.inputStreams.end(), spec.inputStreams.begin(), spec.inputStreams.end());
        device.outputStreams.insert (device.outputStreams.end(), spec.outputStreams.begin(), spec.outputStreams.end());
        for (int channel = 0; channel < ChannelCount (spec.inputStreams); ++channel)
            device.inputChannels.push_back ({ owner, channel });
        for (int channel = 0; channel < ChannelCount (spec.outputStreams); ++channel)
            device.outputChannels.push_back ({ owner, channel });
    }
    if (record->created)
    {
        device.fullSubDeviceUids = record->subDeviceUids;
        device.activeSubDevices = owners;
    }
    return device;
}

void ForgetDeviceLocked (AudioSide& side, AudioObjectID device)
{
    side.devices.erase (device);
    if (side.defaultInput == device)
        side.defaultInput = 0;
    if (side.defaultOutput == device)
        side.defaultOutput = 0;
}

std::shared_ptr<detail::ChannelStore>& StoreLocked (AudioSide& side, AudioObjectID device, int channel)
{
    auto& store = side.stores[{ device, channel }];
    if (store == nullptr)
        store = std::make_shared<detail::ChannelStore>();
    return store;
}

template <typename Value>
std::optional<Value> Lookup (const std::map<PropertyKey, Value>& map, AudioObjectID object,
                             AudioObjectPropertySelector selector)
{
    const auto found = map.find ({ object, selector });
    return found == map.end() ? std::nullopt : std::optional<Value> (found->second);
}

} // namespace

//==============================================================================
AudioObjectID AddAudioDevice (const AudioDeviceSpec& spec)
{
    LockedSide side;
    DeviceRecord record;
    record.spec = spec;
    record.listedFrom = Clock::now() + std::chrono::milliseconds (std::max (0, spec.appearAfterMs));
    const auto id = side->nextId++;
    side->devices.emplace (id, std::move (record));
    side.DeviceListMayHaveChanged();
    return id;
}

void RemoveAudioDevice (AudioObjectID device)
{
    LockedSide side;
    ForgetDeviceLocked (*side, device);
    side.DeviceListMayHaveChanged();
}

AudioObjectID FindAudioDevice (const std::string& uid)
{
    LockedSide side;
    const auto now = Clock::now();
    for (auto& [id, record] : side->devices)
        if (record.spec.uid == uid && ListedRecordLocked (*side, id, now) != nullptr)
            return id;
    return 0;
}

std::vector<AudioObjectID> InstallVirtualDriver()
{
    std::vector<AudioObjectID> ids;
    for (int device = 1; device <= 10; ++device)
    {
        AudioDeviceSpec spec;
        spec.name = "QUOR Virtual Device " + std::to_string (device);
        spec.uid = device == 1 ? std::string ("QuorVirtualAudioDevice_UID")
                               : "QuorVirtualAudioDevice_UID_" + std::to_string (device);
        // Devices 1 to 5 play and record; 6 to 10 have no streams. So device 1 can be either default, and an
        // aggregate of all ten has just their ten inputs and ten outputs, two a device, in its order of them.
        if (device <= 5)
            spec.inputStreams = spec.outputStreams = { 2 };
        ids.push_back (AddAudioDevice (spec));
    }
    return ids;
}

void SetDefaultInput (AudioObjectID device)
{
    LockedSide()->defaultInput = device;
}

void SetDefaultOutput (AudioObjectID device)
{
    LockedSide()->defaultOutput = device;
}

AudioObjectID DefaultInput()
{
    return LockedSide()->defaultInput;
}

AudioObjectID DefaultOutput()
{
    return LockedSide()->defaultOutput;
}

void FailProperty (AudioObjectID object, AudioObjectPropertySelector selector, OSStatus status)
{
    LockedSide()->failures[{ object, selector }] = status;
}

void OverrideProperty (AudioObjectID object, AudioObjectPropertySelector selector, const PropertyAnswer& answer)
{
    LockedSide()->overrides[{ object, selector }] = answer;
}

void SetAggregateAppearDelay (int milliseconds)
{
    LockedSide()->aggregateAppearDelayMs = milliseconds;
}

std::vector<AggregateDescription> AggregateDescriptions()
{
    return LockedSide()->descriptions;
}

std::vector<AudioObjectID> ExistingAggregates()
{
    LockedSide side;
    std::vector<AudioObjectID> ids;
    for (auto& [id, record] : side->devices)
        if (record.spec.isAggregate)
            ids.push_back (id);
    return ids;
}

void FeedInput (AudioObjectID device, int channel, const std::vector<float>& samples)
{
    LockedSide side;
    auto& store = *StoreLocked (*side, device, channel);
    // Drop what the audio thread has consumed, here rather than there.
    store.fed.erase (store.fed.begin(), store.fed.begin() + (std::ptrdiff_t) store.fedRead);
    store.fedRead = 0;
    store.fed.insert (store.fed.end(), samples.begin(), samples.end());
}

std::vector<float> TakeOutput (AudioObjectID device, int channel)
{
    LockedSide side;
    auto found = side->stores.find ({ device, channel });
    if (found == side->stores.end() || found->second->captured.empty())
        return {};
    auto& store = *found->second;
    const auto capacity = store.captured.size();
    std::vector<float> samples;
    samples.reserve (store.capturedCount);
    for (std::size_t i = 0; i < store.capturedCount; ++i)
        samples.push_back (store.captured[(store.captureEnd + capacity - store.capturedCount + i) % capacity]);
    store.capturedCount = 0;
    return samples;
}

void SetOutputPrefill (float value)
{
    LockedSide()->prefill = value;
}

void SetAudioClock (AudioClock clock)
{
    LockedSide()->clock = clock;
}

void RunAudioBlocks (int count)
{
    const auto sources = LockedSide()->manualSources;
    // The device callbacks run with no lock of the machine held.
    for (int block = 0; block < count; ++block)
        for (auto& source : sources)
            source->RunManualBlock();
}

std::int64_t AudioBlocksRun()
{
    return blocksRun.load();
}

//==============================================================================
namespace detail
{

void ResetAudioSide()
{
    AudioSide old;
    {
        LockedSide side;
        std::swap (old, *side);
        side->nextId = old.nextId;
        side.DeviceListMayHaveChanged();
    }
    // What the old state held last (a stream's manual block source) goes here, outside the lock.
}

std::vector<AudioObjectID> ListedAudioDevices()
{
    LockedSide side;
    return VisibleListLocked (*side, Clock::now());
}

void SetNotifyOnOwnThread (bool ownThread)
{
    LockedSide side;
    if (side->notifyOnOwnThread == ownThread)
        return;
    side->notifyOnOwnThread = ownThread;
    // Back on the main run loop, readers keep what they were last told.
    side->toldList = ArrivedLocked (*side, Clock::now());
    side->connected = true;
    side.DeviceListMayHaveChanged();
}

void AddListener (AudioObjectID object, const AudioObjectPropertyAddress& address, AudioObjectPropertyListenerProc proc,
                  void* clientData)
{
    auto& notifications = LockedSide::TheNotifications();
    std::lock_guard<std::recursive_mutex> delivering (notifications.delivering);
    notifications.listeners.push_back ({ object, address, proc, clientData });
}

bool RemoveListener (AudioObjectID object, const AudioObjectPropertyAddress& address,
                     AudioObjectPropertyListenerProc proc, void* clientData)
{
    // Waits for a call in progress on another thread; from inside a listener it does not wait for itself.
    auto& notifications = LockedSide::TheNotifications();
    std::lock_guard<std::recursive_mutex> delivering (notifications.delivering);
    auto& listeners = notifications.listeners;
    const Listener wanted { object, address, proc, clientData };
    const auto found =
        std::find_if (listeners.begin(), listeners.end(), [&] (const Listener& entry) { return entry.Is (wanted); });
    if (found == listeners.end())
        return false;
    listeners.erase (found);
    return true;
}

std::optional<HalDevice> ListedAudioDevice (AudioObjectID id)
{
    LockedSide side;
    return ListedDeviceLocked (*side, id, Clock::now());
}

std::optional<OSStatus> PropertyFailure (AudioObjectID object, AudioObjectPropertySelector selector)
{
    return Lookup (LockedSide()->failures, object, selector);
}

std::optional<PropertyAnswer> PropertyOverride (AudioObjectID object, AudioObjectPropertySelector selector)
{
    return Lookup (LockedSide()->overrides, object, selector);
}

OSStatus SetDefaultDevice (bool input, AudioObjectID device)
{
    OSStatus status = kAudioHardwareNoError;
    {
        LockedSide side;
        // What kAudioDevicePropertyDeviceCanBeDefaultDevice asks: channels in that direction.
        const auto listed = ListedDeviceLocked (*side, device, Clock::now());
        if (!listed.has_value())
            status = kAudioHardwareBadDeviceError;
        else if ((input ? listed->inputChannels : listed->outputChannels).empty())
            status = kAudioHardwareIllegalOperationError;
        else
            (input ? side->defaultInput : side->defaultOutput) = device;
    }
    Log ((input ? "SetDefaultInputDevice " : "SetDefaultOutputDevice ") + std::to_string (device));
    return status;
}

OSStatus CreateAggregate (AggregateDescription description, AudioObjectID* newId)
{
    const bool fail = FaultActive (Fault::AggregateCreate);
    AudioObjectID id = 0;
    {
        LockedSide side;
        if (!fail)
        {
            DeviceRecord record;
            record.spec.name = description.name.value_or ("");
            record.spec.uid = description.uid.value_or ("");
            record.spec.isAggregate = true;
            record.created = true;
            for (const auto& sub : description.subDevices)
                record.subDeviceUids.push_back (sub.uid);
            if (side->aggregateAppearDelayMs >= 0)
                record.listedFrom = Clock::now() + std::chrono::milliseconds (side->aggregateAppearDelayMs);
            id = side->nextId++;
            side->devices.emplace (id, std::move (record));
            side.DeviceListMayHaveChanged();
        }
        description.id = id;
        side->descriptions.push_back (std::move (description));
    }
    Log ("AudioHardwareCreateAggregateDevice " + std::to_string (id));
    if (fail)
        return kAudioHardwareUnspecifiedError;
    *newId = id;
    return kAudioHardwareNoError;
}

OSStatus DestroyAggregate (AudioObjectID device)
{
    bool destroyed = false;
    if (!FaultActive (Fault::AggregateDestroy))
    {
        LockedSide side;
        const auto found = side->devices.find (device);
        destroyed = found != side->devices.end() && found->second.spec.isAggregate;
        if (destroyed)
        {
            ForgetDeviceLocked (*side, device);
            side.DeviceListMayHaveChanged();
        }
    }
    Log ("AudioHardwareDestroyAggregateDevice " + std::to_string (device));
    return destroyed ? kAudioHardwareNoError : kAudioHardwareBadDeviceError;
}

std::shared_ptr<ChannelStore> OpenChannelStore (ChannelOwner owner, bool capture)
{
    LockedSide side;
    auto store = StoreLocked (*side, owner.device, owner.channel);
    if (capture && store->captured.empty())
        store->captured.assign (ChannelStore::captureCapacity, 0.0f);
    return store;
}

void ReadInputBlock (const ChannelStores& stores, float* const* buffers, int numSamples)
{
    LockedSide side;
    for (std::size_t channel = 0; channel < stores.size(); ++channel)
    {
        auto& store = *stores[channel];
        const auto taken = std::min (store.fed.size() - store.fedRead, (std::size_t) numSamples);
        std::copy_n (store.fed.begin() + (std::ptrdiff_t) store.fedRead, taken, buffers[channel]);
        std::fill (buffers[channel] + taken, buffers[channel] + numSamples, 0.0f);
        store.fedRead += taken;
    }
}

void WriteOutputBlock (const ChannelStores& stores, const float* const* buffers, int numSamples)
{
    LockedSide side;
    for (std::size_t channel = 0; channel < stores.size(); ++channel)
    {
        auto& store = *stores[channel];
        const auto capacity = store.captured.size();
        if (capacity == 0)
            continue;
        for (int i = 0; i < numSamples; ++i)
        {
            store.captured[store.captureEnd] = buffers[channel][i];
            store.captureEnd = (store.captureEnd + 1) % capacity;
        }
        store.capturedCount = std::min (capacity, store.capturedCount + (std::size_t) numSamples);
    }
}

float OutputPrefill()
{
    return LockedSide()->prefill;
}

AudioClock CurrentAudioClock()
{
    return LockedSide()->clock;
}

void CountAudioBlock()
{
    blocksRun.fetch_add (1);
}

void AddManualBlockSource (std::shared_ptr<ManualBlockSource> source)
{
    LockedSide()->manualSources.push_back (std::move (source));
}

void RemoveManualBlockSource (const ManualBlockSource* source)
{
    LockedSide side;
    auto& sources = side->manualSources;
    sources.erase (
        std::remove_if (sources.begin(), sources.end(), [source] (const auto& entry) { return entry.get() == source; }),
        sources.end());
}

} // namespace detail
} // namespace sim
