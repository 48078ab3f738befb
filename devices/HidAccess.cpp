#include "devices/HidAccess.h"

#include "platform/seam/PlatformSeam.h"

namespace HidAccess
{

DeviceSet CopyDevices (IOHIDManagerRef manager)
{
    DeviceSet result;

    if (manager == nullptr)
        return result;

    result.set = CFRef<CFSetRef>::Adopt (IOHIDManagerCopyDevices (manager));

    if (!result.set)
        return result;

    const auto count = CFSetGetCount (result.set.Get());

    if (count <= 0)
        return result;

    std::vector<const void*> values (static_cast<std::size_t> (count));
    CFSetGetValues (result.set.Get(), values.data());

    result.devices.reserve (values.size());

    for (const void* value : values)
        result.devices.push_back (static_cast<IOHIDDeviceRef> (const_cast<void*> (value)));

    return result;
}

std::int64_t ReadNumber (IOHIDDeviceRef device, CFStringRef key, CFNumberType type)
{
    const CFTypeRef value = IOHIDDeviceGetProperty (device, key);

    if (value == nullptr || CFGetTypeID (value) != CFNumberGetTypeID())
        return 0;

    std::int64_t number = 0;
    CFNumberGetValue (static_cast<CFNumberRef> (value), type, &number);
    return number;
}

juce::String ReadText (IOHIDDeviceRef device, CFStringRef key)
{
    const CFTypeRef value = IOHIDDeviceGetProperty (device, key);

    if (value == nullptr || CFGetTypeID (value) != CFStringGetTypeID())
        return {};

    return PlatformSeam::StringFromCF (static_cast<CFStringRef> (value));
}

juce::String UniqueIdText (IOHIDDeviceRef device)
{
    const auto uniqueId = ReadNumber (device, CFSTR (kIOHIDUniqueIDKey), kCFNumberLongLongType);
    return juce::String (static_cast<std::int32_t> (static_cast<std::uint32_t> (uniqueId)));
}

} // namespace HidAccess
