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

struct DeviceRecord
{
    AudioDeviceSpec spec;
    std::optional<Clock::time_point> listedFrom; // nullopt: never listed
    bool created = false;                        // made by AudioHardwareCreateAggregateDevice
    std::vector<std::string> subDeviceUids;
};

struct AudioSide
{
    std::mutex mutex;
    AudioObjectID nextId = 40; // ids are never reused, not even across Reset
    std::vector<std::pair<AudioObjectID, DeviceRecord>> devices;
    AudioObjectID defaultInput = 0;
    AudioObjectID defaultOutput = 0;
    std::map<std::pair<AudioObjectID, AudioObjectPropertySelector>, OSStatus> failures;
    std::map<std::pair<AudioObjectID, AudioObjectPropertySelector>, PropertyAnswer> overrides;
    int aggregateAppearDelayMs = 0;
    std::vector<AggregateDescription> descriptions;
    std::map<std::pair<AudioObjectID, int>, std::shared_ptr<detail::ChannelStore>> stores;
    float prefill = 0.0f;
    AudioClock clock = AudioClock::RealTime;
    std::vector<std::shared_ptr<detail::ManualBlockSource>> manualSources;
};

AudioSide& Side()
{
    // Never destroyed: audio threads and static objects may still ask during exit.
    static AudioSide* const side = new AudioSide;
    return *side;
}

std::atomic<std::int64_t> blocksRun { 0 };

DeviceRecord* FindRecordLocked (AudioSide& side, AudioObjectID id)
{
    for (auto& [deviceId, record] : side.devices)
        if (deviceId == id)
            return &record;
    return nullptr;
}

bool IsListedLocked (const DeviceRecord& record, Clock::time_point now)
{
    return record.listedFrom.has_value() && *record.listedFrom <= now;
}

const DeviceRecord* ListedRecordLocked (AudioSide& side, AudioObjectID id, Clock::time_point now)
{
    auto* record = FindRecordLocked (side, id);
    return record != nullptr && IsListedLocked (*record, now) ? record : nullptr;
}

AudioObjectID ListedIdWithUidLocked (AudioSide& side, const std::string& uid, Clock::time_point now)
{
    for (auto& [id, record] : side.devices)
        if (record.spec.uid == uid && IsListedLocked (record, now))
            return id;
    return 0;
}

/** A created aggregate's active sub-devices: the listed devices among its UIDs,
    each once. Aggregates are never sub-devices, so resolution cannot recurse. */
std::vector<AudioObjectID> ActiveSubDevicesLocked (AudioSide& side, const DeviceRecord& aggregate,
                                                   Clock::time_point now)
{
    std::vector<AudioObjectID> active;
    for (const auto& uid : aggregate.subDeviceUids)
    {
        for (auto& [id, record] : side.devices)
        {
            if (record.spec.uid != uid || !IsListedLocked (record, now))
                continue;
            if (!record.spec.isAggregate && std::find (active.begin(), active.end(), id) == active.end())
                active.push_back (id);
            break;
        }
    }
    return active;
}

detail::HalDevice DescribeLocked (AudioSide& side, AudioObjectID id, const DeviceRecord& record, Clock::time_point now)
{
    detail::HalDevice device;
    device.id = id;
    device.name = record.spec.name;
    device.uid = record.spec.uid;
    device.isAggregate = record.spec.isAggregate;
    if (!record.created)
    {
        device.inputStreams = record.spec.inputStreams;
        device.outputStreams = record.spec.outputStreams;
        return device;
    }
    device.fullSubDeviceUids = record.subDeviceUids;
    device.activeSubDevices = ActiveSubDevicesLocked (side, record, now);
    for (auto subId : device.activeSubDevices)
    {
        const auto& sub = FindRecordLocked (side, subId)->spec;
        device.inputStreams.insert (device.inputStreams.end(), sub.inputStreams.begin(), sub.inputStreams.end());
        device.outputStreams.insert (device.outputStreams.end(), sub.outputStreams.begin(), sub.outputStreams.end());
    }
    return device;
}

int ChannelCount (const std::vector<int>& streams)
{
    int total = 0;
    for (auto channels : streams)
        total += std::max (0, channels);
    return total;
}

std::shared_ptr<detail::ChannelStore>& StoreLocked (AudioSide& side, AudioObjectID device, int channel)
{
    auto& store = side.stores[{ device, channel }];
    if (store == nullptr)
        store = std::make_shared<detail::ChannelStore>();
    return store;
}

} // namespace

