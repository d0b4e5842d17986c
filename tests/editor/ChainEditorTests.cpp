// The rack editor without a window: layout arithmetic, the master knob's
// texts, the initial size, the frame box, PANIC and the 4 Hz poll.

#include "editor/ChainEditor.h"

#include "EditorTestSupport.h"

using editortest::argb;
using editortest::near;

namespace
{
    struct EditorFixture : ::testing::Test
    {
        ChainProcessor processor;
        std::unique_ptr<ChainEditor> editor { std::make_unique<ChainEditor> (processor, juce::File()) };

        ~EditorFixture() override
        {
            processor.editorBeingDeleted (editor.get());
            editor = nullptr;
        }

    };

    using ChainEditorTest = EditorFixture;

    struct Box { const char* name; juce::Component* component; juce::Rectangle<int> expected; };

    void expectBoxes (const std::vector<Box>& rows, const char* size)
    {
        for (const auto& row : rows)
            EXPECT_EQ (row.component->getBounds(), row.expected) << row.name << " at " << size;
    }
}

TEST_F (ChainEditorTest, LayoutAt1120By900)
{
    editor->setSize (1120, 900);
    auto& e = *editor;

    expectBoxes ({
        { "soundMenu", &e.soundMenu, { 39, 72, 225, 28 } },
        { "openSoundButton", &e.openSoundButton, { 274, 72, 104, 28 } },
        { "saveSoundButton", &e.saveSoundButton, { 388, 72, 110, 28 } },
        { "frameBox", &e.frameBox, { 508, 72, 142, 28 } },
        { "panicButton", &e.panicButton, { 660, 72, 74, 28 } },
        { "masterKnob", &e.masterKnob, { 983, 29, 89, 88 } },
        { "SYNTH 1", e.tiles[0].get(), { 39, 129, 516, 155 } },
        { "SYNTH 2", e.tiles[1].get(), { 565, 129, 516, 155 } },
        { "SYNTH 3", e.tiles[2].get(), { 39, 294, 516, 155 } },
        { "SYNTH 4", e.tiles[3].get(), { 565, 294, 516, 155 } },
        { "mixer", &e.mixer, { 39, 474, 1042, 150 } },
        { "FX 1", e.tiles[4].get(), { 39, 655, 516, 160 } },
        { "FX 2", e.tiles[5].get(), { 565, 655, 516, 160 } },
        { "keyboard", &e.keyboard, { 27, 827, 1066, 46 } },
        { "statusLabel", &e.statusLabel, { 39, 878, 1042, 14 } },
    }, "1120x900");

    EXPECT_FLOAT_EQ (e.keyboard.getKeyWidth(), 1066.0f / 43.0f);
}

TEST_F (ChainEditorTest, LayoutAtTheMinimumSize)
{
    editor->setSize (980, 720);
    auto& e = *editor;

    expectBoxes ({
        { "masterKnob", &e.masterKnob, { 843, 29, 89, 88 } },
        { "SYNTH 1", e.tiles[0].get(), { 39, 129, 446, 88 } },
        { "SYNTH 4", e.tiles[3].get(), { 495, 227, 446, 88 } },
        { "mixer", &e.mixer, { 39, 339, 902, 150 } },
        { "FX 1", e.tiles[4].get(), { 39, 520, 446, 115 } },
        { "FX 2", e.tiles[5].get(), { 495, 520, 446, 115 } },
        { "keyboard", &e.keyboard, { 27, 647, 926, 46 } },
        { "statusLabel", &e.statusLabel, { 39, 698, 902, 14 } },
    }, "980x720");

    EXPECT_FLOAT_EQ (e.keyboard.getKeyWidth(), 926.0f / 43.0f);
    // The white keys end exactly at the keyboard's right edge.
    EXPECT_NEAR (e.keyboard.getKeyStartPosition (96) + e.keyboard.getKeyWidth(), 926.0f, 0.5f);
}

TEST_F (ChainEditorTest, ShortEditorsUseFixedEffectHeight)
{
    // Below 708 pixels the effect row is 112 high whatever the height.
    editor->setSize (1000, 700);
    EXPECT_EQ (editor->tiles[4]->getHeight(), 112);
    EXPECT_EQ (editor->tiles[4]->getY(), 700 - 73 - 112 - 12);
}

TEST_F (ChainEditorTest, ResizeLimits)
{
    struct Row { juce::Rectangle<int> asked, got; };
    const Row rows[] = {
        { { 0, 0, 500, 500 }, { 0, 0, 980, 720 } },
        { { 0, 0, 3000, 3000 }, { 0, 0, 1800, 1300 } },
        { { 0, 0, 1300, 1000 }, { 0, 0, 1300, 1000 } },
    };

    ASSERT_TRUE (editor->isResizable());

    for (const auto& row : rows)
    {
        editor->setBoundsConstrained (row.asked);
        EXPECT_EQ (editor->getBounds(), row.got) << row.asked.toString();
    }
}

