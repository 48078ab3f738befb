#include "app/dummyMenuBarModel.h"

#include "platform/seam/PlatformSeam.h"

dummyMenuBarModel::~dummyMenuBarModel()
{
    PlatformSeam::SetMainMenu (nullptr);
}

juce::StringArray dummyMenuBarModel::getMenuBarNames()
{
    juce::StringArray names;
    names.add (juce::String());
    return names;
}

juce::PopupMenu dummyMenuBarModel::getMenuForIndex (int, const juce::String&)
{
    return {};
}

void dummyMenuBarModel::menuItemSelected (int, int) {}
