#include "engine/AudioSystemUtils.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>

#include "devices/CFRef.h"
#include "platform/seam/PlatformSeam.h"

namespace AudioSystemUtils
{

namespace
{

constexpr AudioObjectPropertyAddress GlobalAddress (AudioObjectPropertySelector selector)
{
    return { selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain };
}

/** The size of a property's data; nothing when the HAL cannot say or there is nothing to read. */
std::optional<UInt32> GetPropertySize (AudioObjectID object, const AudioObjectPropertyAddress& address)
{
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize (object, &address, 0, nullptr, &size) != 0 || size == 0)
        return std::nullopt;
    return size;
}

AudioObjectID GetDefaultDevice (AudioObjectPropertySelector selector)
{
    const auto address = GlobalAddress (selector);
    if (!GetPropertySize (kAudioObjectSystemObject, address))
        return 0;

    // Whatever size the HAL announced, it may write no more than the one id we hold.
    AudioObjectID device = 0;
    UInt32 dataSize = sizeof (device);
    AudioObjectGetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, &dataSize, &device);
    return device;
}

void SetDefaultDevice (AudioObjectPropertySelector selector, AudioObjectID device)
{
    const auto address = GlobalAddress (selector);
    AudioObjectSetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, sizeof (device), &device);
}

/** The text of a value that should be a CFString; "" for anything else. */
juce::String TextOf (CFTypeRef value)
{
    if (value == nullptr || CFGetTypeID (value) != CFStringGetTypeID())
        return {};

    return PlatformSeam::StringFromCF (static_cast<CFStringRef> (value));
}

struct FreeDeleter
{
    void operator() (void* block) const { std::free (block); }
};

} // namespace

std::vector<AudioObjectID> GetDeviceIds()
{
    const auto address = GlobalAddress (kAudioHardwarePropertyDevices);
    const auto announced = GetPropertySize (kAudioObjectSystemObject, address);

    if (!announced)
        return {};

    std::vector<AudioObjectID> ids (*announced / sizeof (AudioObjectID), 0);

    // The read's status is deliberately not checked: ids it leaves at 0 name no
    // device, and every later query on them comes back empty. The HAL may write
    // only as many whole ids as the list holds.
    UInt32 dataSize = static_cast<UInt32> (ids.size() * sizeof (AudioObjectID));
    AudioObjectGetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, &dataSize, ids.data());
    return ids;
}

juce::String GetStringProperty (AudioObjectID object, AudioObjectPropertySelector selector)
{
    const auto address = GlobalAddress (selector);
    CFStringRef value = nullptr;
    UInt32 size = sizeof (value);
    const bool read = AudioObjectGetPropertyData (object, &address, 0, nullptr, &size, &value) == 0;

    // A failed read may still have handed out a reference.
    const auto owner = CFRef<CFStringRef>::Adopt (value);
    return read ? TextOf (value) : juce::String();
}

juce::String GetDeviceName (AudioObjectID device)
{
    return GetStringProperty (device, kAudioObjectPropertyName);
}

juce::String GetDeviceUid (AudioObjectID device)
{
    return GetStringProperty (device, kAudioDevicePropertyDeviceUID);
}

int GetNumOutputChannels (AudioObjectID device)
{
    const AudioObjectPropertyAddress address { kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeOutput,
                                               kAudioObjectPropertyElementMain };
    const auto announced = GetPropertySize (device, address);

    if (!announced)
        return 0;

    // At least a whole AudioBufferList, so that reading its header never leaves
    // the block, however small the announced size.
    const size_t blockSize = std::max<size_t> (*announced, sizeof (AudioBufferList));
    std::unique_ptr<void, FreeDeleter> block (std::calloc (1, blockSize));

    if (block == nullptr)
        return 0;

    UInt32 dataSize = *announced;

    if (AudioObjectGetPropertyData (device, &address, 0, nullptr, &dataSize, block.get()) != 0)
        return 0;

    // mNumberBuffers is the HAL's claim; trust it only as far as the buffers
    // actually fit in what was read.
    const size_t bytesRead = std::min<size_t> (*announced, dataSize);
    const size_t headerSize = offsetof (AudioBufferList, mBuffers);
    const size_t buffersThatFit = (std::max (bytesRead, headerSize) - headerSize) / sizeof (AudioBuffer);

    const auto* list = static_cast<const AudioBufferList*> (block.get());
    const size_t numBuffers = std::min<size_t> (list->mNumberBuffers, buffersThatFit);
    const AudioBuffer* buffers = list->mBuffers;

    // Summed wide: a malformed answer may claim billions of channels.
    std::uint64_t channels = 0;

    for (size_t i = 0; i < numBuffers; ++i)
        channels += buffers[i].mNumberChannels;

    return static_cast<int> (std::min<std::uint64_t> (channels, std::numeric_limits<int>::max()));
}

