// vellix-render end to end: the built tool run as a child process over sounds
// made of the fixture plug-ins, whose instrument outputs its last note-on
// velocity while a note is held, delayed by a latency set through its state.
// That makes every note an exact rectangle in the WAV.

#include "OfflineRenderTestSupport.h"

#include <cmath>

using namespace loading;
using namespace offline;

namespace
{
    struct OfflineRenderTest : public ::testing::Test
    {
        void SetUp() override
        {
            if (! renderTool().existsAsFile())
                GTEST_SKIP() << "vellix-render not built";

            if (! fixtureVst3 ("FixtureInstrument").exists() || ! fixtureVst3 ("FixtureEffect").exists())
                GTEST_SKIP() << "fixture plug-ins not built (tests/fixtures)";
        }

        juce::PluginDescription fixture (const juce::String& product)
        {
            auto d = describe (manager, "VST3", fixtureVst3 (product).getFullPathName());
            EXPECT_TRUE (d.fileOrIdentifier.isNotEmpty()) << "cannot describe " << product;
            return d;
        }

        SlotContent slot (int index, const juce::String& product, const juce::String& settings)
        {
            const auto description = fixture (product);
            return { index, description, fixtureHostState (manager, description, settings) };
        }

        /** A home folder whose approvals name the fixture bundles, as if the
            user had once chosen them from a tile. */
        juce::File approvedHome()
        {
            const auto home = scratch.file ("home");
            const auto previous = PluginTrust::approvalsFile();
            PluginTrust::setApprovalsFile (home.getChildFile (".VELLIX/approved-plugins.txt"));
            PluginTrust::approve (fixtureVst3 ("FixtureInstrument"));
            PluginTrust::approve (fixtureVst3 ("FixtureEffect"));
            PluginTrust::setApprovalsFile (previous);
            return home;
        }

        /** Two layers of different latency and an effect with latency of its
            own; each reports a tail. The rack's latency is 100 + 37 samples,
            its tail 0.25 + 0.5 s. */
        juce::File layeredSound()
        {
            const auto file = scratch.file ("layered.vellix");
            writeSound (file, { slot (0, "FixtureInstrument", "latency=\"100\" tail=\"0.25\""),
                                slot (1, "FixtureInstrument", "latency=\"20\""),
                                slot (4, "FixtureEffect", "latency=\"37\" tail=\"0.5\"") });
            return file;
        }

        /** One note on each of two tracks. */
        juce::File twoTrackMidi()
        {
            const auto file = scratch.file ("two tracks.mid");
            writeMidi (file, { { 0, 0.25, 0.5, 60, 0.5f }, { 1, 0.75, 1.0, 64, 0.5f } });
            return file;
        }

        juce::AudioPluginFormatManager manager;
        Scratch scratch;

        OfflineRenderTest() { manager.addDefaultFormats(); }
    };

    juce::int64 samplesOf (double seconds, double rate)
    {
        return (juce::int64) std::llround (seconds * rate);
    }
}

