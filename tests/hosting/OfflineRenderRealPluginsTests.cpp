// vellix-render over Debian's LV2 plug-ins (scripts/install-deps.sh installs
// them when VELLIX_WITH_TEST_PLUGINS=1): a real synthesizer through a real
// delay, rendered by the built tool.

#include "OfflineRenderTestSupport.h"

using namespace loading;
using namespace offline;

TEST (OfflineRenderRealPlugins, ChordsOnARealSynthesizerThroughARealDelayRenderAtFullLength)
{
    if (! renderTool().existsAsFile())
        GTEST_SKIP() << "vellix-render not built";

    if (! juce::File ("/usr/lib/lv2/mda.lv2").exists())
        GTEST_SKIP() << "mda-lv2 (scripts/install-deps.sh with VELLIX_WITH_TEST_PLUGINS=1) not installed";

    Scratch scratch;
    juce::AudioPluginFormatManager manager;
    manager.addDefaultFormats();

    const auto jx10 = describe (manager, "LV2", "http://drobilla.net/plugins/mda/JX10");
    const auto delay = describe (manager, "LV2", "http://drobilla.net/plugins/mda/Delay");
    ASSERT_TRUE (jx10.fileOrIdentifier.isNotEmpty());
    ASSERT_TRUE (delay.fileOrIdentifier.isNotEmpty());

    const auto sound = scratch.file ("jx10.vellix");
    writeSound (sound, { { 0, jx10, {} }, { 4, delay, {} } });

    // Two chords from two tracks, the first starting at 0.2 s.
    const auto midi = scratch.file ("chords.mid");
    writeMidi (midi, { { 0, 0.2, 0.8, 60, 0.8f }, { 0, 0.2, 0.8, 64, 0.8f }, { 0, 0.2, 0.8, 67, 0.8f },
                       { 1, 1.0, 1.5, 57, 0.8f }, { 1, 1.0, 1.5, 60, 0.8f }, { 1, 1.0, 1.5, 64, 0.8f } });

    const auto output = scratch.file ("chords.wav");
    const auto run = runRender ({ sound.getFullPathName(), midi.getFullPathName(), output.getFullPathName(),
                                  "--rate", "44100", "--block", "256", "--tail", "1" }, scratch.file ("home"));
    ASSERT_EQ (run.exitCode, 0) << run.output;
    EXPECT_FALSE (run.output.contains ("rendering without")) << run.output;

    const auto wav = readWav (output);
    ASSERT_EQ (wav.audio.getNumChannels(), 2);
    EXPECT_EQ (wav.audio.getNumSamples(), (int) (1.5 * 44100) + 44100);

    // Nothing before the first chord; each chord sounds; the delay's echoes
    // carry on into the tail.
    EXPECT_LT (wav.audio.getMagnitude (0, 8000), 1.0e-4f);

    for (const auto& [name, from, to] : { std::tuple { "first chord", 0.25, 0.75 },
                                          std::tuple { "second chord", 1.05, 1.45 },
                                          std::tuple { "tail", 1.6, 2.4 } })
    {
        const auto start = (int) (from * 44100);
        const auto length = (int) ((to - from) * 44100);
        EXPECT_GT (wav.audio.getRMSLevel (0, start, length), 0.001f) << name;
        EXPECT_GT (wav.audio.getRMSLevel (1, start, length), 0.001f) << name;
    }

    EXPECT_LE (wav.audio.getMagnitude (0, wav.audio.getNumSamples()), 1.0f);
}
