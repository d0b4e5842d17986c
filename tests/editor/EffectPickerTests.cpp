// The effect picker: what a search shows, how a pick is made, and its layout.

#include "hosting/EffectPicker.h"

#include "EditorTestSupport.h"

using editortest::argb;

namespace
{
    juce::PluginDescription entry (const juce::String& name, const juce::String& maker)
    {
        juce::PluginDescription d;
        d.name = name;
        d.manufacturerName = maker;
        return d;
    }

    const std::vector<juce::PluginDescription> catalogue {
        entry ("Big Synth", "Acme Audio"),
        entry ("Big Synth", "Other Co"),
        entry ("Pad", "Co"),
        entry ("Say \"big synth\" now", "Quoting Works"),
        entry ("Registry Only", ""),
    };

    std::vector<int> shownFor (const juce::String& text)
    {
        EffectPicker picker (catalogue, [] (juce::PluginDescription) {});
        picker.search.setText (text, false);
        picker.filter();
        return picker.visible;
    }
}

TEST (EffectPicker, SearchShowsEntriesWithEveryWord)
{
    struct Row { const char* text; std::vector<int> shown; };
    const std::vector<Row> rows {
        { "", { 0, 1, 2, 3, 4 } },
        { "   ", { 0, 1, 2, 3, 4 } },
        { "big acme", { 0 } },
        { "ACME big", { 0 } },
        { "big     acme", { 0 } },
        { "big", { 0, 1, 3 } },
        { "\"big synth\"", { 3 } },       // the quotes stay part of the word
        { "\"big synth", { 3 } },
        { "pad co", { 2 } },
        { "co", { 1, 2 } },
        { "nothing here", {} },
        { "only", { 4 } },
    };

    for (const auto& row : rows)
        EXPECT_EQ (shownFor (row.text), row.shown) << "search '" << row.text << "'";
}

TEST (EffectPicker, TypingRefiltersAndReturnPicksTheFirstShownRow)
{
    std::vector<juce::String> picked;
    EffectPicker picker (catalogue, [&] (juce::PluginDescription d) { picked.push_back (d.manufacturerName); });

    EXPECT_EQ (picker.list.getSelectedRow(), 0);
    EXPECT_EQ (picker.getNumRows(), 5);

    // The text editor reports changes through the message loop.
    picker.search.setText ("co", true);
    editortest::pump (100);
    EXPECT_EQ (picker.visible, (std::vector<int> { 1, 2 }));
    EXPECT_EQ (picker.list.getSelectedRow(), 0);

    picker.search.keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    editortest::pump (100);
    ASSERT_EQ (picked.size(), 1u);
    EXPECT_EQ (picked[0], "Other Co");

    // The list's own return key and double-click pick the selected row.
    picker.list.selectRow (1);
    picker.returnKeyPressed (1);
    const juce::MouseEvent doubleClick (juce::Desktop::getInstance().getMainMouseSource(), {}, {}, 1.0f,
                                        0.0f, 0.0f, 0.0f, 0.0f, &picker, &picker, juce::Time(), {}, juce::Time(), 2, false);
    picker.listBoxItemDoubleClicked (1, doubleClick);
    EXPECT_EQ (picked, (std::vector<juce::String> { "Other Co", "Co", "Co" }));
}

TEST (EffectPicker, EmptyListDisablesLoadAndPicksNothing)
{
    int picks = 0;

    EffectPicker empty ({}, [&] (juce::PluginDescription) { ++picks; });
    EXPECT_FALSE (empty.loadButton.isEnabled());
    empty.accept();
    empty.returnKeyPressed (0);
    EXPECT_EQ (picks, 0);

    EffectPicker picker (catalogue, [&] (juce::PluginDescription) { ++picks; });
    EXPECT_TRUE (picker.loadButton.isEnabled());
    picker.search.setText ("zzz", false);
    picker.filter();
    EXPECT_FALSE (picker.loadButton.isEnabled());
    picker.accept();
    EXPECT_EQ (picks, 0);

    picker.search.setText ("", false);
    picker.filter();
    EXPECT_TRUE (picker.loadButton.isEnabled());
    picker.loadButton.triggerClick();
    editortest::pump (50);
    EXPECT_EQ (picks, 1);
}

TEST (EffectPicker, AcceptClosesTheEnclosingCallOutBox)
{
    juce::String picked;
    juce::Component host;
    host.setSize (800, 800);

    auto* picker = new EffectPicker (catalogue, [&] (juce::PluginDescription d) { picked = d.name; });
    juce::Component::SafePointer<juce::CallOutBox> box (
        &juce::CallOutBox::launchAsynchronously (std::unique_ptr<juce::Component> (picker), { 300, 300, 40, 20 }, &host));

    picker->accept();
    editortest::pump (200);

    EXPECT_EQ (picked, "Big Synth");
    EXPECT_EQ (box.getComponent(), nullptr);
}

TEST (EffectPicker, LayoutAt430By470)
{
    EffectPicker picker (catalogue, [] (juce::PluginDescription) {});
    EXPECT_EQ (picker.getWidth(), 430);
    EXPECT_EQ (picker.getHeight(), 470);
    EXPECT_EQ (picker.search.getBounds(), juce::Rectangle<int> (12, 12, 406, 29));
    EXPECT_EQ (picker.list.getBounds(), juce::Rectangle<int> (12, 53, 406, 360));
    EXPECT_EQ (picker.loadButton.getBounds(), juce::Rectangle<int> (12, 425, 406, 32));
    EXPECT_EQ (picker.list.getRowHeight(), 44);
    EXPECT_EQ (picker.list.getName(), "AU effects");
    EXPECT_EQ (picker.search.getTextToShowWhenEmpty(), "Search plug-in or manufacturer...");
}

TEST (EffectPicker, SelectedRowIsOrangeOthersLetTheListShow)
{
    EffectPicker picker (catalogue, [] (juce::PluginDescription) {});

    for (bool selected : { true, false })
    {
        juce::Image row (juce::Image::ARGB, 406, 44, true);
        {
            juce::Graphics g (row);
            picker.paintListBoxItem (0, g, 406, 44, selected);
        }

        if (selected)
        {
            EXPECT_EQ (argb (row, 2, 2), 0xfff58b37u);
            EXPECT_EQ (argb (row, 400, 40), 0xfff58b37u);
        }
        else
        {
            EXPECT_EQ (row.getPixelAt (2, 2).getAlpha(), 0);
            EXPECT_EQ (row.getPixelAt (400, 40).getAlpha(), 0);
        }
    }

    // A row outside the shown ones paints nothing.
    juce::Image none (juce::Image::ARGB, 406, 44, true);
    {
        juce::Graphics g (none);
        picker.paintListBoxItem (99, g, 406, 44, true);
    }
    EXPECT_EQ (none.getPixelAt (2, 2).getAlpha(), 0);
}
