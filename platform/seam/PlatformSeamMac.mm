// On macOS JUCE has all of this itself; the seam only forwards.

#include "platform/seam/PlatformSeam.h"

namespace PlatformSeam
{

juce::String StringFromCF (CFStringRef string)
{
    return string == nullptr ? juce::String() : juce::String::fromCFString (string);
}

CFStringRef CreateCFString (const juce::String& text)
{
    return text.toCFString();
}

void PrepareAudioDeviceManager (juce::AudioDeviceManager&) {}

void SetMainMenu (juce::MenuBarModel* model)
{
    juce::MenuBarModel::setMacMainMenu (model);
}

juce::MenuBarModel* GetMainMenu()
{
    return juce::MenuBarModel::getMacMainMenu();
}

void ShowStatusMenu (juce::SystemTrayIconComponent& statusItem, const juce::PopupMenu& menu)
{
    statusItem.showDropdownMenu (menu);
}

} // namespace PlatformSeam
