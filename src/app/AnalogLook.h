#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The application's look: dark analog hardware, flat rounded buttons and a
    knob with a tick scale. */
class AnalogLook : public juce::LookAndFeel_V4
{
public:
    AnalogLook();
    ~AnalogLook() override;

    /** Fills by state (toggled, pressed, under the mouse, normal); the colour
        argument is ignored so that a button's own colour settings never change
        the hardware look. */
    void drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    /** A shaded knob kept 8 pixels inside its area, with an eleven-tick scale in
        that margin. The slider whose component ID is "master" gets a red pointer. */
    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPosProportional,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override;

    /** The fill that drawButtonBackground uses for a button state. */
    static juce::Colour buttonFill (bool toggled, bool down, bool highlighted) noexcept;

private:
    JUCE_DECLARE_NON_COPYABLE (AnalogLook)
};

/** Paints a panel background: side cheeks and a recessed centre panel in one
    of the finishes 0 "Classic", 1 "Black Metal", 2 "Grey Metal" (clamped).
    Only the rectangle's size is used; the frame starts at the origin. */
void drawAnalogFrame (juce::Graphics& g, juce::Rectangle<int> area, int theme);
