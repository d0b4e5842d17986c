// The look's drawing, checked on painted pixels: button fills by state, the
// knob's pointer and tick scale, and the three frame finishes.

#include "app/AnalogLook.h"

#include "EditorTestSupport.h"

#include <cmath>

using editortest::argb;
using editortest::near;

namespace
{
    juce::Colour woodAt (int column)
    {
        const double v = std::sin (0.68 * column + 2.0 * std::sin (0.18 * column)) * 0.5 + 0.5;
        return juce::Colour ((juce::uint8) (int) (82 + 30 * v), (juce::uint8) (int) (47 + 22 * v),
                             (juce::uint8) (int) (25 + 12 * v));
    }

    juce::Image frame (int w, int h, int theme)
    {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);
        drawAnalogFrame (g, { 0, 0, w, h }, theme);
        return image;
    }

    // The rails are black at alpha 0.4 over whatever lies below.
    juce::Colour underRail (juce::Colour below)
    {
        return below.overlaidWith (juce::Colours::black.withAlpha (0.4f));
    }
}

TEST (AnalogLook, ButtonFillFollowsStateNotTheButtonsColour)
{
    struct Row { const char* name; bool toggled, down, highlighted; juce::uint32 fill; };
    const Row rows[] = {
        { "toggled, down and highlighted", true, true, true, 0xff913b2d },
        { "toggled only", true, false, false, 0xff913b2d },
        { "down and highlighted", false, true, true, 0xff46463b },
        { "highlighted", false, false, true, 0xff3d3f34 },
        { "normal", false, false, false, 0xff2d3028 },
    };

    AnalogLook look;

    for (const auto& row : rows)
    {
        juce::TextButton button ("B");
        button.setSize (60, 28);
        button.setToggleState (row.toggled, juce::dontSendNotification);

        juce::Image image (juce::Image::ARGB, 60, 28, true);
        {
            juce::Graphics g (image);
            look.drawButtonBackground (g, button, juce::Colours::lime, row.highlighted, row.down);
        }

        EXPECT_EQ (argb (image, 30, 14), row.fill) << row.name;
        EXPECT_EQ (AnalogLook::buttonFill (row.toggled, row.down, row.highlighted).getARGB(), row.fill) << row.name;
        // Inset by a pixel: the corner stays untouched.
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << row.name;
    }
}

TEST (AnalogLook, ColourTableReachesTheControls)
{
    AnalogLook look;
    EXPECT_EQ (look.findColour (juce::ResizableWindow::backgroundColourId).getARGB(), 0xff20211eu);
    EXPECT_EQ (look.findColour (juce::ComboBox::outlineColourId).getARGB(), 0xff777361u);
    EXPECT_EQ (look.findColour (juce::ToggleButton::tickColourId).getARGB(), 0xffda4e39u);
    EXPECT_EQ (look.findColour (juce::TextButton::textColourOnId).getARGB(), 0xffeee3c9u);

    // Children inherit the look through their parent.
    juce::Component parent;
    juce::Slider child;
    parent.setLookAndFeel (&look);
    parent.addAndMakeVisible (child);
    EXPECT_EQ (child.findColour (juce::Slider::textBoxOutlineColourId).getARGB(), 0xff555345u);
    parent.setLookAndFeel (nullptr);
}

TEST (AnalogLook, KnobPointerIsRedOnlyForTheMasterKnob)
{
    AnalogLook look;

    for (const auto& id : { juce::String ("master"), juce::String ("masterVolume"), juce::String() })
    {
        juce::Slider slider;
        slider.setComponentID (id);
        slider.setName ("master");

        // 96 x 96: knob diameter 80, centre (48, 48); half way on a symmetric
        // sweep points straight up, so the pointer runs from y 30 to y 14.
        juce::Image image (juce::Image::ARGB, 96, 96, true);
        {
            juce::Graphics g (image);
            look.drawRotarySlider (g, 0, 0, 96, 96, 0.5f, -2.5f, 2.5f, slider);
        }

        const auto expected = id == "master" ? juce::Colour (0xffe8573e) : juce::Colour (0xffeee3c9);
        EXPECT_TRUE (near (image.getPixelAt (48, 22), expected, 40)) << "id '" << id << "'";
        // The rim is on the circle of radius 40.
        EXPECT_TRUE (near (image.getPixelAt (48, 8), juce::Colour (0xff92907d), 60)) << "id '" << id << "'";
    }
}

