#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>

#if JUCE_LINUX
struct _XImage;
#endif

/** Takes a picture of a plug-in's editor for its slot's preview.

    Returns at once. `done` is called exactly once afterwards, always on the
    message thread and never before this returns, with a picture of what the
    editor shows (at most 600 pixels wide, without window decoration) or with
    an invalid image when no picture that is not blank could be had.

    The window system's own picture of the editor's window is preferred: a
    plug-in that draws into a native window of its own is invisible to JUCE's
    component snapshot, which is only the fallback. Call on the message thread. */
void capturePluginPreview (juce::AudioProcessorEditor& editor, std::function<void (juce::Image)> done);

/** True when the picture is valid and not of one uniform brightness: a
    sampled grid of 12 x 16 pixels must spread by more than 0.03 in perceived
    brightness. An editor that has not drawn yet gives a blank picture. */
bool useful (const juce::Image& image);

#if JUCE_LINUX
/** The X window that hosts the first embedded foreign interface (an
    XEmbedComponent) in the component's tree, depth first; 0 when there is none. */
unsigned long findView (juce::Component& component);

/** Converts a picture from the X server to an image at most 600 pixels wide,
    keeping its proportions. Invalid for a null input or a pixel layout
    without colour masks. */
juce::Image fromXImage (_XImage* image);
#endif
