#include "platform/iokit/HidSystem.h"

namespace
{

CFTypeRef MakeValue (const sim::HidValue& value)
{
    if (auto* integer = std::get_if<std::int64_t> (&value))
        return CFNumberCreate (kCFAllocatorDefault, kCFNumberSInt64Type, integer);
    const auto& text = std::get<std::string> (value);
    return CFStringCreateWithBytes (kCFAllocatorDefault, reinterpret_cast<const UInt8*> (text.data()),
                                    static_cast<CFIndex> (text.size()), kCFStringEncodingUTF8, false);
}

__IOHIDDevice& DeviceOf (IOHIDDeviceRef device, const char* function)
{
    return cf::Checked<__IOHIDDevice> (device, cf::kHidDeviceTypeId, function);
}

} // namespace

__IOHIDDevice::__IOHIDDevice (sim::HidId id_, const sim::HidProperties& given) : Object (cf::kHidDeviceTypeId), id (id_)
{
    for (auto& [key, value] : given)
        if (CFTypeRef made = MakeValue (value)) // text that is not UTF-8 leaves the property out
            properties.emplace_back (key, made);
}

__IOHIDDevice::~__IOHIDDevice()
{
    HidSystem::Instance().ForgetDevice (*this);
    for (auto& property : properties)
        CFRelease (property.second);
}

CFTypeRef __IOHIDDevice::Property (const char* key) const
{
    for (auto& property : properties)
        if (property.first == key)
            return property.second;
    return nullptr;
}

extern "C"
{
    CFTypeID IOHIDDeviceGetTypeID (void)
    {
        return cf::kHidDeviceTypeId;
    }

    CFTypeRef IOHIDDeviceGetProperty (IOHIDDeviceRef device, CFStringRef key)
    {
        const __IOHIDDevice& d = DeviceOf (device, "IOHIDDeviceGetProperty");
        if (key == nullptr || CFGetTypeID (key) != CFStringGetTypeID())
            return nullptr;
        const char* name = CFStringGetCStringPtr (key, kCFStringEncodingUTF8);
        return name ? d.Property (name) : nullptr;
    }

    IOReturn IOHIDDeviceOpen (IOHIDDeviceRef device, IOOptionBits)
    {
        return HidSystem::Instance().OpenDevice (DeviceOf (device, "IOHIDDeviceOpen"));
    }

    IOReturn IOHIDDeviceClose (IOHIDDeviceRef device, IOOptionBits)
    {
        return HidSystem::Instance().CloseDevice (DeviceOf (device, "IOHIDDeviceClose"));
    }

    void IOHIDDeviceRegisterInputReportCallback (IOHIDDeviceRef device, uint8_t* report, CFIndex reportLength,
                                                 IOHIDReportCallback callback, void* context)
    {
        HidSystem::Instance().RegisterInputReportCallback (DeviceOf (device, "IOHIDDeviceRegisterInputReportCallback"),
                                                           report, reportLength, callback, context);
    }

} // extern "C"
