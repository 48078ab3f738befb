#include "app/QUORVirtualChannelsApplication.h"

#include "app/AppInfo.h"
#include "app/TrayMenu.h"
#include "app/dummyMenuBarModel.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/seam/PlatformSeam.h"

QUORVirtualChannelsApplication::QUORVirtualChannelsApplication() = default;

QUORVirtualChannelsApplication::~QUORVirtualChannelsApplication() = default;

const juce::String QUORVirtualChannelsApplication::getApplicationName()
{
    return AppInfo::kName;
}

const juce::String QUORVirtualChannelsApplication::getApplicationVersion()
{
    return AppInfo::kVersion;
}

bool QUORVirtualChannelsApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void QUORVirtualChannelsApplication::initialise (const juce::String&)
{
    engine = std::make_unique<VirtualChannelsEngine>();

    // The status menu opens and acts only while a main-menu model is installed.
    auto model = std::make_unique<dummyMenuBarModel>();
    PlatformSeam::SetMainMenu (model.get());
    menuBarModel = std::move (model);

    trayMenu = std::make_unique<TrayMenu> (*engine);
}

void QUORVirtualChannelsApplication::shutdown()
{
    // The engine first: it restores the default devices and stops its threads
    // while the status-bar menu, which points into it, is no longer called.
    engine.reset();
    menuBarModel.reset();
    trayMenu.reset();
}

void QUORVirtualChannelsApplication::anotherInstanceStarted (const juce::String&) {}

void QUORVirtualChannelsApplication::systemRequestedQuit()
{
    quit();
}
