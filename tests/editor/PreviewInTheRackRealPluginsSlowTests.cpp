// A real plug-in's editor, end to end through the rack: a load that asks for
// the editor opens its window, the capture lands in the slot and is drawn in
// the tile, and the picture survives saving and opening the sound.

#include "editor/ChainEditor.h"
#include "editor/NativePluginWindow.h"
#include "editor/PluginPreview.h"
#include "hosting/LoadingTestSupport.h"

#include <gtest/gtest.h>

namespace
{
    const juce::String reverbUri ("https://github.com/michaelwillis/dragonfly-reverb");

    juce::MemoryBlock slotPreview (ChainProcessor& processor, int slot)
    {
        return loading::viewSlot (processor, slot).preview;
    }

    /** The share of pixels, 0 to 1, in which two pictures of one size differ. */
    double differingShare (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds() || a.getWidth() * a.getHeight() == 0)
            return 1.0;

        int differing = 0;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y).getARGB() != b.getPixelAt (x, y).getARGB())
                    ++differing;

        return differing / (double) (a.getWidth() * a.getHeight());
    }

    juce::Image screenAreaOf (PluginTile& tile)
    {
        const auto picture = tile.createComponentSnapshot (tile.getLocalBounds(), true, 1.0f);
        return picture.getClippedImage ({ 9, 45, tile.getWidth() - 18, tile.getHeight() - 54 });
    }
}

TEST (PreviewInTheRackRealPluginsSlow, CapturedEditorIsStoredDrawnAndSurvivesASound)
{
    if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
        GTEST_SKIP() << "needs a display (run under scripts/headless.sh)";

    const auto library = juce::File::createTempFile ("vellix-preview-library");
    ASSERT_TRUE (library.createDirectory().wasOk());

    ChainProcessor processor;
    const auto description = loading::describe (processor.formatManager, "LV2", reverbUri);

    if (description.fileOrIdentifier.isEmpty())
        GTEST_SKIP() << reverbUri << " is not installed (VELLIX_WITH_TEST_PLUGINS=1 scripts/install-deps.sh)";

    {
        ChainEditor editor (processor, library);
        auto& tile = *editor.tiles[4];

        processor.load (4, description, {}, true, {});
        ASSERT_TRUE (loading::settle (processor));
        ASSERT_NE (loading::viewSlot (processor, 4).hosted, nullptr) << loading::viewSlot (processor, 4).message;

        // The editor's poll hands the plug-in to the tile, which opens the window
        // and takes the first picture 400 ms later.
        ASSERT_TRUE (loading::pumpUntil ([&] { return ! slotPreview (processor, 4).isEmpty(); }, 8000))
            << "no picture reached the slot";
        EXPECT_NE (tile.window, nullptr);

        const auto hosted = loading::viewSlot (processor, 4).hosted;
        ASSERT_TRUE (hosted->preview.isValid());
        EXPECT_LE (hosted->preview.getWidth(), 600);
        EXPECT_TRUE (useful (hosted->preview));
        const auto shown = screenAreaOf (tile);
        EXPECT_TRUE (useful (shown)) << "the tile draws the picture in its screen area";

        tile.window->closeButtonPressed();
        ASSERT_TRUE (loading::pumpUntil ([&] { return tile.window == nullptr; }, 3000));

        const auto saved = slotPreview (processor, 4);
        editor.write (library.getChildFile ("With Preview"));
        ASSERT_TRUE (library.getChildFile ("With Preview.vellix").existsAsFile());

        processor.clear (4);
        loading::pumpFor (300);
        EXPECT_GT (differingShare (screenAreaOf (tile), shown), 0.2) << "an empty slot shows no picture";

        ASSERT_TRUE (editor.read (library.getChildFile ("With Preview.vellix")));
        ASSERT_TRUE (loading::settle (processor));
        loading::pumpFor (300);

        const auto restored = loading::viewSlot (processor, 4);
        ASSERT_NE (restored.hosted, nullptr) << restored.message;
        EXPECT_EQ (restored.preview, saved) << "the picture came back byte for byte";
        EXPECT_TRUE (restored.hosted->preview.isValid());
        EXPECT_EQ (tile.window, nullptr) << "opening a sound never opens editors";
        EXPECT_LT (differingShare (screenAreaOf (tile), shown), 0.01) << "the tile draws the same picture again";
    }

    loading::settle (processor);
    library.deleteRecursively();
}
