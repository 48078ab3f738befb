#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    An empty application main menu: one top-level entry with an empty title
    and no items. The status-bar menu opens, and its actions run, only while a
    main-menu model is installed, so the application installs this one for its
    whole run.

    Created, installed and destroyed on the message thread. Its destructor
    removes whatever main-menu model is installed.
*/
class dummyMenuBarModel : public juce::MenuBarModel
{
public:
    dummyMenuBarModel() = default;
    ~dummyMenuBarModel() override;

    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int topLevelMenuIndex, const juce::String& menuName) override;
    void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

private:
    JUCE_DECLARE_NON_COPYABLE (dummyMenuBarModel)
};
