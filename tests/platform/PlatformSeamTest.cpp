#include "platform/seam/PlatformSeam.h"
#include "app/dummyMenuBarModel.h"
#include "tests/support/SimulatedMachineSetup.h"

TEST (PlatformSeam, StringsCrossThroughUtf8AndTheDeviceManagerGetsTheCoreAudioType)
{
    const auto text = juce::String::fromUTF8 ("Tavrolux \xE2\x80\x93 Caf\xC3\xA9 \xF0\x9F\x8E\x9A");
    CFStringRef string = PlatformSeam::CreateCFString (text);
    EXPECT_EQ (PlatformSeam::StringFromCF (string), text);
    CFRelease (string);
    EXPECT_EQ (PlatformSeam::StringFromCF (nullptr), "");

    juce::AudioDeviceManager manager;
    PlatformSeam::PrepareAudioDeviceManager (manager);
    ASSERT_EQ (manager.getAvailableDeviceTypes().size(), 1);
    EXPECT_EQ (manager.getAvailableDeviceTypes()[0]->getTypeName(), "CoreAudio");
}

TEST (PlatformSeam, StatusMenuOpensAndActsOnlyWhileAMainMenuIsInstalled)
{
    quortest::MenuUser user;
    int runs = 0;
    juce::PopupMenu menu, sub;
    sub.addItem ("Nested", [&] { ++runs; });
    menu.addItem ("Quit", [&] { ++runs; });
    menu.addSubMenu ("More", sub);
    const auto runsOfAll = [&runs] (const juce::PopupMenu& m)
    {
        runs = 0;
        for (juce::PopupMenu::MenuItemIterator items (m, true); items.next();)
            if (const auto& action = items.getItem().action)
                action();
        return runs;
    };
    juce::SystemTrayIconComponent statusItem;
    PlatformSeam::ShowStatusMenu (statusItem, menu);
    EXPECT_TRUE (user.shown.empty()) << "no main menu, no status menu";
    auto model = std::make_unique<dummyMenuBarModel>();
    PlatformSeam::SetMainMenu (model.get());
    PlatformSeam::ShowStatusMenu (statusItem, menu);
    ASSERT_EQ (user.shown.size(), 1u);
    EXPECT_EQ (runsOfAll (user.shown[0]), 2);
    model.reset(); // gone while the menu was open
    EXPECT_EQ (runsOfAll (user.shown[0]), 0);
    EXPECT_EQ (runsOfAll (menu), 2) << "the caller's own menu is left as it was";
}
