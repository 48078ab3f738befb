#pragma once

// A hook for tests that run without a display, where popping a menu up would
// crash: they see the menu that the status item would show instead.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace PlatformSeam
{

/** From now on ShowStatusMenu hands the menu it would show to the presenter
    instead of showing it; an empty function restores the real menu. Message thread only. */
void SetMenuPresenterForTesting (std::function<void (const juce::PopupMenu&)> presenter);

} // namespace PlatformSeam
