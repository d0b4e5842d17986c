// The real application under the current (virtual) display: its main window
// at the initial size, kept as a picture in the build folder.

#include "editor/ChainEditor.h"

#include "editor/EditorTestSupport.h"

namespace
{
    juce::File applicationBinary()
    {
        const auto artefacts = juce::File (VELLIX_TEST_BINARY_DIR).getParentDirectory().getChildFile ("src/vellix_artefacts");
        const auto release = artefacts.getChildFile ("Release/VELLIX");

        if (release.existsAsFile())
            return release;

        const auto found = artefacts.findChildFiles (juce::File::findFiles, true, "VELLIX");
        return found.isEmpty() ? juce::File() : found.getFirst();
    }
}

TEST (MainWindowSlow, ScreenshotAtInitialSize)
{
    if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
        GTEST_SKIP() << "needs a display; run under scripts/headless.sh";

    const auto app = applicationBinary();

    if (! app.existsAsFile())
        GTEST_SKIP() << "the application was not built (VELLIX_BUILD_APP off?)";

    const auto script = juce::File (VELLIX_TEST_SOURCE_DIR).getParentDirectory().getChildFile ("scripts/screenshot-app.sh");
    const auto output = juce::File (VELLIX_TEST_BINARY_DIR).getChildFile ("artefacts/main-window.png");
    output.deleteFile();

    // A home of its own, so the run neither reads nor leaves settings and
    // recovered sessions in the user's.
    const auto home = juce::File::createTempFile ("vellix-home");
    ASSERT_TRUE (home.createDirectory());

    // Only one instance of the application runs per machine: while another
    // one (another test, a developer's) holds the lock, ours quits at once.
    // Try again until it gets its turn.
    juce::String log;
    bool shown = false;
    const auto giveUp = juce::Time::getMillisecondCounter() + 120000;

    while (! shown && juce::Time::getMillisecondCounter() < giveUp)
    {
        juce::ChildProcess process;
        ASSERT_TRUE (process.start (juce::StringArray { "/usr/bin/env", "HOME=" + home.getFullPathName(), "bash",
                                                        script.getFullPathName(), app.getFullPathName(),
                                                        output.getFullPathName() },
                                    juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr));
        const bool finished = process.waitForProcessToFinish (90000);
        log = process.readAllProcessOutput();

        if (! finished)
        {
            process.kill();
            break;
        }

        shown = process.getExitCode() == 0;

        if (! shown && ! log.contains ("exited before showing its window"))
            break;

        if (! shown)
            juce::Thread::sleep (2000);
    }

    home.deleteRecursively();
    ASSERT_TRUE (shown) << log;

    const auto shot = juce::ImageFileFormat::loadFrom (output);
    ASSERT_TRUE (shot.isValid()) << output.getFullPathName();

    // Header of 42 pixels above the editor, which starts 1120 wide at the
    // height the display allows.
    const int header = 42;
    EXPECT_EQ (shot.getWidth(), 1120);
    EXPECT_EQ (shot.getHeight(),
               header + ChainEditor::initialHeight (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()));

    // The editor's accent line and its Classic panel face, and the header's
    // panel face from the content's own frame.
    EXPECT_TRUE (editortest::near (shot.getPixelAt (45, header + 61), juce::Colour (0xffd3553d)));
    EXPECT_TRUE (editortest::near (shot.getPixelAt (450, header + 110), juce::Colour (0xff181a16)));
    EXPECT_TRUE (editortest::near (shot.getPixelAt (600, 20), juce::Colour (0xff181a16)));
}