std::vector<juce::String> GetOutputDeviceNames()
{
    std::vector<juce::String> names;

    for (auto device : GetDeviceIds())
    {
        auto name = GetDeviceName (device);

        if (name.isNotEmpty() && GetNumOutputChannels (device) != 0)
            names.push_back (std::move (name));
    }

    return names;
}

AudioObjectID GetDefaultInputDevice()
{
    return GetDefaultDevice (kAudioHardwarePropertyDefaultInputDevice);
}

AudioObjectID GetDefaultOutputDevice()
{
    return GetDefaultDevice (kAudioHardwarePropertyDefaultOutputDevice);
}

void SetDefaultInputDevice (AudioObjectID device)
{
    SetDefaultDevice (kAudioHardwarePropertyDefaultInputDevice, device);
}

void SetDefaultOutputDevice (AudioObjectID device)
{
    SetDefaultDevice (kAudioHardwarePropertyDefaultOutputDevice, device);
}

void DetachNotificationsFromMainRunLoop()
{
    const auto address = GlobalAddress (kAudioHardwarePropertyRunLoop);
    const CFRunLoopRef none = nullptr;
    AudioObjectSetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, sizeof (none), &none);
}

AudioObjectID TranslateUidToDevice (const juce::String& uid)
{
    const auto address = GlobalAddress (kAudioHardwarePropertyDeviceForUID);
    const auto uidString = CFRef<CFStringRef>::Adopt (PlatformSeam::CreateCFString (uid));
    CFStringRef input = uidString.Get();
    AudioObjectID device = 0;

    AudioValueTranslation translation {};
    translation.mInputData = &input;
    translation.mInputDataSize = sizeof (input);
    translation.mOutputData = &device;
    translation.mOutputDataSize = sizeof (device);

    UInt32 size = sizeof (translation);
    AudioObjectGetPropertyData (kAudioObjectSystemObject, &address, 0, nullptr, &size, &translation);
    return device;
}

std::vector<juce::String> GetSubDeviceUids (AudioObjectID aggregate)
{
    const auto address = GlobalAddress (kAudioAggregateDevicePropertyFullSubDeviceList);
    const auto announced = GetPropertySize (aggregate, address);

    if (!announced)
        return {};

    CFArrayRef array = nullptr;
    UInt32 dataSize = sizeof (array);
    const bool read = AudioObjectGetPropertyData (aggregate, &address, 0, nullptr, &dataSize, &array) == 0;

    // Released whether or not the read succeeded.
    const auto owner = CFRef<CFArrayRef>::Adopt (array);
    std::vector<juce::String> uids;

    if (!read || array == nullptr || CFGetTypeID (array) != CFArrayGetTypeID())
        return uids;

    const CFIndex count = CFArrayGetCount (array);

    for (CFIndex i = 0; i < count; ++i)
        uids.push_back (TextOf (CFArrayGetValueAtIndex (array, i)));

    return uids;
}

std::vector<juce::String> GetActiveSubDeviceUids (AudioObjectID aggregate)
{
    const auto address = GlobalAddress (kAudioAggregateDevicePropertyActiveSubDeviceList);
    const auto announced = GetPropertySize (aggregate, address);

    if (!announced)
        return {};

    std::vector<AudioObjectID> ids (*announced / sizeof (AudioObjectID), 0);
    UInt32 dataSize = static_cast<UInt32> (ids.size() * sizeof (AudioObjectID));

    if (ids.empty() || AudioObjectGetPropertyData (aggregate, &address, 0, nullptr, &dataSize, ids.data()) != 0)
        return {};

    std::vector<juce::String> uids;
    uids.reserve (ids.size());

    for (auto id : ids)
        uids.push_back (GetDeviceUid (id));

    return uids;
}

} // namespace AudioSystemUtils
