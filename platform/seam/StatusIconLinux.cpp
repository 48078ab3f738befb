#include "platform/seam/PlatformSeam.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace PlatformSeam
{

namespace
{

// Long enough for the tray host to have embedded the icon window.
constexpr int kTrayEmbedDelayMs = 200;
constexpr int kTrayIconSize = 22;

/** The glyph in a light colour over the same alpha, as a dark menu bar shows a template image. */
juce::Image LightGlyph (const juce::Image& templateImage)
{
    if (!templateImage.isValid())
        return templateImage;

    juce::Image glyph (juce::Image::ARGB, templateImage.getWidth(), templateImage.getHeight(), true);
    juce::Graphics g (glyph);
    g.setColour (juce::Colours::white);
    g.drawImageAt (templateImage, 0, 0, true);
    return glyph;
}

void SetMinimumSize (::Window window)
{
    // A connection of our own, as JUCE keeps its display private. Window ids
    // are server-wide, and XSync makes the hints land before JUCE maps the
    // window again.
    ::Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return;

    if (XSizeHints* hints = XAllocSizeHints())
    {
        hints->flags = PMinSize | PBaseSize;
        hints->min_width = hints->base_width = kTrayIconSize;
        hints->min_height = hints->base_height = kTrayIconSize;
        XSetWMNormalHints (display, window, hints);
        XFree (hints);
    }

    XSync (display, False);
    XCloseDisplay (display);
}

/** Fits the docked icon window once the tray host has embedded it, then
    deletes itself; one still waiting when JUCE shuts down goes with it. */
class TrayFitter : private juce::Timer, private juce::DeletedAtShutdown
{
public:
    explicit TrayFitter (juce::SystemTrayIconComponent& statusItem) : item (&statusItem)
    {
        startTimer (kTrayEmbedDelayMs);
    }

private:
    void timerCallback() override
    {
        stopTimer();
        if (item != nullptr && item->getNativeHandle() != nullptr)
        {
            // The tray host rereads the hints only when the window is mapped anew.
            item->setVisible (false);
            SetMinimumSize (
                static_cast<::Window> (reinterpret_cast<juce::pointer_sized_uint> (item->getNativeHandle())));
            item->setVisible (true);
        }
        delete this;
    }

    juce::Component::SafePointer<juce::SystemTrayIconComponent> item;
};

} // namespace

void SetStatusIcon (juce::SystemTrayIconComponent& statusItem, const juce::Image& templateImage)
{
    statusItem.setIconImage (LightGlyph (templateImage), templateImage);

    // JUCE maps the icon window itself right after asking to be docked and
    // then rewrites its size hints without a minimum size, which some tray
    // hosts read as "one pixel wide".
    if (statusItem.getNativeHandle() != nullptr)
        new TrayFitter (statusItem);
}

} // namespace PlatformSeam
