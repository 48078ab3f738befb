#include "platform/seam/PlatformSeam.h"
#include "platform/seam/PlatformSeamTesting.h"
#include "platform/sim/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{

TEST (PlatformSeam, StringsCrossThroughUtf8AndTheDeviceManagerGetsTheCoreAudioType)
{
    const juce::String text = juce::String::fromUTF8 ("Tavrolux \xE2\x80\x93 Caf\xC3\xA9 \xF0\x9F\x8E\x9A");
    const auto objectsBefore = sim::LiveObjectCount();
    CFStringRef string = PlatformSeam::CreateCFString (text);
    ASSERT_NE (string, nullptr);
    EXPECT_EQ (PlatformSeam::StringFromCF (string), text);
    CFRelease (string);
    EXPECT_EQ (sim::LiveObjectCount(), objectsBefore);
    EXPECT_EQ (PlatformSeam::StringFromCF (CFSTR ("")), "");
    EXPECT_EQ (PlatformSeam::StringFromCF (nullptr), "");

    juce::AudioDeviceManager manager;
    PlatformSeam::PrepareAudioDeviceManager (manager);
    ASSERT_EQ (manager.getAvailableDeviceTypes().size(), 1);
    EXPECT_EQ (manager.getAvailableDeviceTypes()[0]->getTypeName(), "CoreAudio");
}

struct EmptyMainMenu : juce::MenuBarModel
{
    juce::StringArray getMenuBarNames() override { return { "" }; }
    juce::PopupMenu getMenuForIndex (int, const juce::String&) override { return {}; }
    void menuItemSelected (int, int) override {}
};

/** Runs the action of the shown item with this text. */
void Choose (const juce::PopupMenu& shown, const juce::String& text)
{
    for (juce::PopupMenu::MenuItemIterator items (shown, true); items.next();)
        if (items.getItem().text == text && items.getItem().action != nullptr)
            items.getItem().action();
}

TEST (PlatformSeam, StatusMenuWorksOnlyWhileAMainMenuIsInstalled)
{
    std::optional<juce::PopupMenu> shown;
    int shows = 0, quits = 0, nested = 0;
    PlatformSeam::SetMenuPresenterForTesting (
        [&] (const juce::PopupMenu& menu)
        {
            shown = menu;
            ++shows;
        });
    juce::PopupMenu menu, sub;
    menu.addItem (1, "Device", false);
    menu.addItem ("Quit", [&] { ++quits; });
    sub.addItem ("Nested", [&] { ++nested; });
    menu.addSubMenu ("More", sub);

    juce::SystemTrayIconComponent statusItem;
    PlatformSeam::SetMainMenu (nullptr);
    PlatformSeam::ShowStatusMenu (statusItem, menu);
    EXPECT_EQ (shows, 0) << "no main menu, no status menu";

    EmptyMainMenu model;
    PlatformSeam::SetMainMenu (&model);
    EXPECT_EQ (PlatformSeam::GetMainMenu(), &model);
    PlatformSeam::ShowStatusMenu (statusItem, menu);
    ASSERT_EQ (shows, 1);
    EXPECT_EQ (shown->getNumItems(), menu.getNumItems());
    Choose (*shown, "Quit");
    Choose (*shown, "Nested");
    EXPECT_EQ (quits + nested, 2);

    // The menu was shown, but the model went away before the choice ran.
    PlatformSeam::SetMainMenu (nullptr);
    Choose (*shown, "Quit");
    Choose (*shown, "Nested");
    EXPECT_EQ (quits + nested, 2);

    // The caller's own menu is left as it was.
    Choose (menu, "Quit");
    EXPECT_EQ (quits, 2);
    PlatformSeam::SetMenuPresenterForTesting ({});
}

} // namespace
