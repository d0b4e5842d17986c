// The plug-in tile against a real processor: what it shows for each state of
// its slot, its layout and painting, and what it makes of a chosen bundle.

#include "editor/PluginTile.h"

#include "EditorTestSupport.h"

using editortest::argb;

namespace
{
    struct PluginTileTest : ::testing::Test
    {
        ChainProcessor processor;
        std::vector<juce::PluginDescription> catalogue;

        bool showEditorRequest (int slot)
        {
            const juce::ScopedLock sl (processor.lock);
            return processor.slots[(size_t) slot].showEditor;
        }

        template <typename Change>
        void changeSlot (int slot, Change&& change)
        {
            const juce::ScopedLock sl (processor.lock);
            change (processor.slots[(size_t) slot]);
        }
    };

    juce::File fixtureBundle (const char* name)
    {
        return juce::File (VELLIX_TEST_BINARY_DIR).getParentDirectory().getChildFile ("fixtures/vst3").getChildFile (name);
    }
}

TEST_F (PluginTileTest, TitlesBySlot)
{
    const char* titles[] = { "SYNTH 1", "SYNTH 2", "SYNTH 3", "SYNTH 4", "FX 1", "FX 2" };

    for (int slot = 0; slot < 6; ++slot)
        EXPECT_EQ (PluginTile (processor, slot, catalogue).title(), titles[slot]) << "slot " << slot;
}

TEST_F (PluginTileTest, ChildLayoutIncludingNarrowTiles)
{
    PluginTile tile (processor, 0, catalogue);

    struct Row { int width; int statusWidth; };
    const Row rows[] = { { 516, 342 }, { 175, 1 }, { 174, 1 }, { 120, 1 } };

    for (const auto& row : rows)
    {
        tile.setSize (row.width, 155);
        EXPECT_EQ (tile.loadButton.getBounds(), juce::Rectangle<int> (10, 9, 60, 26)) << row.width;
        EXPECT_EQ (tile.status.getBounds(), juce::Rectangle<int> (77, 9, row.statusWidth, 26)) << row.width;
        EXPECT_EQ (tile.openButton.getBounds(), juce::Rectangle<int> (row.width - 88, 9, 60, 26)) << row.width;
        EXPECT_EQ (tile.clearButton.getBounds(), juce::Rectangle<int> (row.width - 25, 9, 20, 26)) << row.width;
    }
}

TEST_F (PluginTileTest, StateTable)
{
    PluginTile tile (processor, 1, catalogue);
    auto hosted = editortest::makeHosted ("Warm Keys");

    // Empty.
    tile.update (nullptr);
    EXPECT_EQ (tile.status.getText(), "No plug-in loaded");
    EXPECT_EQ (tile.status.getTooltip(), "No plug-in loaded");
    EXPECT_FALSE (tile.openButton.isEnabled());
    EXPECT_FALSE (tile.clearButton.isEnabled());

    // Empty with a failure message from the last load.
    changeSlot (1, [] (auto& s) { s.message = "Choose a MIDI instrument for a synth layer"; });
    tile.update (nullptr);
    EXPECT_EQ (tile.status.getText(), "No plug-in loaded");
    EXPECT_EQ (tile.status.getTooltip(), "Choose a MIDI instrument for a synth layer");

    // Loading: only the tooltip changes.
    changeSlot (1, [] (auto& s) { s.loading = true; });
    tile.update (nullptr);
    EXPECT_EQ (tile.status.getText(), "No plug-in loaded");
    EXPECT_EQ (tile.status.getTooltip(), "Loading...");
    EXPECT_FALSE (tile.openButton.isEnabled());

    // Loaded.
    changeSlot (1, [] (auto& s) { s.loading = false; s.message.clear(); });
    tile.update (hosted);
    EXPECT_EQ (tile.status.getText(), "Warm Keys");
    EXPECT_EQ (tile.status.getTooltip(), "Warm Keys");
    EXPECT_TRUE (tile.openButton.isEnabled());
    EXPECT_TRUE (tile.clearButton.isEnabled());
    EXPECT_EQ (tile.hosted, hosted);

    // Cleared again.
    tile.update (nullptr);
    EXPECT_EQ (tile.status.getText(), "No plug-in loaded");
    EXPECT_FALSE (tile.clearButton.isEnabled());
    EXPECT_EQ (tile.hosted, nullptr);
}

