#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The application's look: dark analog hardware, flat rounded buttons and a
    knob with a tick scale. */
class AnalogLook : public juce::LookAndFeel_V4
{
public:
    AnalogLook();
    ~AnalogLook() override;

private:
    JUCE_DECLARE_NON_COPYABLE (AnalogLook)
};

/** Paints a panel background: side cheeks and a recessed centre panel in one
    of the finishes 0 "Classic", 1 "Black Metal", 2 "Grey Metal" (clamped).
    Only the rectangle's size is used; the frame starts at the origin. */
void drawAnalogFrame (juce::Graphics& g, juce::Rectangle<int> area, int theme);