TEST (AnalogLook, TinyKnobAreaStillDrawsItsTicksAroundTheCentre)
{
    AnalogLook look;
    juce::Slider slider;

    // A 17 x 17 area: diameter 1, centre (8.5, 8.5); the upright tick covers
    // pixel column 8 from y 5.5 up to 2.5.
    juce::Image image (juce::Image::ARGB, 17, 17, true);
    {
        juce::Graphics g (image);
        look.drawRotarySlider (g, 0, 0, 17, 17, 0.0f, -2.5f, 2.5f, slider);
    }

    EXPECT_TRUE (near (image.getPixelAt (8, 4), juce::Colour (0xffbfb79f), 8));
    EXPECT_TRUE (near (image.getPixelAt (8, 3), juce::Colour (0xffbfb79f), 8));
    EXPECT_EQ (image.getPixelAt (8, 0).getAlpha(), 0);
}

TEST (AnalogFrame, ClassicWoodGrainFillsExactlyAroundThePanel)
{
    const int w = 200, h = 120;
    const auto image = frame (w, h, 0);

    for (int column : { 0, 5, 22 })
        EXPECT_EQ (argb (image, column, 60), woodAt (column).getARGB()) << "left cheek column " << column;

    for (int column : { w - 1, w - 10, w - 23 })
        EXPECT_EQ (argb (image, column, 60), woodAt (column).getARGB()) << "right cheek column " << column;

    // Under the panel only the strips above and below it are wood.
    EXPECT_EQ (argb (image, 100, 5), woodAt (100).getARGB());
    EXPECT_EQ (argb (image, 100, h - 3), woodAt (100).getARGB());
    EXPECT_EQ (argb (image, 100, 60), 0xff181a16u);

    // Panel edge: the outline's own pixels.
    EXPECT_EQ (argb (image, 27, 60), 0xffa28d63u);
    EXPECT_EQ (argb (image, w - 28, 60), 0xffa28d63u);
    EXPECT_EQ (argb (image, 100, 12), 0xffa28d63u);
    EXPECT_EQ (argb (image, 100, h - 15), 0xffa28d63u);

    // Rails: darkened wood on columns 23-26 and w-27..w-24, the full height.
    for (int column : { 23, 26, w - 27, w - 24 })
        for (int y : { 0, 60, h - 1 })
            EXPECT_TRUE (near (image.getPixelAt (column, y), underRail (woodAt (column))))
                << "rail column " << column << " y " << y;
}

TEST (AnalogFrame, MetalFinishesAndClamping)
{
    struct Row { int theme; juce::uint32 from, to, panel, edge; float brush; };
    const Row rows[] = {
        { 1, 0xff44494c, 0xff16191c, 0xff151719, 0xff737b80, 0.035f },
        { 2, 0xffc1c6ca, 0xff747b80, 0xff303336, 0xffe2e6e8, 0.09f },
        { 3, 0xffc1c6ca, 0xff747b80, 0xff303336, 0xffe2e6e8, 0.09f },   // above 2 draws Grey Metal
        { 40, 0xffc1c6ca, 0xff747b80, 0xff303336, 0xffe2e6e8, 0.09f },
    };

    // 301 x 302: rows 1 and 301 are not brushed (every third row from 0 is),
    // and the gradient's ends sit at the corners.
    const int w = 301, h = 302;

    for (const auto& row : rows)
    {
        const auto image = frame (w, h, row.theme);
        const auto label = "theme " + std::to_string (row.theme);

        EXPECT_TRUE (near (image.getPixelAt (0, 1), juce::Colour (row.from), 3)) << label;
        EXPECT_TRUE (near (image.getPixelAt (w - 1, h - 1), juce::Colour (row.to), 3)) << label;
        EXPECT_EQ (argb (image, w / 2, h / 2), row.panel) << label;
        EXPECT_EQ (argb (image, 27, h / 2), row.edge) << label;

        // Brushed lines every third row from the top, over the cheeks only.
        const auto plain = image.getPixelAt (10, 4);
        const auto brushed = image.getPixelAt (10, 3);
        const auto expected = plain.overlaidWith (juce::Colours::white.withAlpha (row.brush));
        EXPECT_TRUE (near (brushed, expected, 4)) << label;
        EXPECT_GT (brushed.getBrightness(), plain.getBrightness()) << label;
    }

    // Below 0 draws Classic.
    const auto classic = frame (120, 80, -1);
    EXPECT_EQ (argb (classic, 3, 40), woodAt (3).getARGB());
    EXPECT_EQ (argb (classic, 60, 40), 0xff181a16u);
}

TEST (AnalogFrame, DrawsAtTheOriginAndOnlyWithinItsSize)
{
    juce::Image image (juce::Image::ARGB, 300, 200, true);
    {
        juce::Graphics g (image);
        // The rectangle's position is ignored: only its size counts.
        drawAnalogFrame (g, { 50, 50, 100, 80 }, 1);
    }

    EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 255);
    EXPECT_EQ (image.getPixelAt (99, 79).getAlpha(), 255);
    EXPECT_EQ (image.getPixelAt (100, 40).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (40, 80).getAlpha(), 0);
}