TEST_F (PluginTileTest, SamePluginAgainRefreshesOnlyButtonsAndTooltip)
{
    PluginTile tile (processor, 4, catalogue);
    auto hosted = editortest::makeHosted ("Tape Delay", false);

    tile.update (hosted);
    const auto generation = tile.generation;

    // A message written into the label stays until the plug-in changes.
    tile.status.setText ("No matching instrument/effect", juce::dontSendNotification);
    changeSlot (4, [] (auto& s) { s.message = "Plug-in reports a changed latency"; });
    tile.update (hosted);

    EXPECT_EQ (tile.status.getText(), "No matching instrument/effect");
    EXPECT_EQ (tile.status.getTooltip(), "Plug-in reports a changed latency");
    EXPECT_EQ (tile.generation, generation);

    // A different plug-in, even of the same name, is a change.
    tile.update (editortest::makeHosted ("Tape Delay", false));
    EXPECT_EQ (tile.status.getText(), "Tape Delay");
    EXPECT_EQ (tile.generation, generation + 1);
}

TEST_F (PluginTileTest, OpenEditorRequestIsTakenOnceAndOnlyWithAPlugin)
{
    PluginTile tile (processor, 0, catalogue);
    changeSlot (0, [] (auto& s) { s.showEditor = true; });

    // Nothing to open yet: the request waits for the plug-in.
    tile.update (nullptr);
    EXPECT_TRUE (showEditorRequest (0));

    auto hosted = editortest::makeHosted ("Bright Lead");
    tile.update (hosted);
    EXPECT_FALSE (showEditorRequest (0));

    tile.update (hosted);
    EXPECT_FALSE (showEditorRequest (0));
}

TEST_F (PluginTileTest, PaintsAccentBarScreenAndPreview)
{
    PluginTile tile (processor, 2, catalogue);
    tile.setSize (300, 160);

    const auto empty = editortest::snapshot (tile);
    EXPECT_EQ (argb (empty, 0, 20), 0xffbd4b35u);     // accent bar (0, 0, 4, 43), over the outline
    EXPECT_EQ (argb (empty, 3, 42), 0xffbd4b35u);
    EXPECT_EQ (argb (empty, 4, 20), 0xff22241eu);
    EXPECT_EQ (argb (empty, 3, 43), 0xff22241eu);
    EXPECT_EQ (argb (empty, 299, 100), 0xff847e67u);  // outline
    EXPECT_EQ (argb (empty, 9, 45), 0xff12140fu);     // screen area (9, 45, w - 18, h - 54)
    EXPECT_EQ (argb (empty, 290, 150), 0xff12140fu);
    EXPECT_EQ (argb (empty, 291, 150), 0xff22241eu);
    EXPECT_EQ (argb (empty, 290, 151), 0xff22241eu);

    // A plug-in with a preview shows the picture, reduced to fit and centred.
    auto hosted = editortest::makeHosted ("Organ");
    hosted->preview = juce::Image (juce::Image::RGB, 600, 200, true);
    hosted->preview.clear (hosted->preview.getBounds(), juce::Colours::red);
    tile.update (hosted);

    const auto withPreview = editortest::snapshot (tile);
    EXPECT_EQ (argb (withPreview, 150, 100), 0xffff0000u);
    EXPECT_EQ (argb (withPreview, 10, 100), 0xffff0000u);   // 282 wide: fills the width
    EXPECT_EQ (argb (withPreview, 150, 50), 0xff12140fu);   // 94 high, centred in 106

    // Without a preview the centre holds no picture.
    hosted->preview = juce::Image();
    tile.repaint();
    const auto withoutPreview = editortest::snapshot (tile);
    EXPECT_NE (argb (withoutPreview, 10, 100), 0xffff0000u);
}

TEST_F (PluginTileTest, PreviewIsNeverEnlarged)
{
    PluginTile tile (processor, 0, catalogue);
    tile.setSize (400, 300);

    auto hosted = editortest::makeHosted ("Small UI");
    hosted->preview = juce::Image (juce::Image::RGB, 20, 10, true);
    hosted->preview.clear (hosted->preview.getBounds(), juce::Colours::blue);
    tile.update (hosted);

    // Screen centre is (200, 168); the 20 x 10 picture sits there at its own size.
    const auto image = editortest::snapshot (tile);
    EXPECT_EQ (argb (image, 200, 168), 0xff0000ffu);
    EXPECT_EQ (argb (image, 215, 168), 0xff12140fu);
}