TEST_F (OfflineRenderTest, NotesOfEveryTrackLandAtTheirOwnTimesWhateverTheLatencyRateAndBlockSize)
{
    const auto sound = layeredSound();
    const auto midi = twoTrackMidi();
    const auto home = approvedHome();

    struct Case { double rate; int block; };

    // Blocks smaller than the rack's latency, odd ones, and ones that do not
    // divide a second.
    for (const auto& c : { Case { 48000.0, 512 }, Case { 44100.0, 64 }, Case { 96000.0, 1000 }, Case { 48000.0, 7 } })
    {
        SCOPED_TRACE ("rate " + std::to_string (c.rate) + ", block " + std::to_string (c.block));
        const auto output = scratch.file ("out.wav");
        output.deleteFile();

        const auto run = runRender ({ sound.getFullPathName(), midi.getFullPathName(), output.getFullPathName(),
                                      "--rate", juce::String (c.rate), "--block", juce::String (c.block) }, home);
        ASSERT_EQ (run.exitCode, 0) << run.output;
        EXPECT_FALSE (run.output.contains ("rendering without")) << run.output;
        EXPECT_TRUE (run.output.contains ("Rendered 1.750 s")) << run.output;
        EXPECT_TRUE (run.output.contains ("dBFS")) << run.output;
        EXPECT_FALSE (run.output.contains ("Rendering [")) << "a progress bar on a pipe: " << run.output;

        const auto wav = readWav (output);
        EXPECT_EQ (wav.sampleRate, c.rate);
        EXPECT_EQ (wav.bitsPerSample, 24u);
        ASSERT_EQ (wav.audio.getNumChannels(), 2);

        // The MIDI part ends with the last note-off at 1 s; the tail follows.
        EXPECT_EQ (wav.audio.getNumSamples(), samplesOf (1.0, c.rate) + samplesOf (0.75, c.rate));

        const std::vector<std::pair<int, int>> expected {
            { (int) samplesOf (0.25, c.rate), (int) samplesOf (0.5, c.rate) },
            { (int) samplesOf (0.75, c.rate), (int) samplesOf (1.0, c.rate) } };
        EXPECT_EQ (soundingRanges (wav.audio), expected);

        // Misaligned layers would show as a step inside a note.
        for (const auto& [start, end] : expected)
        {
            const float level = wav.audio.getSample (0, start);
            EXPECT_GT (level, 0.1f);

            for (int i = start; i < end && i < wav.audio.getNumSamples(); ++i)
            {
                ASSERT_EQ (wav.audio.getSample (0, i), level) << "at sample " << i;
                ASSERT_EQ (wav.audio.getSample (1, i), level) << "at sample " << i;
            }
        }
    }

    EXPECT_EQ (filesIn (scratch.folder), juce::StringArray ({ "home", "layered.vellix", "out.wav", "two tracks.mid" }))
        << "no temporary file may stay behind";
}

TEST_F (OfflineRenderTest, TheTailIsTheRacksOwnAtMostThirtySecondsUnlessGiven)
{
    const auto sound = scratch.file ("long tail.vellix");
    writeSound (sound, { slot (0, "FixtureInstrument", "tail=\"100\"") });
    const auto midi = scratch.file ("note.mid");
    writeMidi (midi, { { 0, 0.5, 1.0, 60, 0.5f } });
    const auto home = approvedHome();
    constexpr double rate = 8000.0;

    struct Case { const char* name; juce::StringArray options; double tail; };

    for (const auto& c : { Case { "the rack's 100 s, capped", {}, 30.0 },
                           Case { "--tail 0.1", { "--tail", "0.1" }, 0.1 },
                           Case { "--tail 0", { "--tail", "0" }, 0.0 } })
    {
        SCOPED_TRACE (c.name);
        const auto output = scratch.file ("out.wav");
        auto arguments = juce::StringArray { sound.getFullPathName(), midi.getFullPathName(), output.getFullPathName(),
                                             "--rate", juce::String (rate) };
        arguments.addArray (c.options);

        const auto run = runRender (arguments, home);
        ASSERT_EQ (run.exitCode, 0) << run.output;

        const auto wav = readWav (output);
        EXPECT_EQ (wav.audio.getNumSamples(), samplesOf (1.0, rate) + samplesOf (c.tail, rate));
    }
}

