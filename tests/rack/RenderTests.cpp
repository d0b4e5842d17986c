// The render end to end with in-process plug-ins: latency alignment, effect
// bypass timing and the mixer, over a table of sample rates and block sizes,
// including odd blocks and host blocks larger than the prepared size.

#include "rack/RackRendering.h"

#include <algorithm>
#include <tuple>

namespace
{
    struct Blocks
    {
        int prepared;   // the block size given to prepareToPlay
        int host;       // the block size the host then renders with
    };

    using GridRow = std::tuple<double, Blocks>;

    class RenderGrid : public ::testing::TestWithParam<GridRow>
    {
    protected:
        double sampleRate() const   { return std::get<0> (GetParam()); }
        int preparedBlock() const   { return std::get<1> (GetParam()).prepared; }
        int hostBlock() const       { return std::get<1> (GetParam()).host; }

        void prepare (ChainProcessor& processor) const
        {
            processor.prepareToPlay (sampleRate(), preparedBlock());
        }

        juce::AudioBuffer<float> render (ChainProcessor& processor, int numSamples, const std::vector<TimedMidi>& events) const
        {
            return renderRack (processor, numSamples, hostBlock(), events);
        }
    };

    TimedMidi noteOn (juce::int64 at, int note, int channel = 1)
    {
        return { at, juce::MidiMessage::noteOn (channel, note, (juce::uint8) 100) };
    }

    std::string gridName (const ::testing::TestParamInfo<GridRow>& info)
    {
        const auto blocks = std::get<1> (info.param);
        return std::to_string ((int) std::get<0> (info.param)) + "Hz_prepared" + std::to_string (blocks.prepared)
             + "_host" + std::to_string (blocks.host);
    }
}

TEST_P (RenderGrid, LayersAndEffectsLineUpWithTheReportedLatency)
{
    ChainProcessor processor;
    prepare (processor);

    // Each layer plays only its own note, so every impulse tells which layer made it.
    auto& fast = installInstrument (processor, 0, { false, 0, 0.0, 60 });
    auto& mono = installInstrument (processor, 1, { true, 128, 0.0, 61 });
    auto& slow = installInstrument (processor, 2, { false, 512, 0.0, 62 });

    {
        const juce::ScopedLock sl (processor.lock);
        EXPECT_EQ (processor.slots[0].hosted->alignDelay.delay, 512);
        EXPECT_EQ (processor.slots[1].hosted->alignDelay.delay, 384);
        EXPECT_EQ (processor.slots[2].hosted->alignDelay.delay, 0);
    }

    EXPECT_EQ (processor.getLatencySamples(), 512);

    installEffect (processor, 4, { 64 });
    installEffect (processor, 5, { 32 });
    EXPECT_EQ (processor.getLatencySamples(), 608);

    // Set while prepared: the gains ramp to these over the first 20 ms.
    setParameter (processor, "volume0", 0.8f);
    setParameter (processor, "volume1", 0.6f);
    setParameter (processor, "pan1", 0.5f);
    setParameter (processor, "volume2", 1.0f);
    setParameter (processor, "pan2", -0.25f);
    setParameter (processor, "master", 1.2f);

    const juce::int64 start = rampSamples (sampleRate()) + 100;
    const juce::int64 t0 = start, t1 = start + 1007, t2 = start + 2013;
    const auto output = render (processor, (int) t2 + 608 + 300, { noteOn (t0, 60), noteOn (t1, 61), noteOn (t2, 62) });

    expectPeaks (output, 0, { { (int) t0 + 608, 0.8f * 1.2f }, { (int) t1 + 608, 0.6f * 0.5f * 1.2f }, { (int) t2 + 608, 1.0f * 1.2f } });
    // The mono layer is heard on the right too.
    expectPeaks (output, 1, { { (int) t0 + 608, 0.8f * 1.2f }, { (int) t1 + 608, 0.6f * 1.2f }, { (int) t2 + 608, 0.75f * 1.2f } });

    // No sub-block was longer than the prepared size.
    for (auto* plugin : { (InProcessPlugin*) &fast, (InProcessPlugin*) &mono, (InProcessPlugin*) &slow })
        for (const auto& block : plugin->blocks)
            ASSERT_LE (block.numSamples, preparedBlock()) << plugin->getName();
}

TEST_P (RenderGrid, BypassedEffectPassesItsInputDelayedByItsOwnLatency)
{
    struct Row { bool bypass1, bypass2; float amplitude; };

    // Effect 1 halves, effect 2 quarters; a bypassed one does neither, and
    // either way the impulse lands on the same sample.
    const Row rows[] = {
        { false, false, 0.5f * 0.25f },
        { true,  false, 0.25f },
        { false, true,  0.5f },
        { true,  true,  1.0f },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (::testing::Message() << "bypass FX1 " << row.bypass1 << ", FX2 " << row.bypass2);
        ChainProcessor processor;
        setParameter (processor, "volume0", 1.0f);
        setParameter (processor, "master", 1.0f);
        setParameter (processor, "bypass4", row.bypass1 ? 1.0f : 0.0f);
        setParameter (processor, "bypass5", row.bypass2 ? 1.0f : 0.0f);
        prepare (processor);

        installInstrument (processor, 0, { false, 100 });
        auto& first = installEffect (processor, 4, { 64, 0.5f });
        auto& second = installEffect (processor, 5, { 32, 0.25f });
        ASSERT_EQ (processor.getLatencySamples(), 196);

        const auto output = render (processor, 1500, { noteOn (333, 60) });
        expectPeaks (output, 0, { { 333 + 196, row.amplitude } });
        expectPeaks (output, 1, { { 333 + 196, row.amplitude } });

        // A bypassed effect still runs, and no effect ever receives MIDI.
        EXPECT_GT (first.blocksProcessed.load(), 0);
        EXPECT_GT (second.blocksProcessed.load(), 0);
        EXPECT_TRUE (first.midi.empty());
        EXPECT_TRUE (second.midi.empty());
    }
}

