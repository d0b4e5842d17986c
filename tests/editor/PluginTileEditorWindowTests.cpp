// The tile's editor window: one window per tile, the first capture 400 ms after
// opening, a close that waits for its capture (at most 1200 ms), and results
// that arrive after the plug-in changed are dropped.

#include "editor/EditorTestSupport.h"
#include "editor/NativePluginWindow.h"
#include "editor/PluginTile.h"

#include <gtest/gtest.h>

namespace
{
    /** Draws a gradient, so that its pictures are never blank. */
    class PaintedEditor : public juce::AudioProcessorEditor
    {
    public:
        explicit PaintedEditor (juce::AudioProcessor& p) : juce::AudioProcessorEditor (p) { setSize (320, 200); }

        void paint (juce::Graphics& g) override
        {
            g.setGradientFill (juce::ColourGradient (juce::Colours::black, 0, 0, juce::Colours::orange,
                                                     (float) getWidth(), (float) getHeight(), false));
            g.fillAll();
        }
    };

    class PluginWithEditor : public editortest::StubPlugin
    {
    public:
        explicit PluginWithEditor (bool withEditor) : StubPlugin ("Painted Synth", true), editorOffered (withEditor) {}

        juce::AudioProcessorEditor* createEditor() override { return editorOffered ? new PaintedEditor (*this) : nullptr; }
        bool hasEditor() const override { return editorOffered; }

    private:
        bool editorOffered;
    };

    int windowsOnDesktop()
    {
        int count = 0;
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (dynamic_cast<NativePluginWindow*> (desktop.getComponent (i)) != nullptr)
                ++count;

        return count;
    }

    struct TileEditorWindow : public ::testing::Test
    {
        void SetUp() override
        {
            if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
                GTEST_SKIP() << "needs a display (run under scripts/headless.sh)";
        }

        std::shared_ptr<ChainProcessor::Hosted> install (bool withEditor)
        {
            auto hosted = std::make_shared<ChainProcessor::Hosted> (std::make_unique<PluginWithEditor> (withEditor));
            editortest::putIntoSlot (processor, 0, hosted);
            return hosted;
        }

        juce::MemoryBlock slotPreview()
        {
            const juce::ScopedLock sl (processor.lock);
            return processor.slots[0].preview;
        }

        ChainProcessor processor;
        std::vector<juce::PluginDescription> catalogue;
    };
}

TEST_F (TileEditorWindow, OpenTwiceGivesOneWindowAndTheFirstCaptureFollows)
{
    PluginTile tile (processor, 0, catalogue);
    tile.update (install (true));

    tile.openEditor();
    tile.openEditor();
    EXPECT_EQ (windowsOnDesktop(), 1);
    ASSERT_NE (tile.window, nullptr);
    EXPECT_TRUE (tile.window->isVisible());

    editortest::pump (250);
    EXPECT_TRUE (slotPreview().isEmpty()) << "no capture before 400 ms";

    editortest::pump (600);
    EXPECT_FALSE (slotPreview().isEmpty()) << "the first capture 400 ms after opening";
    EXPECT_TRUE (tile.hosted->preview.isValid());
    EXPECT_LE (tile.hosted->preview.getWidth(), 600);
}

TEST_F (TileEditorWindow, CloseWaitsForItsCaptureAndOpenCancelsIt)
{
    PluginTile tile (processor, 0, catalogue);
    tile.update (install (true));
    tile.openEditor();
    editortest::pump (50);

    // Close, then OPEN again before anything delivered: the window stays.
    tile.window->closeButtonPressed();
    EXPECT_TRUE (tile.closeRequested);
    tile.openEditor();
    EXPECT_FALSE (tile.closeRequested);
    editortest::pump (1500);
    EXPECT_NE (tile.window, nullptr) << "neither the capture nor the 1200 ms guard closed it";

    // A plain close takes the last picture and then closes.
    tile.window->closeButtonPressed();
    editortest::pump (300);
    EXPECT_EQ (tile.window, nullptr);
    EXPECT_EQ (tile.editor, nullptr);
    EXPECT_EQ (windowsOnDesktop(), 0);
    EXPECT_FALSE (slotPreview().isEmpty());
}

TEST_F (TileEditorWindow, CloseWithACaptureThatNeverDeliversEndsAfter1200ms)
{
    PluginTile tile (processor, 0, catalogue);
    tile.update (install (true));
    tile.openEditor();

    // A capture in flight that will never answer.
    tile.capturing = true;
    tile.preview (true);

    editortest::pump (900);
    EXPECT_NE (tile.window, nullptr);
    editortest::pump (600);
    EXPECT_EQ (tile.window, nullptr);
    EXPECT_FALSE (tile.capturing);
}

TEST_F (TileEditorWindow, LatePictureOfAReplacedPluginIsStoredNowhere)
{
    PluginTile tile (processor, 0, catalogue);
    auto first = install (true);
    tile.update (first);
    tile.openEditor();

    tile.preview (false);                         // a capture is in flight...
    auto second = install (true);                 // ...when the slot changes
    tile.update (second);
    EXPECT_EQ (tile.window, nullptr) << "the old plug-in's window closes at once";

    editortest::pump (600);
    EXPECT_TRUE (slotPreview().isEmpty());
    EXPECT_FALSE (first->preview.isValid());
    EXPECT_FALSE (second->preview.isValid());
}

TEST_F (TileEditorWindow, PluginWithoutEditorOpensNoWindow)
{
    PluginTile tile (processor, 0, catalogue);
    tile.update (install (false));

    for (int press = 0; press < 2; ++press)
    {
        tile.status.setText ("something else", juce::dontSendNotification);
        tile.openEditor();
        EXPECT_EQ (tile.status.getText(), "No native editor available");
        EXPECT_EQ (tile.window, nullptr);
        EXPECT_EQ (windowsOnDesktop(), 0);
    }
}

TEST_F (TileEditorWindow, LoadThatAskedForTheEditorOpensExactlyOneWindow)
{
    PluginTile tile (processor, 0, catalogue);
    auto hosted = install (true);
    {
        const juce::ScopedLock sl (processor.lock);
        processor.slots[0].showEditor = true;
    }

    tile.update (hosted);
    tile.update (hosted);
    EXPECT_EQ (windowsOnDesktop(), 1);

    editortest::pump (700);
    EXPECT_FALSE (slotPreview().isEmpty());

    tile.update (nullptr);
    EXPECT_EQ (windowsOnDesktop(), 0);
}