//==============================================================================
AudioObjectID AddAudioDevice (const AudioDeviceSpec& spec)
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    DeviceRecord record;
    record.spec = spec;
    record.listedFrom = Clock::now() + std::chrono::milliseconds (std::max (0, spec.appearAfterMs));
    const auto id = side.nextId++;
    side.devices.emplace_back (id, std::move (record));
    return id;
}

void RemoveAudioDevice (AudioObjectID device)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.devices.erase (std::remove_if (side.devices.begin(), side.devices.end(),
                                        [device] (const auto& entry) { return entry.first == device; }),
                        side.devices.end());
    if (side.defaultInput == device)
        side.defaultInput = 0;
    if (side.defaultOutput == device)
        side.defaultOutput = 0;
}

AudioObjectID FindAudioDevice (const std::string& uid)
{
    detail::EnsureBooted();
    return detail::ListedAudioDeviceWithUid (uid);
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
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.defaultInput = device;
}

void SetDefaultOutput (AudioObjectID device)
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.defaultOutput = device;
}

AudioObjectID DefaultInput()
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    return side.defaultInput;
}

AudioObjectID DefaultOutput()
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    return side.defaultOutput;
}

void FailProperty (AudioObjectID object, AudioObjectPropertySelector selector, OSStatus status)
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.failures[{ object, selector }] = status;
}

void OverrideProperty (AudioObjectID object, AudioObjectPropertySelector selector, const PropertyAnswer& answer)
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.overrides[{ object, selector }] = answer;
}

void SetAggregateAppearDelay (int milliseconds)
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.aggregateAppearDelayMs = milliseconds;
}

std::vector<AggregateDescription> AggregateDescriptions()
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    return side.descriptions;
}

std::vector<AudioObjectID> ExistingAggregates()
{
    detail::EnsureBooted();
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    std::vector<AudioObjectID> ids;
    for (auto& [id, record] : side.devices)
        if (record.spec.isAggregate)
            ids.push_back (id);
    return ids;
}

void FeedInput (AudioObjectID device, int channel, const std::vector<float>& samples)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    auto& store = *StoreLocked (side, device, channel);
    // Drop what the audio thread has consumed, here rather than there.
    store.fed.erase (store.fed.begin(), store.fed.begin() + (std::ptrdiff_t) store.fedRead);
    store.fedRead = 0;
    store.fed.insert (store.fed.end(), samples.begin(), samples.end());
}

std::vector<float> TakeOutput (AudioObjectID device, int channel)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    auto found = side.stores.find ({ device, channel });
    if (found == side.stores.end() || found->second->captured.empty())
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
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.prefill = value;
}

void SetAudioClock (AudioClock clock)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.clock = clock;
}

void RunAudioBlocks (int count)
{
    std::vector<std::shared_ptr<detail::ManualBlockSource>> sources;
    {
        auto& side = Side();
        std::lock_guard lock (side.mutex);
        sources = side.manualSources;
    }
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
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.devices.clear();
    side.defaultInput = 0;
    side.defaultOutput = 0;
    side.failures.clear();
    side.overrides.clear();
    side.aggregateAppearDelayMs = 0;
    side.descriptions.clear();
    side.stores.clear();
    side.prefill = 0.0f;
    side.clock = AudioClock::RealTime;
    side.manualSources.clear();
}

std::vector<AudioObjectID> ListedAudioDevices()
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    const auto now = Clock::now();
    std::vector<AudioObjectID> ids;
    for (auto& [id, record] : side.devices)
        if (IsListedLocked (record, now))
            ids.push_back (id);
    return ids;
}

std::optional<HalDevice> ListedAudioDevice (AudioObjectID device)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    const auto now = Clock::now();
    const auto* record = ListedRecordLocked (side, device, now);
    if (record == nullptr)
        return std::nullopt;
    return DescribeLocked (side, device, *record, now);
}

AudioObjectID ListedAudioDeviceWithUid (const std::string& uid)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    return ListedIdWithUidLocked (side, uid, Clock::now());
}

std::optional<OSStatus> PropertyFailure (AudioObjectID object, AudioObjectPropertySelector selector)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    auto found = side.failures.find ({ object, selector });
    if (found == side.failures.end())
        return std::nullopt;
    return found->second;
}

std::optional<PropertyAnswer> PropertyOverride (AudioObjectID object, AudioObjectPropertySelector selector)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    auto found = side.overrides.find ({ object, selector });
    if (found == side.overrides.end())
        return std::nullopt;
    return found->second;
}