TEST (ChainEditorSize, InitialHeightByDisplayUserArea)
{
    struct Row { int userAreaHeight; int height; };
    const Row rows[] = { { 1200, 900 }, { 1050, 900 }, { 1000, 850 }, { 870, 720 }, { 800, 720 } };

    for (const auto& row : rows)
    {
        juce::Displays::Display display;
        display.userArea = { 0, 25, 1920, row.userAreaHeight };
        display.totalArea = { 0, 0, 1920, row.userAreaHeight + 25 };
        EXPECT_EQ (ChainEditor::initialHeight (&display), row.height) << "user area " << row.userAreaHeight;
    }

    EXPECT_EQ (ChainEditor::initialHeight (nullptr), 900);
}

TEST (ChainEditorSize, StartsAt1120WideWithTheDisplaysHeight)
{
    ChainProcessor other;
    ChainEditor fresh (other, juce::File());
    EXPECT_EQ (fresh.getWidth(), 1120);
    EXPECT_EQ (fresh.getHeight(), ChainEditor::initialHeight (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()));
    other.editorBeingDeleted (&fresh);
}

TEST (ChainEditorText, MasterValueToText)
{
    struct Row { double value; const char* text; };
    const Row rows[] = {
        { 0.0, "-inf dB" }, { -0.2, "-inf dB" }, { 1.0e-6, "-100.0 dB" }, { 1.0e-5, "-100.0 dB" },
        { 1.0, "0.0 dB" }, { 0.7, "-3.1 dB" }, { 1.5, "3.5 dB" }, { 0.5, "-6.0 dB" },
    };

    for (const auto& row : rows)
        EXPECT_EQ (ChainEditor::masterText (row.value), juce::String (row.text)) << row.value;
}

TEST (ChainEditorText, MasterTextToValue)
{
    struct Row { const char* text; double value; };
    const Row rows[] = {
        { "-6", 0.501187 }, { "-6 dB", 0.501187 }, { "0", 1.0 }, { "no number", 1.0 },
        { "-inf", 0.0 }, { "-INF dB", 0.0 }, { "-120", 0.0 }, { "-100", 0.0 },
        { "6", 1.995262 }, { "3.5 dB", 1.496236 },
    };

    for (const auto& row : rows)
        EXPECT_NEAR (ChainEditor::masterValue (row.text), row.value, 1.0e-5) << row.text;
}

TEST_F (ChainEditorTest, MasterKnobTextBoxUsesTheDecibelTexts)
{
    auto& knob = editor->masterKnob;
    EXPECT_EQ (knob.getComponentID(), "master");
    EXPECT_EQ (knob.getTextFromValue (0.7), "-3.1 dB");
    EXPECT_EQ (knob.getTextFromValue (0.0), "-inf dB");

    // Typing into the text box goes through the conversion and the knob's range.
    auto* box = editortest::textBoxOf (knob);
    ASSERT_NE (box, nullptr);
    EXPECT_TRUE (box->isEditable());

    struct Row { const char* typed; double value; };
    const Row rows[] = { { "-6", 0.501187 }, { "6", 1.5 }, { "-inf", 0.0 }, { "junk", 1.0 }, { "-120", 0.0 } };

    for (const auto& row : rows)
    {
        box->setText (row.typed, juce::sendNotificationSync);
        EXPECT_NEAR (knob.getValue(), row.value, 1.0e-4) << row.typed;
        EXPECT_NEAR (processor.parameters.getRawParameterValue ("master")->load(), row.value, 1.0e-4) << row.typed;
    }

    EXPECT_EQ (box->getText(), "-inf dB");
    EXPECT_NEAR (knob.getDoubleClickReturnValue(), 0.7, 1.0e-6);
}

TEST_F (ChainEditorTest, FrameBoxKeepsPropertyAndParameterTogether)
{
    EXPECT_EQ ((int) editor->getProperties()["frameTheme"], 0);
    EXPECT_EQ (editor->frameBox.getSelectedId(), 1);
    EXPECT_EQ (editor->frameBox.getTooltip(), "Frame finish");

    // A user choice moves the parameter and the property.
    juce::Component parent;
    parent.addAndMakeVisible (*editor);
    editor->frameBox.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ ((int) editor->getProperties()["frameTheme"], 1);
    EXPECT_EQ (juce::roundToInt (processor.parameters.getRawParameterValue ("frameTheme")->load()), 1);

    // An opened sound sets the parameter; box and property follow.
    auto* parameter = processor.parameters.getParameter ("frameTheme");
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (2.0f));
    EXPECT_EQ (editor->frameBox.getText(), "Grey Metal");
    EXPECT_EQ ((int) editor->getProperties()["frameTheme"], 2);
    parent.removeChildComponent (editor.get());
}

