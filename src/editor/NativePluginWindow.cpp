#include "editor/NativePluginWindow.h"

NativePluginWindow::NativePluginWindow (const juce::String& title)
    : juce::DocumentWindow (title, juce::Colour (0xff20211c), juce::DocumentWindow::closeButton, false)
{
    setUsingNativeTitleBar (true);
    setResizable (false, false);
}

void NativePluginWindow::visibilityChanged()
{
    // The window joins the desktop when it is first shown, with the editor
    // and its size already set. Made at once, the native window existed at
    // the empty size of a new window; on X11 the window manager's answer to
    // that first size could arrive after the editor's size was set and
    // shrink window and editor to 128 x 128 (seen under load).
    if (isVisible() && ! isOnDesktop())
        addToDesktop (getDesktopWindowStyleFlags());

    juce::DocumentWindow::visibilityChanged();
}

NativePluginWindow::~NativePluginWindow() = default;

void NativePluginWindow::closeButtonPressed()
{
    if (onClose)
        onClose();
}
