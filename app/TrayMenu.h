#pragma once

#include <mutex>

#include <juce_gui_extra/juce_gui_extra.h>

#include "engine/AudioSystemUtils.h"
#include "engine/ObservableProperty.h"

class VirtualChannelsEngine;

/**
    The status-bar icon and its drop-down menu: the device, firmware, version
    and latency lines, then "Bypass", "User Guide" and "Quit".

    Lives on the message thread only. It points at four of the engine's
    properties without owning them: the engine must outlive every call into
    this object, and its property signals hold this object's slots (no
    connection handle is kept, so they end with the engine).
*/
class TrayMenu : public juce::SystemTrayIconComponent
{
public:
    /** Builds the status item, connects to the engine's properties and builds the menu. */
    explicit TrayMenu (VirtualChannelsEngine& engine);
    ~TrayMenu() override;

    /** A press on the icon: rebuilds the menu and drops it down under the icon. */
    void mouseUp (const juce::MouseEvent& e) override;

    /** Refills the menu from the stored texts and the properties' current values. */
    void UpdateMenu();

    /** Slots on the engine's properties; they run inside the property's Set. */
    void SetDeviceName (juce::String name);
    void SetFirmwareVersion (juce::String version);
    void OnProcessingEnabledChanged (bool value);
    void OnLatencyChanged (AudioSystemUtils::Latency value);

    /** The menu as last built, which is what a press shows once rebuilt. */
    const juce::PopupMenu& GetMenu() const noexcept { return menu; }

private:
    ObservableProperty<juce::String, std::recursive_mutex>* deviceNameProperty;
    ObservableProperty<juce::String, std::recursive_mutex>* firmwareVersionProperty;
    ObservableProperty<AudioSystemUtils::Latency, std::recursive_mutex>* latencyProperty;
    ObservableProperty<bool, std::recursive_mutex>* processingEnabledProperty;

    juce::String deviceNameText;
    juce::String firmwareVersionText;
    juce::String appVersionText;
    juce::String latencyText;

    juce::PopupMenu menu;

    JUCE_DECLARE_NON_COPYABLE (TrayMenu)
};
