#pragma once

// What the engine, application and whole-program tests share: a machine with
// built-in devices, the message-loop pumps, the call log and the status menu
// as a user sees it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <juce_gui_extra/juce_gui_extra.h>

#include "app/TrayMenu.h"
#include "platform/seam/PlatformSeam.h"
#include "platform/seam/PlatformSeamTesting.h"
#include "platform/sim/SimulatedMachine.h"

namespace quortest
{

/** Runs the message loop until the condition holds or a generous deadline passes. */
inline bool PumpUntil (const std::function<bool()>& condition, double timeoutMs = 20000.0, int sliceMs = 10)
{
    const double deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() >= deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (sliceMs);
    }
    return true;
}

/** Runs every task posted so far: tasks run in posting order, so once one
    posted now has run, all earlier ones have. */
inline bool RunPostedTasks()
{
    auto done = std::make_shared<bool> (false);
    juce::MessageManager::callAsync ([done] { *done = true; });
    return PumpUntil ([done] { return *done; }, 20000.0, 1);
}

/** The call-log lines that start with one of the prefixes, in order. */
inline std::vector<std::string> LogLines (const std::vector<std::string>& prefixes)
{
    std::vector<std::string> lines;
    for (const auto& line : sim::CallLog())
        if (std::any_of (prefixes.begin(), prefixes.end(),
                         [&line] (const std::string& prefix) { return line.rfind (prefix, 0) == 0; }))
            lines.push_back (line);
    return lines;
}

inline std::vector<std::string> SubDeviceUids (const sim::AggregateDescription& description)
{
    std::vector<std::string> uids;
    for (const auto& subDevice : description.subDevices)
        uids.push_back (subDevice.uid);
    return uids;
}

inline AudioObjectID AddDevice (const std::string& name, const std::string& uid, std::vector<int> outputs,
                                std::vector<int> inputs = {}, bool isAggregate = false)
{
    return sim::AddAudioDevice ({ name, uid, std::move (inputs), std::move (outputs), 0, isAggregate });
}

/** A mixer whose USB audio device is listed after audioDelayMs (-1: never). */
inline sim::Mixer Plug (std::uint16_t productId, const std::string& serialNumber, int audioDelayMs = 0)
{
    sim::MixerSpec spec { productId, serialNumber };
    spec.audioDelayMs = audioDelayMs;
    return sim::PlugMixer (spec);
}

/** An empty machine with a built-in input and a built-in output as the
    defaults; tests add the virtual driver and mixers. */
class MachineTest : public ::testing::Test
{
protected:
    explicit MachineTest (sim::AudioClock audioClock = sim::AudioClock::Manual) : clock (audioClock) {}

    void SetUp() override
    {
        sim::Reset();
        sim::SetAudioClock (clock);
        builtInInput = AddDevice ("Built-in Input", "BuiltInInputDevice", {}, { 2 });
        builtInOutput = AddDevice ("Built-in Output", "BuiltInOutputDevice", { 2 });
        sim::SetDefaultInput (builtInInput);
        sim::SetDefaultOutput (builtInOutput);
    }

    /** Derived fixtures release their objects first. */
    void TearDown() override { sim::Reset(); }

    void InstallDriver() { virtualIds = sim::InstallVirtualDriver(); }

    sim::AudioClock clock;
    AudioObjectID builtInInput = 0;
    AudioObjectID builtInOutput = 0;
    std::vector<AudioObjectID> virtualIds;
};

//==============================================================================
/** One line of a pop-up menu as a user sees it: "----", or "[id] text" with
    " (disabled)", " (ticked)" and, for an item that runs an action, " ->". */
using MenuRow = std::string;

inline MenuRow Row (int id, const juce::String& text, bool enabled, bool ticked, bool hasAction)
{
    return "[" + std::to_string (id) + "] " + text.toStdString() + (enabled ? "" : " (disabled)") +
           (ticked ? " (ticked)" : "") + (hasAction ? " ->" : "");
}
inline MenuRow Separator()
{
    return "----";
}
inline MenuRow Line (int id, const juce::String& text)
{
    return Row (id, text, false, false, false);
}
inline MenuRow Choice (const juce::String& text, bool ticked = false)
{
    return Row (-1, text, true, ticked, true);
}

inline std::vector<MenuRow> Rows (const juce::PopupMenu& menu)
{
    std::vector<MenuRow> rows;
    for (juce::PopupMenu::MenuItemIterator items (menu); items.next();)
    {
        const auto& item = items.getItem();
        EXPECT_EQ (item.subMenu, nullptr) << "the status menu has no submenus";
        rows.push_back (item.isSeparator
                            ? Separator()
                            : Row (item.itemID, item.text, item.isEnabled, item.isTicked, item.action != nullptr));
    }
    return rows;
}

/** A mouse release on the component, coming from `originator` (null: from nowhere). */
inline juce::MouseEvent MouseUpOn (juce::Component& component, juce::Component* originator)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), {}, juce::ModifierKeys(),
                             juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                             juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                             juce::MouseInputSource::defaultTiltY, &component, originator, now, {}, now, 1, false);
}

/** The status icon that the application put on the desktop, or nullptr. */
inline TrayMenu* FindTrayMenu()
{
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* tray = dynamic_cast<TrayMenu*> (desktop.getComponent (i)))
            return tray;
    return nullptr;
}

/** Presses the status icon and keeps the menus it would drop down. */
class MenuUser
{
public:
    MenuUser()
    {
        PlatformSeam::SetMenuPresenterForTesting ([this] (const juce::PopupMenu& menu) { shown.push_back (menu); });
    }

    ~MenuUser() { PlatformSeam::SetMenuPresenterForTesting ({}); }

    /** The rows of the menu that a press on the icon shows; empty if nothing opened. */
    std::vector<MenuRow> Press (TrayMenu& tray)
    {
        const auto before = shown.size();
        tray.mouseUp (MouseUpOn (tray, &tray));
        return shown.size() > before ? Rows (shown.back()) : std::vector<MenuRow> {};
    }

    /** Presses the icon and chooses the item. As with the native menu, the
        action is posted and runs from the message loop after the menu has
        closed; this returns once it has run. */
    bool Choose (TrayMenu& tray, const juce::String& text)
    {
        if (Press (tray).empty())
            return false;
        for (juce::PopupMenu::MenuItemIterator items (shown.back()); items.next();)
            if (items.getItem().text == text && items.getItem().action != nullptr)
                return juce::MessageManager::callAsync (items.getItem().action), RunPostedTasks();
        return false;
    }

    std::vector<juce::PopupMenu> shown;
};

} // namespace quortest
