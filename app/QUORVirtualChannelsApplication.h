#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

class VirtualChannelsEngine;
class dummyMenuBarModel;
class TrayMenu;

/**
    The application object: a single-instance program without a window whose
    whole interface is the status-bar menu.

    JUCE calls every override on the message thread. It owns the engine, the
    main-menu model and the status-bar menu, created in that order by
    initialise and destroyed in that order by shutdown; the status-bar menu
    points into the engine but is never called once the message loop has
    ended, which is when shutdown runs.
*/
class QUORVirtualChannelsApplication : public juce::JUCEApplication
{
public:
    QUORVirtualChannelsApplication();
    ~QUORVirtualChannelsApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    /** Not called for a second copy, which ends at once. */
    void initialise (const juce::String& commandLine) override;

    /** Also called for a second copy that never initialised. */
    void shutdown() override;

    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

private:
    std::unique_ptr<VirtualChannelsEngine> engine;
    std::unique_ptr<dummyMenuBarModel> menuBarModel;
    std::unique_ptr<TrayMenu> trayMenu;

    JUCE_DECLARE_NON_COPYABLE (QUORVirtualChannelsApplication)
};
