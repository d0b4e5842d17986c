// Loading the project's own fixture plug-ins through the real VST3 and LV2
// paths: bus negotiation inside a real wrapper, state handed over before the
// negotiation, tickets and clears with real instances.

#include "LoadingTestSupport.h"

using namespace loading;

namespace
{
    struct FixtureRack : public ::testing::Test
    {
        FixtureRack()
        {
            installFixtureVst3Folder();
            processor = std::make_unique<ChainProcessor>();
            addFixtureLv2Folder (processor->formatManager);
        }

        juce::PluginDescription vst3 (const juce::String& product)
        {
            auto d = describe (processor->formatManager, "VST3", fixtureVst3 (product).getFullPathName());
            EXPECT_TRUE (d.fileOrIdentifier.isNotEmpty()) << "fixture not built: " << product;
            return d;
        }

        juce::PluginDescription lv2 (const juce::String& product)
        {
            auto d = describe (processor->formatManager, "LV2", fixtureLv2Uri (product));
            EXPECT_TRUE (d.fileOrIdentifier.isNotEmpty()) << "fixture not found: " << product;
            return d;
        }

        juce::PluginDescription fixture (const juce::String& format, const juce::String& product)
        {
            return format == "VST3" ? vst3 (product) : lv2 (product);
        }

        SlotView slot (int index) { return viewSlot (*processor, index); }

        std::unique_ptr<ChainProcessor> processor;
    };

    /** Renders one block through the whole rack with an optional note-on at
        the first sample; returns the peak of the output. */
    float renderPeak (ChainProcessor& processor, int numSamples, bool noteOn)
    {
        juce::AudioBuffer<float> buffer (2, numSamples);
        buffer.clear();
        juce::MidiBuffer midi;

        if (noteOn)
            midi.addEvent (juce::MidiMessage::noteOn (1, 60, 0.8f), 0);

        processor.processBlock (buffer, midi);
        return buffer.getMagnitude (0, numSamples);
    }
}

using LoadingFixtures = FixtureRack;

