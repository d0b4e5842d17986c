#include "app/AnalogLook.h"

#include <cmath>

AnalogLook::AnalogLook()
{
    setColour (juce::ResizableWindow::backgroundColourId, juce::Colour (0xff20211e));
    setColour (juce::ComboBox::backgroundColourId, juce::Colour (0xff151613));
    setColour (juce::ComboBox::outlineColourId, juce::Colour (0xff777361));
    setColour (juce::ComboBox::textColourId, juce::Colour (0xffe9dfc4));
    setColour (juce::PopupMenu::backgroundColourId, juce::Colour (0xff24241f));
    setColour (juce::PopupMenu::textColourId, juce::Colour (0xffe9dfc4));
    setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xffe9dfc4));
    setColour (juce::Slider::textBoxBackgroundColourId, juce::Colour (0xff171814));
    setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0xff555345));
    setColour (juce::ToggleButton::textColourId, juce::Colour (0xffe9dfc4));
    setColour (juce::ToggleButton::tickColourId, juce::Colour (0xffda4e39));
    setColour (juce::TextButton::textColourOffId, juce::Colour (0xffeee3c9));
    setColour (juce::TextButton::textColourOnId, juce::Colour (0xffeee3c9));
}

AnalogLook::~AnalogLook() = default;

juce::Colour AnalogLook::buttonFill (bool toggled, bool down, bool highlighted) noexcept
{
    if (toggled)
        return juce::Colour (0xff913b2d);

    if (down)
        return juce::Colour (0xff46463b);

    if (highlighted)
        return juce::Colour (0xff3d3f34);

    return juce::Colour (0xff2d3028);
}

void AnalogLook::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&,
                                       bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto shape = juce::Rectangle<float> (1.0f, 1.0f,
                                               (float) juce::jmax (0, button.getWidth() - 2),
                                               (float) juce::jmax (0, button.getHeight() - 2));

    g.setColour (buttonFill (button.getToggleState(), shouldDrawButtonAsDown, shouldDrawButtonAsHighlighted));
    g.fillRoundedRectangle (shape, 3.0f);
    g.setColour (juce::Colour (0xff7f7b67));
    g.drawRoundedRectangle (shape, 3.0f, 1.0f);
}

void AnalogLook::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPosProportional,
                                   float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider)
{
    const float aw = (float) juce::jmax (width - 16, 0);
    const float ah = (float) juce::jmax (height - 16, 0);
    const float d = juce::jmin (aw, ah);
    const float r = d / 2.0f;
    const float cx = (float) x + 8.0f + aw / 2.0f;
    const float cy = (float) y + 8.0f + ah / 2.0f;

    // Angles: 0 points up, growing clockwise.
    const auto pointAt = [cx, cy] (float radius, float angle)
    {
        return juce::Point<float> (cx + radius * std::sin (angle), cy - radius * std::cos (angle));
    };

    g.setColour (juce::Colour (0xffbfb79f));

    for (int i = 0; i <= 10; ++i)
    {
        const float angle = rotaryStartAngle + (rotaryEndAngle - rotaryStartAngle) * (float) i / 10.0f;
        g.drawLine ({ pointAt (r + 3.0f, angle), pointAt (r + 6.0f, angle) }, 1.0f);
    }

    g.setColour (juce::Colours::black.withAlpha (0.5f));
    g.fillEllipse (cx - r + 2.0f, cy - r + 4.0f, d, d);

    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff55564d), cx - r, cy - r,
                                             juce::Colour (0xff11120f), cx + r, cy + r, false));
    g.fillEllipse (cx - r, cy - r, d, d);

    g.setColour (juce::Colour (0xff92907d));
    g.drawEllipse (cx - r, cy - r, d, d, 1.0f);

    // A knob smaller than the cap inset has no cap; a negative size would
    // otherwise draw a mirrored ellipse.
    if (d > 8.0f)
    {
        g.setColour (juce::Colour (0xff242620));
        g.fillEllipse (cx - r + 4.0f, cy - r + 4.0f, d - 8.0f, d - 8.0f);
    }

    const float angle = rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);
    g.setColour (slider.getComponentID() == "master" ? juce::Colour (0xffe8573e) : juce::Colour (0xffeee3c9));
    g.drawLine ({ pointAt (0.45f * r, angle), pointAt (0.85f * r, angle) }, 3.0f);
}

namespace
{
    struct MetalFinish
    {
        juce::uint32 from, to;
        float brushAlpha;
    };

    struct PanelColours
    {
        juce::uint32 panel, edge;
    };

    constexpr int cheekWidth = 27;
    constexpr int topMargin = 12;
    constexpr int bottomMargin = 14;

    void drawWood (juce::Graphics& g, int w, int h)
    {
        g.setColour (juce::Colour (0xff392719));
        g.fillRect (0, 0, w, h);

        for (int i = 0; i < w; ++i)
        {
            const double v = std::sin (0.68 * i + 2.0 * std::sin (0.18 * i)) * 0.5 + 0.5;
            g.setColour (juce::Colour ((juce::uint8) (int) (82.0 + 30.0 * v),
                                       (juce::uint8) (int) (47.0 + 22.0 * v),
                                       (juce::uint8) (int) (25.0 + 12.0 * v)));

            // Under the centre panel only the strips above and below it show.
            if (i < cheekWidth || i > w - cheekWidth - 1)
            {
                g.drawVerticalLine (i, 0.0f, (float) h);
            }
            else
            {
                g.drawVerticalLine (i, 0.0f, (float) topMargin);
                g.drawVerticalLine (i, (float) (h - bottomMargin), (float) h);
            }
        }
    }

    void drawMetal (juce::Graphics& g, int w, int h, const MetalFinish& finish)
    {
        g.setGradientFill (juce::ColourGradient (juce::Colour (finish.from), 0.0f, 0.0f,
                                                 juce::Colour (finish.to), (float) w, (float) h, false));
        g.fillRect (0, 0, w, h);

        g.setColour (juce::Colours::white.withAlpha (finish.brushAlpha));

        for (int y = 0; y < h; y += 3)
            g.drawHorizontalLine (y, 0.0f, (float) w);
    }
}

void drawAnalogFrame (juce::Graphics& g, juce::Rectangle<int> area, int theme)
{
    static constexpr MetalFinish metals[] = { { 0xff44494c, 0xff16191c, 0.035f },
                                              { 0xffc1c6ca, 0xff747b80, 0.09f } };
    static constexpr PanelColours panels[] = { { 0xff181a16, 0xffa28d63 },
                                               { 0xff151719, 0xff737b80 },
                                               { 0xff303336, 0xffe2e6e8 } };

    const int w = area.getWidth();
    const int h = area.getHeight();
    const int t = juce::jlimit (0, 2, theme);

    if (t == 0)
        drawWood (g, w, h);
    else
        drawMetal (g, w, h, metals[t - 1]);

    const juce::Rectangle<int> panel (cheekWidth, topMargin, w - 2 * cheekWidth, h - topMargin - bottomMargin);
    g.setColour (juce::Colour (panels[t].panel));
    g.fillRect (panel);
    g.setColour (juce::Colour (panels[t].edge));
    g.drawRect (panel, 1);

    g.setColour (juce::Colours::black.withAlpha (0.4f));
    g.fillRect (cheekWidth - 4, 0, 4, h);
    g.fillRect (w - cheekWidth, 0, 4, h);
}