TEST_F (OfflineRenderTest, PlugInsOutsideThePlugInFoldersAreRefusedAsTheApplicationRefusesThem)
{
    const auto sound = layeredSound();
    const auto midi = twoTrackMidi();
    const auto output = scratch.file ("out.wav");

    // A home without approvals: the fixture bundles lie in the build folder.
    const auto run = runRender ({ sound.getFullPathName(), midi.getFullPathName(), output.getFullPathName() },
                                scratch.file ("stranger"));
    ASSERT_EQ (run.exitCode, 0) << run.output;

    for (const auto* slotName : { "SYNTH 1", "SYNTH 2", "FX 1" })
        EXPECT_TRUE (run.output.contains (juce::String (slotName) + " (Fixture ")) << slotName << ": " << run.output;

    EXPECT_TRUE (run.output.contains (PluginTrust::outsideFoldersMessage)) << run.output;
    EXPECT_TRUE (run.output.contains ("peak -inf dBFS")) << run.output;

    const auto wav = readWav (output);
    EXPECT_EQ (wav.audio.getNumSamples(), 48000) << "an empty rack has no tail";
    EXPECT_EQ (wav.audio.getMagnitude (0, wav.audio.getNumSamples()), 0.0f);
}

TEST_F (OfflineRenderTest, BadInputsAndUnwritableOutputsFailWithoutTouchingTheOutput)
{
    const auto emptySound = scratch.file ("empty.vellix");
    writeSound (emptySound, {});
    const auto notASound = scratch.file ("text.vellix");
    notASound.replaceWithText ("<VELLIX name=\"not binary\"/>");
    const auto midi = twoTrackMidi();
    const auto notMidi = scratch.file ("noise.mid");
    notMidi.replaceWithText ("MThd but not really a MIDI file");

    // An earlier render the failed one must leave alone.
    const auto outputs = scratch.file ("outputs");
    outputs.createDirectory();
    const auto previous = outputs.getChildFile ("previous.wav");
    previous.replaceWithText ("previous render");
    outputs.getChildFile ("a folder.wav").createDirectory();

    struct Case
    {
        const char* name;
        juce::StringArray arguments;
        int exitCode;
        const char* message;
    };

    const auto path = [] (const juce::File& f) { return f.getFullPathName(); };

    const Case cases[] {
        { "missing sound", { path (scratch.file ("missing.vellix")), path (midi), path (previous) }, 1, "no such file" },
        { "invalid sound", { path (notASound), path (midi), path (previous) }, 1, "is not a valid sound" },
        { "unreadable MIDI", { path (emptySound), path (notMidi), path (previous) }, 1, "cannot read MIDI file" },
        { "missing MIDI", { path (emptySound), path (scratch.file ("missing.mid")), path (previous) }, 1, "cannot read MIDI file" },
        { "output in a missing folder", { path (emptySound), path (midi), path (scratch.file ("nowhere/out.wav")) }, 1, "cannot write" },
        { "output is a folder", { path (emptySound), path (midi), path (outputs.getChildFile ("a folder.wav")) }, 1, "it is a folder" },
        { "too few arguments", { path (emptySound), path (midi) }, 2, "usage:" },
        { "block size 0", { path (emptySound), path (midi), path (previous), "--block", "0" }, 2, "--block" },
        { "rate not a number", { path (emptySound), path (midi), path (previous), "--rate", "fast" }, 2, "--rate" },
        { "negative tail", { path (emptySound), path (midi), path (previous), "--tail", "-1" }, 2, "--tail" },
        { "unknown option", { path (emptySound), path (midi), path (previous), "--loud" }, 2, "--loud" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto run = runRender (c.arguments, scratch.file ("home"));
        EXPECT_EQ (run.exitCode, c.exitCode) << run.output;
        EXPECT_TRUE (run.output.contains (c.message)) << run.output;
        EXPECT_EQ (previous.loadFileAsString(), "previous render");
        EXPECT_EQ (filesIn (outputs), juce::StringArray ({ "a folder.wav", "previous.wav" }));
        EXPECT_FALSE (scratch.file ("nowhere").exists());
    }

    // The same sound and MIDI render fine: only the faults above failed.
    const auto run = runRender ({ path (emptySound), path (midi), path (previous) }, scratch.file ("home"));
    EXPECT_EQ (run.exitCode, 0) << run.output;
    EXPECT_EQ (readWav (previous).audio.getNumSamples(), 48000);
    EXPECT_EQ (filesIn (outputs), juce::StringArray ({ "a folder.wav", "previous.wav" }));
}
