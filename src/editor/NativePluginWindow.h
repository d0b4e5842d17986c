#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** The window that shows a hosted plug-in's own editor. Its close button only
    reports the request: the tile closes the window once the last preview of
    the editor has been taken. */
class NativePluginWindow : public juce::DocumentWindow
{
public:
    explicit NativePluginWindow (const juce::String& title);
    ~NativePluginWindow() override;

    void closeButtonPressed() override;
    void visibilityChanged() override;

    std::function<void()> onClose;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NativePluginWindow)
};
