// The built application started for real on the current (virtual) display,
// each time with a home folder of its own: the settings file, the quit
// sequence, the recovered session file, a killed session, a second launch,
// the window's size limits and a quit while the audio/MIDI settings dialog
// is open.
//
// Windows are found and closed through the window manager (xdotool, wmctrl),
// as a user would. Every wait is bounded; a hanging application is killed so
// that the test fails instead of blocking the run.

#include <gtest/gtest.h>
#include <juce_data_structures/juce_data_structures.h>
#include <juce_graphics/juce_graphics.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace
{
    using Clock = std::chrono::steady_clock;

    juce::File applicationBinary()
    {
       #ifdef VELLIX_APP_PATH
        return juce::File (VELLIX_APP_PATH);
       #else
        return {};
       #endif
    }

    /** Runs a helper tool and returns its standard output. */
    juce::String runTool (const juce::StringArray& arguments, int timeoutMs = 5000)
    {
        juce::ChildProcess tool;

        if (! tool.start (arguments, juce::ChildProcess::wantStdOut))
            return {};

        auto output = tool.readAllProcessOutput();
        tool.waitForProcessToFinish (timeoutMs);
        return output;
    }

    bool toolsAvailable()
    {
        return juce::File ("/usr/bin/xdotool").existsAsFile() && juce::File ("/usr/bin/wmctrl").existsAsFile();
    }

    /** Visible windows titled exactly "VELLIX", of one process or of all. */
    juce::StringArray mainWindows (pid_t pid = 0)
    {
        juce::StringArray arguments { "xdotool", "search", "--all", "--onlyvisible" };

        if (pid != 0)
            arguments.addArray ({ "--pid", juce::String (pid) });

        arguments.addArray ({ "--name", "^VELLIX$" });
        return juce::StringArray::fromLines (runTool (arguments).trim());
    }

    juce::StringArray windowsNamed (const juce::String& pattern, pid_t pid)
    {
        auto lines = juce::StringArray::fromLines (runTool ({ "xdotool", "search", "--all", "--onlyvisible", "--pid",
                                                              juce::String (pid), "--name", pattern }).trim());
        lines.removeEmptyStrings();
        return lines;
    }

    /** The window's size, with (outer) or without the window manager's frame. */
    juce::Rectangle<int> windowSize (const juce::String& window, bool outer)
    {
        juce::StringPairArray values;

        for (auto& line : juce::StringArray::fromLines (runTool ({ "xdotool", "getwindowgeometry", "--shell", window })))
            values.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));

        int width = values["WIDTH"].getIntValue();
        int height = values["HEIGHT"].getIntValue();

        if (outer)
        {
            // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
            auto extents = juce::StringArray::fromTokens (runTool ({ "xprop", "-id", window, "_NET_FRAME_EXTENTS" })
                                                              .fromFirstOccurrenceOf ("=", false, false), ",", {});
            extents.trim();

            if (extents.size() == 4)
            {
                width += extents[0].getIntValue() + extents[1].getIntValue();
                height += extents[2].getIntValue() + extents[3].getIntValue();
            }
        }

        return { width, height };
    }

    /** Asks the window manager for a new size and returns the size it gives. */
    juce::Rectangle<int> requestSize (const juce::String& window, int width, int height)
    {
        runTool ({ "xdotool", "windowsize", window, juce::String (width), juce::String (height) });
        std::this_thread::sleep_for (std::chrono::milliseconds (400));
        return windowSize (window, true);
    }

    /** The process that holds the lock by which the application refuses a
        second instance; 0 when nobody does. JUCE keeps that lock file in
        /var/tmp (or /tmp) for the whole machine, whatever the home folder. */
    pid_t instanceLockHolder()
    {
        juce::File folder ("/var/tmp");

        if (! folder.isDirectory())
            folder = juce::File ("/tmp");

        const auto path = folder.getChildFile ("juceAppLock_VELLIX").getFullPathName();
        const int fd = ::open (path.toRawUTF8(), O_RDWR);

        if (fd < 0)
            return 0;

        struct flock query {};
        query.l_type = F_WRLCK;
        query.l_whence = SEEK_SET;
        const bool asked = fcntl (fd, F_GETLK, &query) == 0;
        ::close (fd);

        return asked && query.l_type != F_UNLCK ? query.l_pid : 0;
    }

    /** One run of the application with the given home folder. */
    class ApplicationRun
    {
    public:
        explicit ApplicationRun (juce::File homeToUse) : home (std::move (homeToUse)) {}

        ~ApplicationRun()
        {
            if (running())
                kill (SIGKILL);
        }

        /** Starts the process; false when it could not be spawned. */
        bool spawn()
        {
            juce::StringArray environment;

            for (auto** entry = environ; *entry != nullptr; ++entry)
            {
                const juce::String variable (*entry);

                // The application must find its settings and documents only
                // under the given home.
                if (! variable.startsWith ("HOME=") && ! variable.startsWith ("XDG_"))
                    environment.add (variable);
            }

            environment.add ("HOME=" + home.getFullPathName());

            std::vector<char*> envp;

            for (auto& variable : environment)
                envp.push_back (const_cast<char*> (variable.toRawUTF8()));

            envp.push_back (nullptr);

            const auto path = applicationBinary().getFullPathName();
            const auto log = home.getChildFile ("application.log").getFullPathName();
            char* argv[] = { const_cast<char*> (path.toRawUTF8()), nullptr };

            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init (&actions);
            posix_spawn_file_actions_addopen (&actions, STDOUT_FILENO, log.toRawUTF8(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            posix_spawn_file_actions_adddup2 (&actions, STDOUT_FILENO, STDERR_FILENO);

            const int result = posix_spawn (&pid, path.toRawUTF8(), &actions, nullptr, argv, envp.data());
            posix_spawn_file_actions_destroy (&actions);

            if (result != 0)
            {
                pid = 0;
                return false;
            }

            exited = false;
            return true;
        }

        enum class Start { window, lockHeldElsewhere, failed };

        /** Starts the application and waits for its main window. The instance
            lock is machine-wide, so a run of the application elsewhere (another
            test) makes a start bow out at once: wait for it and start again. */
        Start start (std::chrono::seconds timeout = std::chrono::seconds (120))
        {
            const auto end = Clock::now() + timeout;

            for (;;)
            {
                while (instanceLockHolder() != 0)
                {
                    if (Clock::now() >= end)
                        return Start::lockHeldElsewhere;

                    std::this_thread::sleep_for (std::chrono::milliseconds (100));
                }

                if (! spawn())
                    return Start::failed;

                // A placeholder window comes first and is replaced once the
                // content exists; the main window is the one at the content's size.
                while (running())
                {
                    for (auto& candidate : mainWindows (pid))
                    {
                        if (candidate.isNotEmpty() && windowSize (candidate, false).getWidth() >= 980)
                        {
                            window = candidate;
                            return Start::window;
                        }
                    }

                    if (Clock::now() >= end)
                        return Start::failed;

                    std::this_thread::sleep_for (std::chrono::milliseconds (50));
                }

                // Gone before showing a window: only another instance explains it.
                const auto holder = instanceLockHolder();

                if (holder == 0 || holder == pid)
                    return Start::failed;
            }
        }

        bool running()
        {
            if (pid == 0 || exited)
                return false;

            int status = 0;

            if (waitpid (pid, &status, WNOHANG) == pid)
            {
                exited = true;
                exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
                return false;
            }

            return true;
        }

        /** Waits for the process to end by itself; kills it after the timeout.
            Returns the exit code, or nothing when it had to be killed. */
        std::optional<int> waitForExit (std::chrono::milliseconds timeout)
        {
            const auto end = Clock::now() + timeout;

            while (running())
            {
                if (Clock::now() >= end)
                {
                    kill (SIGKILL);
                    return std::nullopt;
                }

                std::this_thread::sleep_for (std::chrono::milliseconds (20));
            }

            return exitCode;
        }

        void kill (int signal)
        {
            if (! running())
                return;

            ::kill (pid, signal);
            int status = 0;
            waitpid (pid, &status, 0);
            exited = true;
            exitCode = 128 + signal;
        }

        juce::String logTail() const
        {
            const auto text = home.getChildFile ("application.log").loadFileAsString();
            return "\n--- application output ---\n" + text.substring (juce::jmax (0, text.length() - 2000));
        }

        pid_t pid = 0;
        juce::String window;

    private:
        juce::File home;
        bool exited = true;
        int exitCode = -1;
    };

    /** A home folder for the runs of one test, removed afterwards. */
    struct ApplicationSlow : ::testing::Test
    {
        juce::File home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile ("vellix-home", {}, false);

        void SetUp() override
        {
            if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
                GTEST_SKIP() << "needs a display; run under scripts/headless.sh";

            if (! applicationBinary().existsAsFile())
                GTEST_SKIP() << "the application was not built (VELLIX_BUILD_APP off?)";

            if (! toolsAvailable())
                GTEST_SKIP() << "needs xdotool and wmctrl (scripts/install-deps.sh)";

            ASSERT_TRUE (home.createDirectory().wasOk());
        }

        void TearDown() override { home.deleteRecursively(); }

        juce::File settingsFile() const { return home.getChildFile (".VELLIX/VELLIX.settings"); }
        juce::File soundsFolder() const { return home.getChildFile ("Documents/VELLIX/Sounds"); }

        /** The settings as they are on disk now. */
        std::unique_ptr<juce::PropertiesFile> readSettings() const
        {
            juce::PropertiesFile::Options options;
            options.applicationName = "VELLIX";
            options.filenameSuffix = ".settings";
            return std::make_unique<juce::PropertiesFile> (settingsFile(), options);
        }

        juce::Array<juce::File> soundFiles() const
        {
            return soundsFolder().findChildFiles (juce::File::findFiles, false, "*.vellix");
        }

        static void skipBecauseTheLockIsHeld()
        {
            GTEST_SKIP() << "another VELLIX (pid " << instanceLockHolder()
                         << ") has held the single-instance lock for two minutes";
        }

        /** Starts the run and returns its main window; empty (with the test
            failed or skipped) when there is none. */
        juce::String startOrSkip (ApplicationRun& run)
        {
            switch (run.start())
            {
                case ApplicationRun::Start::window:
                    return run.window;

                case ApplicationRun::Start::lockHeldElsewhere:
                    skipBecauseTheLockIsHeld();
                    return {};

                case ApplicationRun::Start::failed:
                    ADD_FAILURE() << "no main window" << run.logTail();
                    return {};
            }

            return {};
        }

        static bool closeWindow (const juce::String& window)
        {
            juce::ChildProcess wmctrl;
            return wmctrl.start (juce::StringArray { "wmctrl", "-i", "-c", window })
                && wmctrl.waitForProcessToFinish (5000)
                && wmctrl.getExitCode() == 0;
        }
    };
}

TEST_F (ApplicationSlow, QuitStoresTheRackAndOnlyTheNextStartRecoversIt)
{
    juce::MemoryBlock storedRack;

    {
        SCOPED_TRACE ("first start");
        ApplicationRun run (home);
        const auto window = startOrSkip (run);

        if (window.isEmpty())
            return;

        // Nothing of a rack is on disk while the first session runs.
        if (settingsFile().existsAsFile())
        {
            EXPECT_FALSE (readSettings()->containsKey ("filterState"));
        }

        EXPECT_TRUE (soundFiles().isEmpty());

        const auto closing = Clock::now();
        ASSERT_TRUE (closeWindow (window));
        const auto code = run.waitForExit (std::chrono::seconds (20));
        ASSERT_TRUE (code.has_value()) << "did not quit after the close request" << run.logTail();
        EXPECT_EQ (*code, 0) << run.logTail();
        std::cout << "[ quit took " << std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - closing).count()
                  << " ms ]" << std::endl;

        ASSERT_TRUE (settingsFile().existsAsFile());
        const auto settings = readSettings();
        EXPECT_TRUE (storedRack.fromBase64Encoding (settings->getValue ("filterState")));
        EXPECT_GT (storedRack.getSize(), 0u);
        EXPECT_FALSE (settings->containsKey ("previousRackState"));
        ASSERT_TRUE (settings->containsKey ("shouldMuteInput"));
        EXPECT_FALSE (settings->getBoolValue ("shouldMuteInput", true));
        EXPECT_TRUE (soundFiles().isEmpty());
    }

    ASSERT_GT (storedRack.getSize(), 0u);
    juce::File recovered;

    {
        SCOPED_TRACE ("start after a quit");
        const auto before = juce::Time (juce::Time::currentTimeMillis() / 1000 * 1000);
        ApplicationRun run (home);
        const auto window = startOrSkip (run);

        if (window.isEmpty())
            return;
        const auto after = juce::Time::getCurrentTime();

        // The removal reaches the disk before the window exists.
        EXPECT_FALSE (readSettings()->containsKey ("filterState"));
        EXPECT_FALSE (readSettings()->containsKey ("previousRackState"));

        const auto files = soundFiles();
        ASSERT_EQ (files.size(), 1);
        recovered = files[0];

        juce::MemoryBlock bytes;
        ASSERT_TRUE (recovered.loadFileAsData (bytes));
        EXPECT_EQ (bytes, storedRack);

        // "Recovered session " and the local time of this start.
        const auto name = recovered.getFileName();
        bool named = false;

        for (auto t = before; t <= after; t = t + juce::RelativeTime::seconds (1))
            named = named || name == "Recovered session " + t.formatted ("%Y-%m-%d %H-%M-%S") + ".vellix";

        EXPECT_TRUE (named) << name;

        // This session ends without a quit request.
        run.kill (SIGKILL);
    }

    {
        SCOPED_TRACE ("start after a killed session");
        ApplicationRun run (home);
        const auto window = startOrSkip (run);

        if (window.isEmpty())
            return;

        const auto files = soundFiles();
        ASSERT_EQ (files.size(), 1);
        EXPECT_EQ (files[0], recovered);

        ASSERT_TRUE (closeWindow (window));
        EXPECT_EQ (run.waitForExit (std::chrono::seconds (20)), std::optional<int> (0)) << run.logTail();
    }
}

