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
        sim::detail::EnsureBooted();
        if (sim::detail::FaultActive (sim::Fault::HidManagerCreate))
            return nullptr;
        IOHIDManagerRef manager = HidSystem::Instance().CreateManager();
        sim::detail::Log ("IOHIDManagerCreate");
        return manager;
    }

    IOReturn IOHIDManagerOpen (IOHIDManagerRef manager, IOOptionBits)
    {
        sim::detail::EnsureBooted();
        auto& m = ManagerOf (manager, "IOHIDManagerOpen");
        if (sim::detail::FaultActive (sim::Fault::HidManagerOpen))
            return kIOReturnNotPrivileged;
        const IOReturn result = HidSystem::Instance().OpenManager (m);
        sim::detail::Log ("IOHIDManagerOpen");
        return result;
    }

    IOReturn IOHIDManagerClose (IOHIDManagerRef manager, IOOptionBits)
    {
        sim::detail::EnsureBooted();
        const IOReturn result = HidSystem::Instance().CloseManager (ManagerOf (manager, "IOHIDManagerClose"));
        sim::detail::Log ("IOHIDManagerClose");
        return result;
    }

    void IOHIDManagerSetDeviceMatching (IOHIDManagerRef manager, CFDictionaryRef matching)
    {
        sim::detail::EnsureBooted();
        auto& m = ManagerOf (manager, "IOHIDManagerSetDeviceMatching");
        if (matching != nullptr)
            cf::Checked<const cf::Object> (matching, cf::kDictionaryTypeId, "IOHIDManagerSetDeviceMatching");
        HidSystem::Instance().SetMatching (m, matching);
        sim::detail::Log ("IOHIDManagerSetDeviceMatching");
    }

    void IOHIDManagerScheduleWithRunLoop (IOHIDManagerRef manager, CFRunLoopRef runLoop, CFStringRef)
    {
        sim::detail::EnsureBooted();
        auto& m = ManagerOf (manager, "IOHIDManagerScheduleWithRunLoop");
        cf::Checked<const cf::Object> (runLoop, cf::kRunLoopTypeId, "IOHIDManagerScheduleWithRunLoop");
        HidSystem::Instance().Schedule (m, runLoop);
    }

    void IOHIDManagerUnscheduleFromRunLoop (IOHIDManagerRef manager, CFRunLoopRef runLoop, CFStringRef)
    {
        sim::detail::EnsureBooted();
        HidSystem::Instance().Unschedule (ManagerOf (manager, "IOHIDManagerUnscheduleFromRunLoop"), runLoop);
    }

    CFSetRef IOHIDManagerCopyDevices (IOHIDManagerRef manager)
    {
        sim::detail::EnsureBooted();
        return HidSystem::Instance().CopyDevices (ManagerOf (manager, "IOHIDManagerCopyDevices"));
    }

} // extern "C"