TEST_F (LoadingFixtures, BusNegotiationInsideARealWrapperDecidesWhatIsInstalled)
{
    struct Row
    {
        int slot;
        const char* format;
        const char* product;
        const char* message;    // empty: installed
        int outputChannels;
    };

    // A request for the layout a plug-in already has is granted without
    // asking it, so the refusals need plug-ins that start in another layout.
    const Row rows[] = {
        { 0, "VST3", "FixtureInstrument",     "", 2 },
        { 1, "VST3", "FixtureMonoInstrument", "", 1 },
        { 0, "VST3", "FixtureEffect",         "Choose a MIDI instrument for a synth layer", 0 },
        { 2, "VST3", "FixtureMonoEffect",     "Choose a MIDI instrument for a synth layer", 0 },
        { 4, "VST3", "FixtureInstrument",     "Choose a stereo audio effect for FX", 0 },
        { 5, "VST3", "FixtureMonoInstrument", "Choose a stereo audio effect for FX", 0 },
        { 4, "VST3", "FixtureMonoEffect",     "Effect needs stereo input/output", 0 },
        { 5, "VST3", "FixtureEffect",         "", 2 },
        { 1, "LV2",  "FixtureInstrument",     "", 2 },
        { 4, "LV2",  "FixtureEffect",         "", 2 },
        { 2, "LV2",  "FixtureEffect",         "Choose a MIDI instrument for a synth layer", 0 },
        { 5, "LV2",  "FixtureInstrument",     "Choose a stereo audio effect for FX", 0 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (juce::String (row.format) + " " + row.product + " into slot " + juce::String (row.slot));

        const auto description = fixture (row.format, row.product);
        processor->clear (row.slot);
        processor->load (row.slot, description, {}, false, {});
        ASSERT_TRUE (settle (*processor));

        const auto view = slot (row.slot);
        EXPECT_EQ (view.message, row.message);
        EXPECT_FALSE (view.loading);

        if (juce::String (row.message).isEmpty())
        {
            ASSERT_NE (view.hosted, nullptr);
            EXPECT_EQ (view.hosted->instance->getMainBusNumOutputChannels(), row.outputChannels);
            EXPECT_EQ (view.description.name, description.name);
            EXPECT_EQ (view.description.pluginFormatName, row.format);
        }
        else
        {
            EXPECT_EQ (view.hosted, nullptr);
            EXPECT_EQ (view.description.fileOrIdentifier, description.fileOrIdentifier);
        }

        processor->clear (row.slot);
    }
}

TEST_F (LoadingFixtures, ThePlugInIsRestoredThenPreparedAtTheRacksRateAndBlockSize)
{
    for (const auto* format : { "VST3", "LV2" })
    {
        SCOPED_TRACE (format);
        processor = std::make_unique<ChainProcessor>();
        addFixtureLv2Folder (processor->formatManager);
        processor->prepareToPlay (48000.0, 128);

        const auto description = fixture (format, "FixtureInstrument");
        processor->load (0, description,
                         fixtureHostState (processor->formatManager, description, "latency=\"32\" tail=\"1.5\""),
                         false, {});
        ASSERT_TRUE (settle (*processor));

        const auto view = slot (0);
        ASSERT_NE (view.hosted, nullptr) << view.message;

        // JUCE's LV2 host reads neither latency nor tail before the first block.
        if (juce::String (format) == "VST3")
        {
            EXPECT_EQ (view.hosted->latencyDelay.delay, 32);
            EXPECT_EQ (processor->getLatencySamples(), 32);
            EXPECT_DOUBLE_EQ (processor->getTailLengthSeconds(), 1.5);
        }

        const auto report = fixtureReport (*view.hosted->instance);
        ASSERT_NE (report, nullptr);
        EXPECT_EQ (report->getIntAttribute ("latency"), 32);
        EXPECT_GE (report->getIntAttribute ("prepares"), 1);
        EXPECT_EQ (report->getIntAttribute ("preparedBlock"), 128);
        EXPECT_EQ (report->getDoubleAttribute ("sampleRate"), 48000.0);

        // The note reaches the plug-in and comes out of the rack.
        EXPECT_GT (renderPeak (*processor, 128, true), 0.1f);
        const auto after = fixtureReport (*view.hosted->instance);
        ASSERT_NE (after, nullptr);
        EXPECT_EQ (after->getIntAttribute ("noteOns"), 1);
        processor->releaseResources();
    }
}

TEST_F (LoadingFixtures, WhileTheRackIsNotPreparedARealPlugInIsInstalledUnprepared)
{
    const auto description = vst3 ("FixtureInstrument");
    processor->load (0, description, fixtureHostState (processor->formatManager, description, "latency=\"7\""),
                     false, {});
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (0);
    ASSERT_NE (view.hosted, nullptr) << view.message;
    EXPECT_EQ (view.hosted->buffer.getNumChannels(), 0);
    EXPECT_EQ (view.hosted->latencyDelay.blockSize, 512);

    auto report = fixtureReport (*view.hosted->instance);
    ASSERT_NE (report, nullptr);
    const int preparesBefore = report->getIntAttribute ("prepares");

    // JUCE's VST3 host learns the latency from the plug-in's later notice;
    // the rack's timer then sizes the delay line.
    EXPECT_TRUE (pumpUntil ([&] { const juce::ScopedLock sl (processor->lock);
                                  return view.hosted->latencyDelay.delay == 7; }, 2000));

    processor->prepareToPlay (44100.0, 64);
    report = fixtureReport (*view.hosted->instance);
    EXPECT_EQ (report->getIntAttribute ("prepares"), preparesBefore + 1);
    EXPECT_EQ (report->getIntAttribute ("preparedBlock"), 64);
    EXPECT_EQ (processor->getLatencySamples(), 7);
    processor->releaseResources();
}

TEST_F (LoadingFixtures, OfTwoQuickLoadsOnlyTheSecondRemainsAndTheFirstInstanceIsDeleted)
{
    const auto library = fixtureVst3Library ("FixtureInstrument");
    const auto description = vst3 ("FixtureInstrument");

    const auto first = fixtureHostState (processor->formatManager, description, "latency=\"10\"");
    const auto second = fixtureHostState (processor->formatManager, description, "latency=\"20\"");
    processor->load (0, description, first, false, {});
    processor->load (0, description, second, false, {});
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (0);
    ASSERT_NE (view.hosted, nullptr) << view.message;
    const auto report = fixtureReport (*view.hosted->instance);
    ASSERT_NE (report, nullptr);
    EXPECT_EQ (report->getIntAttribute ("latency"), 20);
    EXPECT_EQ (liveFixtureInstances (library), 1);
}

TEST_F (LoadingFixtures, ClearWhileARealLoadIsPendingLeavesTheSlotEmpty)
{
    const auto library = fixtureVst3Library ("FixtureEffect");

    processor->load (4, vst3 ("FixtureEffect"), {}, true, {});
    processor->clear (4);
    pumpFor (300);

    const auto view = slot (4);
    EXPECT_EQ (view.hosted, nullptr);
    EXPECT_FALSE (view.loading);
    EXPECT_TRUE (view.description.fileOrIdentifier.isEmpty());
    EXPECT_EQ (liveFixtureInstances (library), 0);
}

TEST_F (LoadingFixtures, ARefusedLoadKeepsTheOldPlugInPlayingAndSaysWhy)
{
    processor->prepareToPlay (44100.0, 256);
    const auto instrument = vst3 ("FixtureInstrument");
    processor->load (0, instrument, {}, false, {});
    ASSERT_TRUE (settle (*processor));
    const auto old = slot (0).hosted;
    ASSERT_NE (old, nullptr);

    processor->load (0, vst3 ("FixtureEffect"), {}, true, {});
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (0);
    EXPECT_EQ (view.message, "Choose a MIDI instrument for a synth layer");
    EXPECT_EQ (view.hosted, old);
    EXPECT_EQ (view.description.fileOrIdentifier, instrument.fileOrIdentifier);
    EXPECT_FALSE (view.showEditor);
    EXPECT_GT (renderPeak (*processor, 256, true), 0.1f);
    EXPECT_EQ (liveFixtureInstances (fixtureVst3Library ("FixtureEffect")), 0);
    processor->releaseResources();
}

TEST_F (LoadingFixtures, ABundleThatIsNoLongerInstalledFailsButStaysInTheSlot)
{
    auto missing = vst3 ("FixtureInstrument");
    missing.fileOrIdentifier = fixtureFolder().getChildFile ("vst3/Removed.vst3").getFullPathName();

    processor->load (2, missing, fixtureSettings ("latency=\"3\""), false, juce::MemoryBlock ("png", 3));
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (2);
    EXPECT_EQ (view.message, "No compatible plug-in format exists for this plug-in");
    EXPECT_EQ (view.hosted, nullptr);
    EXPECT_EQ (view.description.fileOrIdentifier, missing.fileOrIdentifier);
    EXPECT_EQ (view.state, fixtureSettings ("latency=\"3\""));
    EXPECT_EQ (view.preview, juce::MemoryBlock ("png", 3));
}

TEST (LoadingFixtureGate, DestroyingTheProcessorWhileRealLoadsArePendingTouchesNothing)
{
    const auto library = fixtureVst3Library ("FixtureInstrument");

    {
        ChainProcessor processor;
        const auto description = describe (processor.formatManager, "VST3",
                                           fixtureVst3 ("FixtureInstrument").getFullPathName());
        ASSERT_TRUE (description.fileOrIdentifier.isNotEmpty());

        for (int i = 0; i < ChainProcessor::numLayers; ++i)
            processor.load (i, description, {}, true, {});
    }

    pumpFor (300);
    EXPECT_EQ (liveFixtureInstances (library), 0);
}