OSStatus SetDefaultDevice (bool input, AudioObjectID device)
{
    OSStatus status = kAudioHardwareNoError;
    {
        auto& side = Side();
        std::lock_guard lock (side.mutex);
        if (device == kAudioObjectUnknown || ListedRecordLocked (side, device, Clock::now()) == nullptr)
            status = kAudioHardwareBadDeviceError;
        else
            (input ? side.defaultInput : side.defaultOutput) = device;
    }
    Log ((input ? "SetDefaultInputDevice " : "SetDefaultOutputDevice ") + std::to_string (device));
    return status;
}

OSStatus CreateAggregate (AggregateDescription description, AudioObjectID* newId)
{
    const bool fail = FaultActive (Fault::AggregateCreate);
    AudioObjectID id = 0;
    {
        auto& side = Side();
        std::lock_guard lock (side.mutex);
        if (!fail)
        {
            DeviceRecord record;
            record.spec.name = description.name.value_or ("");
            record.spec.uid = description.uid.value_or ("");
            record.spec.isAggregate = true;
            record.created = true;
            for (const auto& sub : description.subDevices)
                record.subDeviceUids.push_back (sub.uid);
            if (side.aggregateAppearDelayMs >= 0)
                record.listedFrom = Clock::now() + std::chrono::milliseconds (side.aggregateAppearDelayMs);
            id = side.nextId++;
            side.devices.emplace_back (id, std::move (record));
        }
        description.id = id;
        side.descriptions.push_back (std::move (description));
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
        auto& side = Side();
        std::lock_guard lock (side.mutex);
        auto* record = FindRecordLocked (side, device);
        destroyed = record != nullptr && record->spec.isAggregate;
        if (destroyed)
        {
            side.devices.erase (std::find_if (side.devices.begin(), side.devices.end(),
                                              [device] (const auto& entry) { return entry.first == device; }));
            if (side.defaultInput == device)
                side.defaultInput = 0;
            if (side.defaultOutput == device)
                side.defaultOutput = 0;
        }
    }
    Log ("AudioHardwareDestroyAggregateDevice " + std::to_string (device));
    return destroyed ? kAudioHardwareNoError : kAudioHardwareBadDeviceError;
}

std::optional<ChannelLayout> ChannelLayoutOf (AudioObjectID device)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    const auto now = Clock::now();
    const auto* record = ListedRecordLocked (side, device, now);
    if (record == nullptr)
        return std::nullopt;

    ChannelLayout layout;
    const auto addOwner = [&layout] (AudioObjectID owner, const AudioDeviceSpec& spec)
    {
        for (int channel = 0; channel < ChannelCount (spec.inputStreams); ++channel)
            layout.inputs.push_back ({ owner, channel });
        for (int channel = 0; channel < ChannelCount (spec.outputStreams); ++channel)
            layout.outputs.push_back ({ owner, channel });
    };
    if (!record->created)
        addOwner (device, record->spec);
    else
        for (auto subId : ActiveSubDevicesLocked (side, *record, now))
            addOwner (subId, FindRecordLocked (side, subId)->spec);
    return layout;
}

std::shared_ptr<ChannelStore> OpenChannelStore (ChannelOwner owner, bool capture)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    auto store = StoreLocked (side, owner.device, owner.channel);
    if (capture && store->captured.empty())
        store->captured.assign (ChannelStore::captureCapacity, 0.0f);
    return store;
}

void ReadInputBlock (ChannelStore* const* stores, float* const* buffers, int numChannels, int numSamples)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    for (int channel = 0; channel < numChannels; ++channel)
    {
        auto& store = *stores[channel];
        const auto available = store.fed.size() - store.fedRead;
        const auto taken = std::min (available, (std::size_t) numSamples);
        std::copy_n (store.fed.begin() + (std::ptrdiff_t) store.fedRead, taken, buffers[channel]);
        std::fill (buffers[channel] + taken, buffers[channel] + numSamples, 0.0f);
        store.fedRead += taken;
    }
}

void WriteOutputBlock (ChannelStore* const* stores, const float* const* buffers, int numChannels, int numSamples)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    for (int channel = 0; channel < numChannels; ++channel)
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
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    return side.prefill;
}

AudioClock CurrentAudioClock()
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    return side.clock;
}

void CountAudioBlock()
{
    blocksRun.fetch_add (1);
}

void AddManualBlockSource (std::shared_ptr<ManualBlockSource> source)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.manualSources.push_back (std::move (source));
}

void RemoveManualBlockSource (const ManualBlockSource* source)
{
    auto& side = Side();
    std::lock_guard lock (side.mutex);
    side.manualSources.erase (std::remove_if (side.manualSources.begin(), side.manualSources.end(),
                                              [source] (const auto& entry) { return entry.get() == source; }),
                              side.manualSources.end());
}

} // namespace detail
} // namespace sim