TEST_F (ApplicationSlow, SecondLaunchOpensNoSecondWindow)
{
    ApplicationRun first (home);
    const auto window = startOrSkip (first);

    if (window.isEmpty())
        return;

    ASSERT_EQ (instanceLockHolder(), first.pid);

    // A rack left on disk: a second launch that ran its own start would turn
    // it into a recovered file.
    juce::MemoryBlock rack ("left by a session", 17);
    {
        auto settings = readSettings();
        settings->setValue ("filterState", rack.toBase64Encoding());
        ASSERT_TRUE (settings->save());
    }

    ApplicationRun second (home);
    ASSERT_TRUE (second.spawn());
    const auto code = second.waitForExit (std::chrono::seconds (20));
    ASSERT_TRUE (code.has_value()) << "the second launch kept running" << second.logTail();
    EXPECT_EQ (*code, 0) << second.logTail();

    EXPECT_TRUE (soundFiles().isEmpty());
    EXPECT_EQ (readSettings()->getValue ("filterState"), rack.toBase64Encoding());

    EXPECT_TRUE (first.running());
    auto all = mainWindows();
    all.removeEmptyStrings();
    EXPECT_EQ (all.joinIntoString (" "), window);

    ASSERT_TRUE (closeWindow (window));
    EXPECT_EQ (first.waitForExit (std::chrono::seconds (20)), std::optional<int> (0)) << first.logTail();
}

