#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

#include <juce_gui_extra/juce_gui_extra.h>

/** One line of a pop-up menu, as a user would see it. */
struct MenuRow
{
    bool separator = false;
    int id = 0;
    juce::String text;
    bool enabled = false;
    bool ticked = false;
    bool hasAction = false;

    bool operator== (const MenuRow& other) const
    {
        return separator == other.separator && id == other.id && text == other.text && enabled == other.enabled &&
               ticked == other.ticked && hasAction == other.hasAction;
    }
};

inline std::ostream& operator<< (std::ostream& out, const MenuRow& row)
{
    if (row.separator)
        return out << "----";
    return out << "[" << row.id << " \"" << row.text << "\"" << (row.enabled ? "" : " disabled")
               << (row.ticked ? " ticked" : "") << (row.hasAction ? " action" : "") << "]";
}

inline MenuRow Separator()
{
    MenuRow row;
    row.separator = true;
    return row;
}

inline MenuRow Line (int id, const juce::String& text)
{
    return MenuRow { false, id, text, false, false, false };
}

inline MenuRow Choice (const juce::String& text, bool ticked = false)
{
    return MenuRow { false, -1, text, true, ticked, true };
}

inline std::vector<MenuRow> Rows (const juce::PopupMenu& menu)
{
    std::vector<MenuRow> rows;
    for (juce::PopupMenu::MenuItemIterator items (menu); items.next();)
    {
        const auto& item = items.getItem();
        EXPECT_EQ (item.subMenu, nullptr) << "the status menu has no submenus";
        if (item.isSeparator)
            rows.push_back (Separator());
        else
            rows.push_back (
                MenuRow { false, item.itemID, item.text, item.isEnabled, item.isTicked, item.action != nullptr });
    }
    return rows;
}

/** Runs the action of the item with this text, as choosing it in the open menu would. */
inline bool Choose (const juce::PopupMenu& menu, const juce::String& text)
{
    for (juce::PopupMenu::MenuItemIterator items (menu); items.next();)
    {
        auto& item = items.getItem();
        if (!item.isSeparator && item.text == text && item.action != nullptr)
        {
            item.action();
            return true;
        }
    }
    return false;
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

/** Pumps the message loop until the condition holds or the time is up. */
inline bool PumpUntil (const std::function<bool()>& condition, int timeoutMs = 15000)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    }
    return true;
}
