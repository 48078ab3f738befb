#include "app/TrayMenu.h"

#include "app/AppInfo.h"
#include "engine/VirtualChannelsEngine.h"
#include "platform/seam/PlatformSeam.h"
#include "resources/TrayIconPNG.h"

namespace
{

// The maker's own host is not known to us; a reserved name stands in for it
// so the address can never reach somebody else's site.
const juce::URL UserGuideURL ("https://tavrolux.example/user-guides/tavrolux-velmar/virtual-devices");

juce::String LatencyText (AudioSystemUtils::Latency latency)
{
    switch (latency)
    {
        case AudioSystemUtils::Latency::Low:
            return "Latency: Low";
        case AudioSystemUtils::Latency::UltraLow:
            return "Latency: Ultra-Low";
    }
    return "Latency";
}

} // namespace

TrayMenu::TrayMenu (VirtualChannelsEngine& engine)
    : deviceNameProperty (&engine.deviceName),
      firmwareVersionProperty (&engine.firmwareVersion),
      latencyProperty (&engine.latency),
      processingEnabledProperty (&engine.processingEnabled)
{
    {
        // An image that fails to decode is invalid, and then no status item is made.
        const auto icon = juce::ImageFileFormat::loadFrom (Resources::TrayIconPNG, Resources::TrayIconPNGSize);
        PlatformSeam::SetStatusIcon (*this, icon);
    }

    appVersionText = juce::String ("App Version: ") + AppInfo::kVersion;

    deviceNameProperty->Changed.connect (&TrayMenu::SetDeviceName, this);
    firmwareVersionProperty->Changed.connect (&TrayMenu::SetFirmwareVersion, this);
    processingEnabledProperty->Changed.connect (&TrayMenu::OnProcessingEnabledChanged, this);
    latencyProperty->Changed.connect (&TrayMenu::OnLatencyChanged, this);

    SetDeviceName (deviceNameProperty->value);
    SetFirmwareVersion (firmwareVersionProperty->value);
    OnProcessingEnabledChanged (processingEnabledProperty->value);
    OnLatencyChanged (latencyProperty->value);
}

TrayMenu::~TrayMenu() = default;

void TrayMenu::mouseUp (const juce::MouseEvent& e)
{
    if (e.originalComponent == nullptr)
        return;

    UpdateMenu();
    PlatformSeam::ShowStatusMenu (*this, menu);
}

void TrayMenu::SetDeviceName (juce::String name)
{
    deviceNameText = name.isEmpty() ? juce::String ("No Device Connected") : name;
}

void TrayMenu::SetFirmwareVersion (juce::String version)
{
    firmwareVersionText = version.isEmpty() ? juce::String ("--") : "Firmware Version: " + version;
}

void TrayMenu::OnProcessingEnabledChanged (bool)
{
    UpdateMenu();
}

void TrayMenu::OnLatencyChanged (AudioSystemUtils::Latency)
{
    UpdateMenu();
}

void TrayMenu::UpdateMenu()
{
    menu.clear();

    menu.addItem (1, deviceNameText, false);
    menu.addItem (2, firmwareVersionText, false);
    menu.addItem (3, appVersionText, false);
    menu.addSeparator();

    menu.addItem ("Bypass", true, !processingEnabledProperty->value,
                  [this] { processingEnabledProperty->Set (!processingEnabledProperty->value); });

    latencyText = LatencyText (latencyProperty->value);
    menu.addItem (5, latencyText, false);
    menu.addSeparator();

    menu.addItem ("User Guide", true, false, [] { UserGuideURL.launchInDefaultBrowser(); });
    menu.addItem ("Quit", true, false,
                  []
                  {
                      if (auto* application = juce::JUCEApplication::getInstance())
                          application->systemRequestedQuit();
                  });
}
