#include "platform/iokit/HidSystem.h"
#include "platform/sim/MachineInternals.h"

namespace
{

__IOHIDManager& ManagerOf (IOHIDManagerRef manager, const char* function)
{
    return cf::Checked<__IOHIDManager> (manager, cf::kHidManagerTypeId, function);
}

} // namespace

__IOHIDManager::~__IOHIDManager()
{
    HidSystem::Instance().ForgetManager (*this);
}

extern "C"
{
    CFTypeID IOHIDManagerGetTypeID (void)
    {
        return cf::kHidManagerTypeId;
    }

    IOHIDManagerRef IOHIDManagerCreate (CFAllocatorRef, IOOptionBits)
    {
        if (sim::detail::FaultActive (sim::Fault::HidManagerCreate))
            return nullptr;
        IOHIDManagerRef manager = HidSystem::Instance().CreateManager();
        sim::detail::Log ("IOHIDManagerCreate");
        return manager;
    }

    IOReturn IOHIDManagerOpen (IOHIDManagerRef manager, IOOptionBits)
    {
        auto& m = ManagerOf (manager, "IOHIDManagerOpen");
        if (sim::detail::FaultActive (sim::Fault::HidManagerOpen))
            return kIOReturnNotPrivileged;
        HidSystem::Instance().SetManagerOpen (m, true);
        sim::detail::Log ("IOHIDManagerOpen");
        return kIOReturnSuccess;
    }

    IOReturn IOHIDManagerClose (IOHIDManagerRef manager, IOOptionBits)
    {
        HidSystem::Instance().SetManagerOpen (ManagerOf (manager, "IOHIDManagerClose"), false);
        sim::detail::Log ("IOHIDManagerClose");
        return kIOReturnSuccess;
    }

    void IOHIDManagerSetDeviceMatching (IOHIDManagerRef manager, CFDictionaryRef matching)
    {
        auto& m = ManagerOf (manager, "IOHIDManagerSetDeviceMatching");
        if (matching != nullptr)
            cf::Checked<const cf::Object> (matching, cf::kDictionaryTypeId, "IOHIDManagerSetDeviceMatching");
        HidSystem::Instance().SetMatching (m, matching);
        sim::detail::Log ("IOHIDManagerSetDeviceMatching");
    }

    void IOHIDManagerScheduleWithRunLoop (IOHIDManagerRef manager, CFRunLoopRef runLoop, CFStringRef)
    {
        auto& m = ManagerOf (manager, "IOHIDManagerScheduleWithRunLoop");
        cf::Checked<const cf::Object> (runLoop, cf::kRunLoopTypeId, "IOHIDManagerScheduleWithRunLoop");
        HidSystem::Instance().Schedule (m, runLoop);
    }

    CFSetRef IOHIDManagerCopyDevices (IOHIDManagerRef manager)
    {
        return HidSystem::Instance().CopyDevices (ManagerOf (manager, "IOHIDManagerCopyDevices"));
    }

} // extern "C"