TEST_F (PluginTileTest, ClearButtonClearsTheSlotAndTheNextUpdateShowsIt)
{
    PluginTile tile (processor, 3, catalogue);
    auto hosted = editortest::makeHosted ("Choir");
    editortest::putIntoSlot (processor, 3, hosted);
    tile.update (hosted);

    tile.clearButton.triggerClick();
    editortest::pump (50);

    {
        const juce::ScopedLock sl (processor.lock);
        EXPECT_EQ (processor.slots[3].hosted, nullptr);
    }

    // Still shown until the next update.
    EXPECT_EQ (tile.status.getText(), "Choir");
    tile.update (nullptr);
    EXPECT_EQ (tile.status.getText(), "No plug-in loaded");
}

TEST_F (PluginTileTest, FileThatHoldsNoPlugInIsReportedAndLoadsNothing)
{
    const auto folder = juce::File::createTempFile ("tile-bundles");
    folder.createDirectory();
    const auto notABundle = folder.getChildFile ("Broken.vst3");
    notABundle.replaceWithText ("not a plug-in");

    EXPECT_TRUE (PluginTile::matchingPlugins (processor.formatManager, notABundle.getFullPathName(), true).empty());

    PluginTile tile (processor, 0, catalogue);
    tile.loadFromFile (notABundle);
    EXPECT_EQ (tile.status.getText(), "No matching instrument/effect");

    {
        const juce::ScopedLock sl (processor.lock);
        EXPECT_FALSE (processor.slots[0].loading);
    }

    folder.deleteRecursively();
}

TEST_F (PluginTileTest, BundlesMatchOnlyTheirOwnKindOfSlot)
{
    const auto instrument = fixtureBundle ("FixtureInstrument.vst3");
    const auto effect = fixtureBundle ("FixtureEffect.vst3");

    // The bundles' folders exist before their binaries are built.
    const auto built = [] (const juce::File& bundle)
    {
        return bundle.getChildFile ("Contents").findChildFiles (juce::File::findFiles, true, "*.so").size() > 0;
    };

    if (! built (instrument) || ! built (effect))
        GTEST_SKIP() << "fixture bundles not built: expected " << instrument.getFullPathName()
                     << " and " << effect.getFullPathName();

    struct Row { const juce::File& bundle; bool synthSlot; size_t matches; };
    const Row rows[] = { { instrument, true, 1 }, { instrument, false, 0 }, { effect, false, 1 }, { effect, true, 0 } };

    for (const auto& row : rows)
    {
        const auto found = PluginTile::matchingPlugins (processor.formatManager, row.bundle.getFullPathName(), row.synthSlot);
        ASSERT_EQ (found.size(), row.matches) << row.bundle.getFileName() << (row.synthSlot ? " on a synth" : " on an effect");

        for (const auto& d : found)
            EXPECT_EQ (d.isInstrument, row.synthSlot);
    }

    // A mismatch says so on the tile; a single match starts loading at once.
    PluginTile effectTile (processor, 4, catalogue);
    effectTile.loadFromFile (instrument);
    EXPECT_EQ (effectTile.status.getText(), "No matching instrument/effect");

    PluginTile synthTile (processor, 0, catalogue);
    synthTile.loadFromFile (instrument);

    // The load asks for the editor; the tile's next update takes that request once.
    std::shared_ptr<ChainProcessor::Hosted> loaded;

    for (int waited = 0; waited < 10000 && loaded == nullptr; waited += 50)
    {
        editortest::pump (50);
        const juce::ScopedLock sl (processor.lock);
        loaded = processor.slots[0].hosted;
    }

    ASSERT_NE (loaded, nullptr) << processor.slots[0].message;
    EXPECT_TRUE (showEditorRequest (0));
    synthTile.update (loaded);
    EXPECT_EQ (synthTile.status.getText(), loaded->description.name);
    EXPECT_FALSE (showEditorRequest (0));
}
