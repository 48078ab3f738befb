// The audio side of the simulated machine: its devices, defaults, aggregates,
// property faults and the sample data that flows through opened devices.

#include "platform/sim/AudioInternals.h"
#include "platform/sim/MachineInternals.h"
#include "platform/sim/ManualBlockSource.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

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
    };

    static Guarded& Booted()
    {
        // Never destroyed: audio threads and static objects may still ask during exit.
        static Guarded* const guarded = new Guarded;
        detail::EnsureBooted();
        return *guarded;
    }

    Guarded& guarded;
    std::lock_guard<std::mutex> lock;
};

std::atomic<std::int64_t> blocksRun { 0 };

const DeviceRecord* ListedRecordLocked (AudioSide& side, AudioObjectID id, Clock::time_point now)
{
    const auto found = side.devices.find (id);
    return found != side.devices.end() && found->second.IsListed (now) ? &found->second : nullptr;
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
    return id;
}

void RemoveAudioDevice (AudioObjectID device)
{
    LockedSide side;
    ForgetDeviceLocked (*side, device);
}

AudioObjectID FindAudioDevice (const std::string& uid)
{
    LockedSide side;
    const auto now = Clock::now();
    for (auto& [id, record] : side->devices)
        if (record.spec.uid == uid && record.IsListed (now))
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
        if (device <= 5)
            spec.inputStreams = { 2 };
        else
            spec.outputStreams = { 2 };
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
    }
    // What the old state held last (a stream's manual block source) goes here, outside the lock.
}

std::vector<AudioObjectID> ListedAudioDevices()
{
    LockedSide side;
    const auto now = Clock::now();
    std::vector<AudioObjectID> ids;
    for (auto& [id, record] : side->devices)
        if (record.IsListed (now))
            ids.push_back (id);
    return ids;
}

std::optional<HalDevice> ListedAudioDevice (AudioObjectID id)
{
    LockedSide side;
    const auto now = Clock::now();
    const auto* record = ListedRecordLocked (*side, id, now);
    if (record == nullptr)
        return std::nullopt;

    HalDevice device;
    device.name = record->spec.name;
    device.uid = record->spec.uid;
    device.isAggregate = record->spec.isAggregate;
    const auto owners = StreamOwnersLocked (*side, id, *record, now);
    for (auto owner : owners)
    {
        const auto& spec = side->devices.at (owner).spec;
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
        if (ListedRecordLocked (*side, device, Clock::now()) == nullptr)
            status = kAudioHardwareBadDeviceError;
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
    {
        LockedSide side;
        const auto found = side->devices.find (device);
        destroyed = found != side->devices.end() && found->second.spec.isAggregate;
        if (destroyed)
            ForgetDeviceLocked (*side, device);
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
