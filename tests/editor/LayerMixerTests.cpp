// The layer mixer: strip layout, knob texts both ways, and that every control
// moves only its own parameter.

#include "editor/LayerMixer.h"

#include "EditorTestSupport.h"

using editortest::argb;

namespace
{
    struct LayerMixerTest : ::testing::Test
    {
        ChainProcessor processor;
        LayerMixer mixer { processor };

        float raw (const juce::String& id) { return processor.parameters.getRawParameterValue (id)->load(); }
    };
}

TEST_F (LayerMixerTest, LayoutOfTheWorkedExample)
{
    mixer.setSize (1042, 150);

    struct Row { int layer; int centre; };
    const Row rows[] = { { 0, 130 }, { 1, 390 }, { 2, 650 }, { 3, 910 } };

    for (const auto& row : rows)
    {
        const auto i = (size_t) row.layer;
        const int cx = row.centre;
        EXPECT_EQ (mixer.volume[i].getBounds(), juce::Rectangle<int> (cx - 91, 26, 72, 76)) << "layer " << row.layer;
        EXPECT_EQ (mixer.pan[i].getBounds(), juce::Rectangle<int> (cx + 19, 26, 72, 76)) << "layer " << row.layer;
        EXPECT_EQ (mixer.mute[i].getBounds(), juce::Rectangle<int> (cx - 83, 122, 83, 24)) << "layer " << row.layer;
        EXPECT_EQ (mixer.solo[i].getBounds(), juce::Rectangle<int> (cx + 8, 122, 83, 24)) << "layer " << row.layer;
    }

    EXPECT_EQ (mixer.volume[0].getPosition(), juce::Point<int> (39, 26));
    EXPECT_EQ (mixer.pan[0].getPosition(), juce::Point<int> (149, 26));
}

TEST_F (LayerMixerTest, PaintsPanelOutlineAndDividersOnStripBorders)
{
    for (int width : { 1042, 903 })
    {
        mixer.setSize (width, 150);
        const auto image = editortest::snapshot (mixer);
        const int strip = width / 4;

        EXPECT_EQ (argb (image, 0, 75), 0xff847e67u) << width;
        EXPECT_EQ (argb (image, width - 1, 75), 0xff847e67u) << width;
        EXPECT_EQ (argb (image, strip / 2, 112), 0xff1c1e18u) << width;

        for (int i = 1; i < 4; ++i)
        {
            EXPECT_EQ (argb (image, i * strip, 112), 0xff555543u) << "divider " << i << " at width " << width;
            EXPECT_EQ (argb (image, i * strip + 1, 112), 0xff1c1e18u) << "divider " << i << " at width " << width;
            // From y 10 to H - 10 only.
            EXPECT_NE (argb (image, i * strip, 5), 0xff555543u) << "divider " << i;
        }
    }
}

TEST_F (LayerMixerTest, VolumeTexts)
{
    struct Row { double value; const char* text; };
    const Row toText[] = { { 0.0, "0 %" }, { 0.5, "50 %" }, { 1.0, "100 %" }, { 0.333, "33 %" } };

    for (const auto& row : toText)
        EXPECT_EQ (mixer.volume[1].getTextFromValue (row.value), juce::String (row.text)) << row.value;

    struct Back { const char* text; double value; };
    const Back toValue[] = { { "75", 0.75 }, { "75 %", 0.75 }, { "no number", 0.0 }, { "100", 1.0 } };

    for (const auto& row : toValue)
        EXPECT_DOUBLE_EQ (mixer.volume[1].getValueFromText (row.text), row.value) << row.text;

    // The attachment's own text was replaced from the start.
    ASSERT_NE (editortest::textBoxOf (mixer.volume[0]), nullptr);
    EXPECT_EQ (editortest::textBoxOf (mixer.volume[0])->getText(), "50 %");
}

TEST_F (LayerMixerTest, PanTexts)
{
    struct Row { double value; const char* text; };
    const Row toText[] = { { 0.0, "C" }, { 0.004, "C" }, { -0.004, "C" }, { 1.0, "100 R" },
                           { -1.0, "100 L" }, { -0.25, "25 L" }, { 0.3, "30 R" } };

    for (const auto& row : toText)
        EXPECT_EQ (mixer.pan[2].getTextFromValue (row.value), juce::String (row.text)) << row.value;

    struct Back { const char* text; double value; };
    const Back toValue[] = {
        { "30 L", -0.3 }, { "30 l", -0.3 }, { "30 left", -0.3 }, { "25 R", 0.25 }, { "25", 0.25 },
        { "C", 0.0 }, { "c", 0.0 }, { "30 L center", 0.0 }, { "left 30", 0.0 }, { "100 L", -1.0 },
    };

    for (const auto& row : toValue)
        EXPECT_EQ (mixer.pan[2].getValueFromText (row.text), row.value) << row.text;

    ASSERT_NE (editortest::textBoxOf (mixer.pan[3]), nullptr);
    EXPECT_EQ (editortest::textBoxOf (mixer.pan[3])->getText(), "C");
}

TEST_F (LayerMixerTest, EachControlMovesOnlyItsOwnParameter)
{
    mixer.solo[2].setToggleState (true, juce::sendNotificationSync);

    for (int i = 0; i < 4; ++i)
    {
        const auto digit = juce::String (i);
        EXPECT_EQ (raw ("solo" + digit), i == 2 ? 1.0f : 0.0f) << "solo" << i;
        EXPECT_EQ (raw ("mute" + digit), 0.0f) << "mute" << i;
        EXPECT_FALSE (mixer.solo[(size_t) i].getToggleState() && i != 2) << "solo button " << i;
    }

    mixer.pan[3].setValue (-0.5, juce::sendNotificationSync);
    mixer.volume[1].setValue (0.8, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ (raw ("pan3"), -0.5f);
    EXPECT_FLOAT_EQ (raw ("volume1"), 0.8f);
    EXPECT_FLOAT_EQ (raw ("pan1"), 0.0f);
    EXPECT_FLOAT_EQ (raw ("volume3"), 0.5f);

    // And a parameter change (an opened sound) moves the control.
    auto* parameter = processor.parameters.getParameter ("mute0");
    parameter->setValueNotifyingHost (1.0f);
    EXPECT_TRUE (mixer.mute[0].getToggleState());
}

TEST_F (LayerMixerTest, DoubleClickReturnsToDefaults)
{
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_DOUBLE_EQ (mixer.volume[i].getDoubleClickReturnValue(), 0.5);
        EXPECT_DOUBLE_EQ (mixer.pan[i].getDoubleClickReturnValue(), 0.0);
        EXPECT_TRUE (mixer.volume[i].isDoubleClickReturnEnabled());
        EXPECT_EQ (mixer.mute[i].getButtonText(), "MUTE");
        EXPECT_EQ (mixer.solo[i].getButtonText(), "SOLO");
    }
}
