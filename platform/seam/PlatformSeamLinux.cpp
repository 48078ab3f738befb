// The seam where JUCE's macOS-only calls are missing: strings go through
// UTF-8, the "CoreAudio" device type is our own over the simulated HAL, and
// the status menu is a JUCE pop-up menu that keeps the macOS rule that it
// works only while a main-menu model is installed.

#include "platform/seam/PlatformSeam.h"
#include "platform/seam/PlatformSeamTesting.h"

#include "platform/audiodevice/HalAudioIODeviceType.h"

namespace PlatformSeam
{
namespace
{

juce::MenuBarModel* mainMenu = nullptr;
std::function<void (const juce::PopupMenu&)> menuPresenter;

/** The menu as it will be shown: every action first checks that a main-menu
    model is still installed when it comes to run (after the menu has closed). */
juce::PopupMenu GuardedCopy (const juce::PopupMenu& menu)
{
    juce::PopupMenu copy (menu);
    for (juce::PopupMenu::MenuItemIterator items (copy, true); items.next();)
    {
        auto& item = items.getItem();
        if (item.action == nullptr)
            continue;
        item.action = [action = std::move (item.action)]
        {
            if (GetMainMenu() != nullptr)
                action();
        };
    }
    return copy;
}

} // namespace

juce::String StringFromCF (CFStringRef string)
{
    // The stand-in holds its strings as UTF-8, so the text is at hand without a conversion.
    const char* text = string != nullptr ? CFStringGetCStringPtr (string, kCFStringEncodingUTF8) : nullptr;
    return text != nullptr ? juce::String::fromUTF8 (text) : juce::String();
}

CFStringRef CreateCFString (const juce::String& text)
{
    return CFStringCreateWithCString (kCFAllocatorDefault, text.toRawUTF8(), kCFStringEncodingUTF8);
}

void PrepareAudioDeviceManager (juce::AudioDeviceManager& manager)
{
    manager.addAudioDeviceType (std::make_unique<HalAudioIODeviceType>());
}

void SetMainMenu (juce::MenuBarModel* model)
{
    mainMenu = model;
}

juce::MenuBarModel* GetMainMenu()
{
    return mainMenu;
}

void ShowStatusMenu (juce::SystemTrayIconComponent& statusItem, const juce::PopupMenu& menu)
{
    if (GetMainMenu() == nullptr)
        return;

    auto shown = GuardedCopy (menu);
    if (menuPresenter != nullptr)
    {
        menuPresenter (shown);
        return;
    }
    shown.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&statusItem));
}

void SetMenuPresenterForTesting (std::function<void (const juce::PopupMenu&)> presenter)
{
    menuPresenter = std::move (presenter);
}

} // namespace PlatformSeam
