// Editors of real plug-ins: third-party LV2 plug-ins from Debian's packages
// (scripts/install-deps.sh with VELLIX_WITH_TEST_PLUGINS=1) and the project's
// own fixture. Their interfaces are native X windows of their own, which
// JUCE's component snapshot cannot see.

#include "editor/NativePluginWindow.h"
#include "editor/PluginPreview.h"
#include "PluginPreviewTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace previewtest;

namespace
{
    /** A real plug-in's editor shown in its window the way the tile shows it. */
    class ShownEditor
    {
    public:
        explicit ShownEditor (std::unique_ptr<juce::AudioPluginInstance> p) : plugin (std::move (p))
        {
            if (plugin == nullptr || ! plugin->hasEditor())
                return;

            editor.reset (plugin->createEditorIfNeeded());

            if (editor == nullptr)
                return;

            window = std::make_unique<NativePluginWindow> (plugin->getName());
            window->setContentNonOwned (editor.get(), true);
            window->setTopLeftPosition (ScreenSlot::topLeftFor (editor->getWidth(), editor->getHeight()));
            window->setVisible (true);
        }

        ~ShownEditor()
        {
            if (window != nullptr)
                window->clearContentComponent();

            window = nullptr;

            if (editor != nullptr)
                plugin->editorBeingDeleted (editor.get());

            editor = nullptr;
        }

        /** Captures until the interface has drawn itself (it draws from its own
            connection to the server, some time after being shown). */
        Capture captureWhenDrawn (int timeoutMilliseconds = 8000)
        {
            Capture result;

            for (int waited = 0; waited < timeoutMilliseconds; waited += 500)
            {
                juce::MessageManager::getInstance()->runDispatchLoopUntil (300);
                result = captureUntilValid (*editor, 500);

                if (result.picture.isValid())
                    break;
            }

            return result;
        }

        ScreenSlot screen;
        std::unique_ptr<juce::AudioPluginInstance> plugin;
        std::unique_ptr<juce::AudioProcessorEditor> editor;
        std::unique_ptr<NativePluginWindow> window;
    };

    void expectCapturedWhileSnapshotIsBlank (ShownEditor& shown, const juce::String& what)
    {
        ASSERT_NE (shown.editor, nullptr) << what << ": no editor";

        const auto result = shown.captureWhenDrawn();

        EXPECT_EQ (result.calls, 1) << what;
        EXPECT_FALSE (result.calledBeforeReturn) << what;
        ASSERT_TRUE (result.picture.isValid()) << what << ": no picture of a "
                                               << shown.editor->getWidth() << " x " << shown.editor->getHeight() << " editor";
        EXPECT_TRUE (deliverable (result.picture)) << what;
        EXPECT_EQ (result.picture.getWidth(), juce::jmin (600, shown.editor->getWidth())) << what;

        // The reason the window picture exists at all.
        EXPECT_FALSE (useful (shown.editor->createComponentSnapshot (shown.editor->getLocalBounds()))) << what;
    }

    class PreviewRealPluginsSlow : public ::testing::TestWithParam<const char*>
    {
    protected:
        void SetUp() override
        {
            if (! hasDisplay())
                GTEST_SKIP() << "no X display (run under scripts/headless.sh)";

            formats.addDefaultFormats();
        }

        juce::AudioPluginFormatManager formats;
    };

    TEST_P (PreviewRealPluginsSlow, X11InterfaceIsCapturedThoughTheSnapshotIsBlank)
    {
        auto plugin = createPlugin (formats, "LV2", GetParam());

        if (plugin == nullptr)
            GTEST_SKIP() << GetParam() << " is not installed (VELLIX_WITH_TEST_PLUGINS=1 scripts/install-deps.sh)";

        ShownEditor shown (std::move (plugin));
        expectCapturedWhileSnapshotIsBlank (shown, GetParam());
    }

    INSTANTIATE_TEST_SUITE_P (Lv2, PreviewRealPluginsSlow,
                              ::testing::Values ("http://lsp-plug.in/plugins/lv2/comp_delay_mono",
                                                 "https://github.com/michaelwillis/dragonfly-reverb",
                                                 "http://gareus.org/oss/lv2/balance"));

    //==========================================================================
    // The project's own fixture instrument, in both of its formats.
    struct FixtureBundle
    {
        const char* format;
        const char* folder;
        const char* bundle;
        const char* builtFile;  // inside the bundle: there once the build made it
        const char* identifier; // empty: the bundle's path
    };

    class FixturePreviewRealPluginsSlow : public ::testing::TestWithParam<FixtureBundle>
    {
    protected:
        void SetUp() override
        {
            if (! hasDisplay())
                GTEST_SKIP() << "no X display (run under scripts/headless.sh)";

            formats.addDefaultFormats();
        }

        juce::AudioPluginFormatManager formats;
    };

