#pragma once

// The few JUCE calls that exist only on macOS, and what stands in for them
// elsewhere. Everything else the program calls is the same on every host.

#include <CoreFoundation/CoreFoundation.h>

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_extra/juce_gui_extra.h>

namespace PlatformSeam {

/** The text of a CoreFoundation string, through UTF-8; "" for NULL. */
juce::String StringFromCF (CFStringRef string);

/** A new CoreFoundation string holding the text; the caller releases it. */
CFStringRef CreateCFString (const juce::String& text);

/** Makes the host's "CoreAudio" device type available to a new device
    manager. Nothing to do on macOS, where JUCE brings its own. */
void PrepareAudioDeviceManager (juce::AudioDeviceManager& manager);

/** Installs (or, with nullptr, removes) the application's main-menu model. */
void SetMainMenu (juce::MenuBarModel* model);

/** The installed main-menu model, or nullptr. */
juce::MenuBarModel* GetMainMenu();

/** Pops the status item's menu up under the icon. Shows nothing while no
    main-menu model is installed, and a chosen item's action runs only if one
    is installed when it comes to run. */
void ShowStatusMenu (juce::SystemTrayIconComponent& statusItem, const juce::PopupMenu& menu);

/** Gives the status item its icon, a template image: a black drawing in the
    alpha channel that macOS recolours to suit the menu bar. Where nothing
    recolours it (X11 trays), the glyph is drawn light for the dark icon
    window, and the docked window gets the minimum size that some tray hosts
    (trayer among them) need to show it more than a pixel wide. Message thread only. */
#if JUCE_LINUX
void SetStatusIcon (juce::SystemTrayIconComponent& statusItem, const juce::Image& templateImage);
#else
inline void SetStatusIcon (juce::SystemTrayIconComponent& statusItem, const juce::Image& templateImage)
{
    statusItem.setIconImage (templateImage, templateImage);
}
#endif

} // namespace PlatformSeam