TEST_F (ApplicationSlow, WindowStartsAtTheContentsSizeAndKeepsWithinItsLimits)
{
    ApplicationRun run (home);
    const auto window = startOrSkip (run);

    if (window.isEmpty())
        return;

    // The content's size: the rack editor's plus the 42-pixel header.
    const auto initial = windowSize (window, false);
    EXPECT_EQ (initial.getWidth(), 1120);
    EXPECT_GE (initial.getHeight(), 762);
    EXPECT_LE (initial.getHeight(), 942);

    // The limits hold for the whole window, native title bar included.
    EXPECT_EQ (requestSize (window, 400, 300), juce::Rectangle<int> (980, 762));

    const auto large = requestSize (window, 3000, 2000);
    EXPECT_LE (large.getWidth(), 1800);
    EXPECT_LE (large.getHeight(), 1342);
    EXPECT_GT (large.getWidth(), 1120) << "the window did not grow at all";

    ASSERT_TRUE (closeWindow (window));
    EXPECT_EQ (run.waitForExit (std::chrono::seconds (20)), std::optional<int> (0)) << run.logTail();
}

TEST_F (ApplicationSlow, QuitWithTheSettingsDialogOpenStillQuits)
{
    ApplicationRun run (home);
    const auto window = startOrSkip (run);

    if (window.isEmpty())
        return;

    // "AUDIO / MIDI SETUP" sits at (43, 7, 170, 28) in the window's content.
    const auto end = Clock::now() + std::chrono::seconds (20);
    juce::StringArray dialogs;

    while (dialogs.isEmpty() && Clock::now() < end)
    {
        runTool ({ "xdotool", "mousemove", "--sync", "--window", window, "128", "21", "click", "1" });

        for (int i = 0; i < 20 && dialogs.isEmpty(); ++i)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (50));
            dialogs = windowsNamed ("^Audio/MIDI Settings$", run.pid);
        }
    }

    ASSERT_FALSE (dialogs.isEmpty()) << "the settings dialog did not open" << run.logTail();

    const auto closing = Clock::now();
    ASSERT_TRUE (closeWindow (window));
    const auto code = run.waitForExit (std::chrono::seconds (20));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - closing);

    ASSERT_TRUE (code.has_value()) << "did not quit with the dialog open" << run.logTail();
    EXPECT_EQ (*code, 0) << run.logTail();
    EXPECT_LT (took.count(), 3000) << "the quit retry took too long";

    // A quit without a dialog takes a few tens of milliseconds; this one went
    // through the retry, which cannot come sooner than 100 ms.
    EXPECT_GE (took.count(), 100) << "quit without dismissing the dialog first";
    std::cout << "[ quit with the dialog open took " << took.count() << " ms ]" << std::endl;

    juce::MemoryBlock stored;
    EXPECT_TRUE (stored.fromBase64Encoding (readSettings()->getValue ("filterState")));
    EXPECT_GT (stored.getSize(), 0u);
}
