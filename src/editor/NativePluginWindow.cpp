#include "editor/NativePluginWindow.h"

NativePluginWindow::NativePluginWindow (const juce::String& title)
    : juce::DocumentWindow (title, juce::Colour (0xff20211c), juce::DocumentWindow::closeButton, true)
{
    setUsingNativeTitleBar (true);
    setResizable (false, false);
}

NativePluginWindow::~NativePluginWindow() = default;

void NativePluginWindow::closeButtonPressed()
{
    if (onClose)
        onClose();
}