TEST_P (RenderGrid, MixerTruthTableAfterTheRamp)
{
    // Layer 0 plays note 60 and layer 2 note 62; every other setting is the default.
    struct Row
    {
        const char* name;
        float volume0, pan0;
        bool mute0, solo0, bypass0, solo2;
        float left0, right0, left2, right2;
    };

    const Row rows[] = {
        { "defaults",                 0.5f,  0.0f, false, false, false, false, 0.5f, 0.5f, 0.5f, 0.5f },
        { "volume 1, pan +0.5",       1.0f,  0.5f, false, false, false, false, 0.5f, 1.0f, 0.5f, 0.5f },
        { "volume 1, pan -1",         1.0f, -1.0f, false, false, false, false, 1.0f, 0.0f, 0.5f, 0.5f },
        { "mute",                     1.0f,  0.0f, true,  false, false, false, 0.0f, 0.0f, 0.5f, 0.5f },
        { "solo",                     1.0f,  0.0f, false, true,  false, false, 1.0f, 1.0f, 0.0f, 0.0f },
        { "solo on another layer",    1.0f,  0.0f, false, false, false, true,  0.0f, 0.0f, 0.5f, 0.5f },
        { "solo and mute: mute wins", 1.0f,  0.0f, true,  true,  false, false, 0.0f, 0.0f, 0.0f, 0.0f },
        { "layer bypass",             1.0f,  0.0f, false, false, true,  false, 0.0f, 0.0f, 0.5f, 0.5f },
    };

    constexpr float master = 1.5f;

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        ChainProcessor processor;
        prepare (processor);
        auto& layer0 = installInstrument (processor, 0, { false, 0, 0.0, 60 });
        installInstrument (processor, 2, { false, 0, 0.0, 62 });

        setParameter (processor, "volume0", row.volume0);
        setParameter (processor, "pan0", row.pan0);
        setParameter (processor, "mute0", row.mute0 ? 1.0f : 0.0f);
        setParameter (processor, "solo0", row.solo0 ? 1.0f : 0.0f);
        setParameter (processor, "bypass0", row.bypass0 ? 1.0f : 0.0f);
        setParameter (processor, "solo2", row.solo2 ? 1.0f : 0.0f);
        setParameter (processor, "master", master);

        const int t0 = rampSamples (sampleRate()) + 50, t2 = t0 + 500;
        const auto output = render (processor, t2 + 200, { noteOn (t0, 60), noteOn (t2, 62) });

        std::vector<Peak> left, right;

        for (const auto& [at, l, r] : { std::tuple<int, float, float> { t0, row.left0, row.right0 },
                                        std::tuple<int, float, float> { t2, row.left2, row.right2 } })
        {
            if (l != 0.0f)  left.push_back ({ at, l * master });
            if (r != 0.0f)  right.push_back ({ at, r * master });
        }

        expectPeaks (output, 0, left);
        expectPeaks (output, 1, right);

        // A silenced layer still plays and still hears the MIDI.
        EXPECT_TRUE (std::any_of (layer0.midi.begin(), layer0.midi.end(), [] (const auto& received)
        {
            return received.message.isNoteOn() && received.message.getNoteNumber() == 60;
        }));
    }
}

TEST_P (RenderGrid, GainsRampLinearlyOverTwentyMilliseconds)
{
    ChainProcessor processor;
    setParameter (processor, "volume0", 0.0f);
    setParameter (processor, "master", 1.0f);
    prepare (processor);
    installInstrument (processor, 0);

    // From 0 to 1, one step per sample from the first block after the change.
    setParameter (processor, "volume0", 1.0f);
    const int steps = rampSamples (sampleRate());
    ASSERT_EQ (steps, (int) (sampleRate() / 50));

    std::vector<TimedMidi> notes;
    std::vector<Peak> expected;

    for (int k : { steps / 4, steps / 2 - 1, steps - 2, steps - 1, steps + 10 })
    {
        notes.push_back (noteOn (k, 60));
        expected.push_back ({ k, juce::jmin (1.0f, (float) (k + 1) / (float) steps) });
    }

    const auto output = render (processor, steps + 100, notes);
    const auto actual = peaksOf (output, 0);
    ASSERT_EQ (actual.size(), expected.size()) << describe (actual);

    for (size_t i = 0; i < actual.size(); ++i)
    {
        EXPECT_EQ (actual[i].sample, expected[i].sample);
        EXPECT_NEAR (actual[i].value, expected[i].value, 1.0e-4f) << "at " << actual[i].sample;
    }
}

INSTANTIATE_TEST_SUITE_P (RackRender, RenderGrid,
                          ::testing::Combine (::testing::Values (44100.0, 48000.0, 96000.0),
                                              ::testing::Values (Blocks { 1, 1 }, Blocks { 64, 64 }, Blocks { 333, 333 },
                                                                 Blocks { 512, 512 }, Blocks { 1024, 1024 },
                                                                 Blocks { 512, 1300 }, Blocks { 64, 1000 },
                                                                 Blocks { 1024, 333 })),
                          gridName);
