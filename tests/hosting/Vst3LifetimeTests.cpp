// A JUCE-built VST3 tells its host about a new latency from its own message
// thread, so the notice waits in the host's message queue. Deleting the
// instance before the host handles it (a quick clear, a replacing load, a
// sound opened while plug-ins restore) must leave the next pump harmless.
// Each case runs in a child process, so that a crash fails its test instead
// of ending the whole run.

#include "LoadingTestSupport.h"

#include <cstdlib>
#include <iostream>
#include <thread>

using namespace loading;

namespace
{
    constexpr auto caseVariable = "VELLIX_VST3_LIFETIME_CASE";

    // Long enough for the fixture's own message thread to post its latency
    // notice into our queue; the queue is deliberately not pumped meanwhile.
    void letTheNoticeQueueUp()
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (100));
    }

    bool loadAndWait (ChainProcessor& processor, int slot, const juce::PluginDescription& description, int latency)
    {
        processor.load (slot, description,
                        fixtureHostState (processor.formatManager, description,
                                          "latency=\"" + juce::String (latency) + "\""),
                        false, {});

        // Stops the moment the instance is installed: its notice is still to come.
        return pumpUntil ([&] { return ! isLoading (processor, slot); }, 20000)
            && viewSlot (processor, slot).hosted != nullptr;
    }

    // Run only as that child: deletes an instance in the chosen way while its
    // latency notice is queued, then pumps, and reports on its last line.
    TEST (Vst3LifetimeChild, DISABLED_DeleteWhileALatencyNoticeIsQueued)
    {
        const auto* which = std::getenv (caseVariable);
        ASSERT_NE (which, nullptr);
        const juce::String mode (which);

        installFixtureVst3Folder();
        auto processor = std::make_unique<ChainProcessor>();
        const auto description = describe (processor->formatManager, "VST3",
                                           fixtureVst3 ("FixtureInstrument").getFullPathName());
        ASSERT_TRUE (description.fileOrIdentifier.isNotEmpty()) << "fixture not built";

        // Several rounds, each a fresh instance whose notice is left pending.
        for (int round = 0; round < 5; ++round)
        {
            if (mode == "instance")
            {
                juce::String error;
                auto instance = processor->formatManager.createPluginInstance (description, 44100.0, 512, error);
                ASSERT_NE (instance, nullptr) << error;
                const auto settings = fixtureSettings ("latency=\"" + juce::String (10 + round) + "\"");
                auto state = replaceFixtureState ([&] { juce::MemoryBlock b; instance->getStateInformation (b); return b; }(),
                                                  settings);
                instance->setStateInformation (state.getData(), (int) state.getSize());
                letTheNoticeQueueUp();
                instance.reset();
            }
            else
            {
                ASSERT_TRUE (loadAndWait (*processor, 0, description, 10 + round));
                letTheNoticeQueueUp();

                if (mode == "clear")
                {
                    processor->clear (0);
                }
                else if (mode == "replace")
                {
                    processor->load (0, description, {}, false, {});
                }
                else if (mode == "destroy")
                {
                    processor.reset();
                    processor = std::make_unique<ChainProcessor>();
                }
                else
                {
                    FAIL() << "unknown case " << mode;
                }
            }

            pumpFor (200);
        }

        ASSERT_TRUE (pumpUntil ([&] { return ! isLoading (*processor, 0); }, 20000));
        processor.reset();
        pumpFor (200);
        std::cout << "\nSURVIVED " << mode << std::endl;
    }

    class Vst3Lifetime : public ::testing::TestWithParam<const char*> {};

    TEST_P (Vst3Lifetime, DeletingAnInstanceWithItsLatencyNoticeQueuedDoesNotCrashTheNextPump)
    {
        setenv (caseVariable, GetParam(), 1);

        juce::ChildProcess child;
        ASSERT_TRUE (child.start (juce::StringArray {
            juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName(),
            "--gtest_also_run_disabled_tests",
            "--gtest_filter=Vst3LifetimeChild.DISABLED_DeleteWhileALatencyNoticeIsQueued" }));

        const auto finished = child.waitForProcessToFinish (120000);

        if (! finished)
            child.kill();

        const auto output = child.readAllProcessOutput();
        unsetenv (caseVariable);

        // A child ended by a signal reports exit code 0: only its own last
        // words and gtest's verdict prove that it got through.
        ASSERT_TRUE (finished) << output;
        EXPECT_EQ (child.getExitCode(), 0u) << output;
        EXPECT_TRUE (output.contains ("[  PASSED  ] 1 test")) << output;
        EXPECT_TRUE (output.contains ("SURVIVED " + juce::String (GetParam()))) << output;
    }

    INSTANTIATE_TEST_SUITE_P (Deletions, Vst3Lifetime,
                              ::testing::Values ("instance", "clear", "replace", "destroy"));
}