TEST (ChainEditorFrame, PropertyStartsFromTheParameter)
{
    ChainProcessor processor;
    auto* parameter = processor.parameters.getParameter ("frameTheme");
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (1.0f));

    ChainEditor editor (processor, juce::File());
    EXPECT_EQ ((int) editor.getProperties()["frameTheme"], 1);
    EXPECT_EQ (editor.frameBox.getText(), "Black Metal");
    processor.editorBeingDeleted (&editor);
}

TEST_F (ChainEditorTest, PaintsFrameTitleLineAndFinish)
{
    editor->setSize (1120, 900);

    const auto classic = editortest::snapshot (*editor);
    // The accent line under the title: (39, 61, W - 220, 2).
    EXPECT_EQ (argb (classic, 39, 61), 0xffd3553du);
    EXPECT_EQ (argb (classic, 938, 62), 0xffd3553du);
    EXPECT_NE (argb (classic, 939, 61), 0xffd3553du);
    EXPECT_NE (argb (classic, 39, 63), 0xffd3553du);
    // Panel face beside the title, left cheek wood.
    EXPECT_EQ (argb (classic, 450, 110), 0xff181a16u);
    EXPECT_EQ (classic.getPixelAt (5, 450).getRed() > classic.getPixelAt (5, 450).getBlue(), true);

    editor->frameBox.setSelectedId (3, juce::sendNotificationSync);
    const auto grey = editortest::snapshot (*editor);
    EXPECT_EQ (argb (grey, 450, 110), 0xff303336u);
    EXPECT_GT (grey.getPixelAt (5, 450).getBrightness(), 0.4f);
}

TEST_F (ChainEditorTest, PanicSetsTheRequestAndReleasesKeyboardNotes)
{
    processor.keyboardState.noteOn (1, 60, 1.0f);
    processor.keyboardState.noteOn (5, 64, 1.0f);
    processor.panicRequest = false;

    editor->panicButton.triggerClick();
    editortest::pump (50);

    EXPECT_TRUE (processor.panicRequest.load());
    EXPECT_FALSE (processor.keyboardState.isNoteOnForChannels (0xffff, 60));
    EXPECT_FALSE (processor.keyboardState.isNoteOnForChannels (0xffff, 64));

    // With no note held it still asks.
    processor.panicRequest = false;
    editor->panicButton.triggerClick();
    editortest::pump (50);
    EXPECT_TRUE (processor.panicRequest.load());
}

TEST_F (ChainEditorTest, PollShowsSlotsAndFollowsTheSoundName)
{
    EXPECT_EQ (editor->soundMenu.getText(), "Init sound");
    EXPECT_EQ (editor->tiles[2]->status.getText(), "No plug-in loaded");

    editortest::putIntoSlot (processor, 2, editortest::makeHosted ("Poly Pad"));
    editortest::putIntoSlot (processor, 5, editortest::makeHosted ("Space Echo", false));
    processor.changeProgramName (0, "Evening Strings");

    editortest::pump (400);

    EXPECT_EQ (editor->tiles[2]->status.getText(), "Poly Pad");
    EXPECT_EQ (editor->tiles[5]->status.getText(), "Space Echo");
    EXPECT_EQ (editor->tiles[0]->status.getText(), "No plug-in loaded");
    EXPECT_EQ (editor->soundMenu.getText(), "Evening Strings");

    processor.clear (2);
    editortest::pump (400);
    EXPECT_EQ (editor->tiles[2]->status.getText(), "No plug-in loaded");
    EXPECT_FALSE (editor->tiles[2]->openButton.isEnabled());
}

TEST_F (ChainEditorTest, TilesAreTitledBySlotAndOfferTheRightCatalogue)
{
    const char* titles[] = { "SYNTH 1", "SYNTH 2", "SYNTH 3", "SYNTH 4", "FX 1", "FX 2" };

    for (int i = 0; i < ChainProcessor::numSlots; ++i)
    {
        EXPECT_EQ (editor->tiles[(size_t) i]->title(), titles[i]);
        EXPECT_EQ (&editor->tiles[(size_t) i]->catalogue,
                   i < 4 ? &editor->synthCatalogue : &editor->effectCatalogue) << titles[i];
    }
}

TEST (ChainEditorLibrary, EmptyFolderMeansDocumentsVellixSounds)
{
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
    EXPECT_EQ (ChainEditor::libraryFolderFor (juce::File()), documents.getChildFile ("VELLIX").getChildFile ("Sounds"));
    EXPECT_EQ (ChainEditor::libraryFolderFor (juce::File ("/tmp/elsewhere")), juce::File ("/tmp/elsewhere"));
}