    // The fixture's editor is JUCE's generic editor of a plug-in without
    // parameters: one plain colour. What it must get is exactly one answer,
    // and never a blank or oversized picture.
    TEST_P (FixturePreviewRealPluginsSlow, FixtureInstrumentEditorOpensAndItsCaptureIsDelivered)
    {
        const auto& bundle = GetParam();
        const auto folder = juce::File (VELLIX_TEST_BINARY_DIR).getParentDirectory().getChildFile ("fixtures").getChildFile (bundle.folder);
        const auto bundleFile = folder.getChildFile (bundle.bundle);

        if (! bundleFile.getChildFile (bundle.builtFile).existsAsFile())
            GTEST_SKIP() << bundleFile.getFullPathName() << " is not built (target vellix_fixtures)";

        const juce::String identifier (bundle.identifier);
        auto plugin = createPlugin (formats, bundle.format,
                                    identifier.isEmpty() ? bundleFile.getFullPathName() : identifier,
                                    folder);
        ASSERT_NE (plugin, nullptr) << bundleFile.getFullPathName();

        ShownEditor shown (std::move (plugin));
        ASSERT_NE (shown.editor, nullptr);
        ASSERT_TRUE (shown.window->isShowing());
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1500);

        const auto result = capture (*shown.editor);

        EXPECT_EQ (result.calls, 1);
        EXPECT_FALSE (result.calledBeforeReturn);
        EXPECT_TRUE (deliverable (result.picture));
    }

    INSTANTIATE_TEST_SUITE_P (Fixture, FixturePreviewRealPluginsSlow,
                              ::testing::Values (FixtureBundle { "VST3", "vst3", "FixtureInstrument.vst3",
                                                                 "Contents/x86_64-linux/FixtureInstrument.so", "" },
                                                 FixtureBundle { "LV2", "lv2", "FixtureInstrument.lv2", "manifest.ttl",
                                                                 "https://fixtures.example/plugins/FixtureInstrument" }),
                              [] (const auto& row) { return juce::String (row.param.format).toStdString(); });

    //==========================================================================
    // x42's interfaces (URIs with a '#') used to end the host process when
    // their editor opened. Each is opened in a child process, so that a crash
    // fails the test instead of taking the test run down with it.
    constexpr auto childUriVariable = "VELLIX_PREVIEW_CHILD_URI";

    // Run only as that child: it opens the editor, captures it, and says what
    // it got on its last line.
    TEST (PreviewChildRealPluginsSlow, DISABLED_OpenEditorInThisProcess)
    {
        const auto* uri = std::getenv (childUriVariable);
        ASSERT_NE (uri, nullptr);

        juce::AudioPluginFormatManager formats;
        formats.addDefaultFormats();
        auto plugin = createPlugin (formats, "LV2", uri);
        ASSERT_NE (plugin, nullptr);

        ShownEditor shown (std::move (plugin));
        ASSERT_NE (shown.editor, nullptr);

        const auto result = shown.captureWhenDrawn();
        std::cout << "\nPREVIEW " << result.picture.getWidth() << " " << result.picture.getHeight()
                  << " " << (useful (result.picture) ? "useful" : "blank") << std::endl;
    }

    class X42EditorRealPluginsSlow : public ::testing::TestWithParam<const char*>
    {
    protected:
        void SetUp() override
        {
            if (! hasDisplay())
                GTEST_SKIP() << "no X display (run under scripts/headless.sh)";

            juce::AudioPluginFormatManager formats;
            formats.addDefaultFormats();

            if (createPlugin (formats, "LV2", GetParam()) == nullptr)
                GTEST_SKIP() << GetParam() << " is not installed (package x42-plugins)";
        }
    };

    TEST_P (X42EditorRealPluginsSlow, EditorOpensAndIsCapturedWithoutEndingTheProcess)
    {
        setenv (childUriVariable, GetParam(), 1);

        juce::ChildProcess child;
        ASSERT_TRUE (child.start (juce::StringArray {
            juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName(),
            "--gtest_also_run_disabled_tests",
            "--gtest_filter=PreviewChildRealPluginsSlow.DISABLED_OpenEditorInThisProcess" }));

        const auto finished = child.waitForProcessToFinish (60000);

        if (! finished)
            child.kill();

        const auto output = child.readAllProcessOutput();
        unsetenv (childUriVariable);

        // A child ended by a signal reports exit code 0: only its own last
        // words and gtest's verdict prove that it got through.
        ASSERT_TRUE (finished) << output;
        EXPECT_EQ (child.getExitCode(), 0u) << output;
        EXPECT_TRUE (output.contains ("[  PASSED  ] 1 test")) << output;

        const auto line = output.fromLastOccurrenceOf ("PREVIEW ", false, false).upToFirstOccurrenceOf ("\n", false, false);
        const auto fields = juce::StringArray::fromTokens (line, " ", "");
        ASSERT_EQ (fields.size(), 3) << output;
        EXPECT_GT (fields[0].getIntValue(), 0) << output;
        EXPECT_LE (fields[0].getIntValue(), 600) << output;
        EXPECT_EQ (fields[2], "useful") << output;
    }

    INSTANTIATE_TEST_SUITE_P (Lv2, X42EditorRealPluginsSlow,
                              ::testing::Values ("http://gareus.org/oss/lv2/fil4#stereo",
                                                 "http://gareus.org/oss/lv2/tuna#one",
                                                 "http://gareus.org/oss/lv2/darc#stereo"));
}
