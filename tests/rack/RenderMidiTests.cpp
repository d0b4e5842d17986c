// What the hosted plug-ins receive from the render: sub-blocks and their MIDI,
// the reset after PANIC or a lost block, and the held pitch bend that a newly
// installed instrument starts with.

#include "rack/LockHolder.h"
#include "rack/RackRendering.h"

#include <chrono>
#include <optional>

namespace
{
    using Clock = std::chrono::steady_clock;

    /** Renders one host block with the given MIDI; returns the output. */
    juce::AudioBuffer<float> renderBlock (ChainProcessor& processor, int numSamples, std::vector<TimedMidi> events = {})
    {
        return renderRack (processor, numSamples, numSamples, events);
    }

    /** The reset that follows PANIC or a lost block: per channel, sustain off,
        all notes off, pitch wheel centred. */
    void expectResetAtStart (const std::vector<InProcessPlugin::ReceivedMidi>& received, int block)
    {
        ASSERT_GE (received.size(), 48u);

        for (int channel = 1; channel <= 16; ++channel)
        {
            SCOPED_TRACE ("channel " + std::to_string (channel));
            const auto& sustain = received[(size_t) (channel - 1) * 3];
            const auto& allOff = received[(size_t) (channel - 1) * 3 + 1];
            const auto& wheel = received[(size_t) (channel - 1) * 3 + 2];

            for (const auto* message : { &sustain, &allOff, &wheel })
            {
                EXPECT_EQ (message->block, block);
                EXPECT_EQ (message->position, 0);
                EXPECT_EQ (message->message.getChannel(), channel);
            }

            EXPECT_TRUE (sustain.message.isController());
            EXPECT_EQ (sustain.message.getControllerNumber(), 64);
            EXPECT_EQ (sustain.message.getControllerValue(), 0);
            EXPECT_TRUE (allOff.message.isAllNotesOff());
            EXPECT_TRUE (wheel.message.isPitchWheel());
            EXPECT_EQ (wheel.message.getPitchWheelValue(), 8192);
        }
    }

    std::vector<InProcessPlugin::ReceivedMidi> midiOf (const InProcessPlugin& plugin, int block)
    {
        std::vector<InProcessPlugin::ReceivedMidi> result;

        for (const auto& received : plugin.midi)
            if (received.block == block)
                result.push_back (received);

        return result;
    }

    struct FullRack
    {
        std::vector<InProcessPlugin*> plugins;
        ImpulseInstrument* firstLayer = nullptr;
    };

    FullRack fillRack (ChainProcessor& processor)
    {
        FullRack rack;

        for (int slot = 0; slot < 4; ++slot)
            rack.plugins.push_back (&installInstrument (processor, slot, { slot == 3, 0, 0.0, -1, 1.0f, "Layer " + juce::String (slot) }));

        rack.plugins.push_back (&installEffect (processor, 4, { 16 }));
        rack.plugins.push_back (&installEffect (processor, 5, { 8 }));
        rack.firstLayer = static_cast<ImpulseInstrument*> (rack.plugins[0]);
        return rack;
    }
}

TEST (RackRenderMidi, HostBlocksAreCutIntoSubBlocksWithTheirMidiShifted)
{
    struct Row
    {
        int prepared, host;
        std::vector<int> subBlocks;
    };

    const Row rows[] = {
        { 512, 1024, { 512, 512 } },
        { 512, 1300, { 512, 512, 276 } },
        { 333, 1000, { 333, 333, 333, 1 } },
        { 512, 200,  { 200 } },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (::testing::Message() << "prepared " << row.prepared << ", host block " << row.host);
        ChainProcessor processor;
        processor.prepareToPlay (48000.0, row.prepared);
        auto rack = fillRack (processor);

        // First block: every plug-in gets its pitch-wheel start-up; not looked at here.
        renderBlock (processor, row.host);

        for (auto* plugin : rack.plugins)
            plugin->clearLogs();

        // One note in every sub-block, a few samples in.
        std::vector<TimedMidi> notes;

        for (int sub = 0; sub < (int) row.subBlocks.size(); ++sub)
            notes.push_back ({ sub * row.prepared + juce::jmin (7 * (sub + 1), row.subBlocks[(size_t) sub] - 1),
                               juce::MidiMessage::noteOn (1, 60 + sub, (juce::uint8) 90) });

        renderBlock (processor, row.host, notes);

        for (auto* plugin : rack.plugins)
        {
            SCOPED_TRACE (plugin->getName().toStdString());
            ASSERT_EQ (plugin->blocks.size(), row.subBlocks.size());

            for (size_t sub = 0; sub < row.subBlocks.size(); ++sub)
                EXPECT_EQ (plugin->blocks[sub].numSamples, row.subBlocks[sub]) << "sub-block " << sub;
        }

        // Every layer hears every note, in the sub-block that holds it, moved to that sub-block's start.
        for (int layer = 0; layer < 4; ++layer)
        {
            const auto& received = rack.plugins[(size_t) layer]->midi;
            ASSERT_EQ (received.size(), notes.size()) << "layer " << layer;

            for (size_t i = 0; i < notes.size(); ++i)
            {
                EXPECT_EQ (received[i].block, (int) i);
                EXPECT_EQ (received[i].position, (int) notes[i].at - (int) i * row.prepared);
                EXPECT_EQ (received[i].message.getNoteNumber(), notes[i].message.getNoteNumber());
            }
        }
    }
}

TEST (RackRenderMidi, PanicReleasesEveryChannelAtTheStartOfTheNextBlockOnly)
{
    ChainProcessor processor;
    processor.prepareToPlay (44100.0, 512);
    auto rack = fillRack (processor);

    // A note held and a pitch bend on channel 5.
    renderBlock (processor, 512, { { 10, juce::MidiMessage::noteOn (1, 64, (juce::uint8) 100) },
                                   { 20, juce::MidiMessage::pitchWheel (5, 12000) } });
    rack.firstLayer->clearLogs();

    // The PANIC button, from the message thread.
    processor.panicRequest.store (true, std::memory_order_release);

    // A host block of two sub-blocks, with a note at sample 0 of each.
    renderBlock (processor, 1024, { { 0, juce::MidiMessage::noteOn (2, 70, (juce::uint8) 100) },
                                    { 512, juce::MidiMessage::noteOn (2, 71, (juce::uint8) 100) } });

    const auto first = midiOf (*rack.firstLayer, 0);
    ASSERT_EQ (first.size(), 49u);
    expectResetAtStart (first, 0);

    // The incoming note at sample 0 comes after the reset.
    EXPECT_EQ (first.back().position, 0);
    EXPECT_EQ (first.back().message.getNoteNumber(), 70);

    const auto second = midiOf (*rack.firstLayer, 1);
    ASSERT_EQ (second.size(), 1u) << "the reset went into the second sub-block too";
    EXPECT_EQ (second[0].message.getNoteNumber(), 71);

    // The request is taken, and the pitch bends are forgotten.
    EXPECT_FALSE (processor.panicRequest.load());

    const juce::ScopedLock sl (processor.lock);

    for (int wheel : processor.pitchWheel)
        EXPECT_EQ (wheel, 8192);
}

TEST (RackRenderMidi, ANewInstrumentStartsWithThePitchBendsHeldNow)
{
    ChainProcessor processor;
    processor.prepareToPlay (48000.0, 256);
    auto& first = installInstrument (processor, 0);

    // Pitch bends on channels 3 and 16 are held; channel 9 bends and then resets its controllers.
    renderBlock (processor, 256, { { 5, juce::MidiMessage::pitchWheel (3, 12000) },
                                   { 6, juce::MidiMessage::pitchWheel (16, 100) },
                                   { 7, juce::MidiMessage::pitchWheel (9, 3000) },
                                   { 8, juce::MidiMessage::controllerEvent (9, 121, 0) } });

    // The first instrument got its start-up sync only once, in its first block.
    renderBlock (processor, 256);
    EXPECT_TRUE (first.midiOfBlock (1).empty());

    auto& second = installInstrument (processor, 2);
    renderBlock (processor, 256, { { 0, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100) } });

    const auto received = second.midiOfBlock (0);
    ASSERT_EQ (received.size(), 17u);

    for (int channel = 1; channel <= 16; ++channel)
    {
        const auto& message = received[(size_t) channel - 1];
        ASSERT_TRUE (message.isPitchWheel());
        EXPECT_EQ (message.getChannel(), channel);
        EXPECT_EQ (message.getPitchWheelValue(), channel == 3 ? 12000 : channel == 16 ? 100 : 8192) << "channel " << channel;
    }

    EXPECT_TRUE (received[16].isNoteOn());
    EXPECT_EQ (second.midi[0].position, 0);

    // The existing layer is not re-synchronised when another slot changes.
    EXPECT_EQ (first.midiOfBlock (2).size(), 1u);

    // Preparing the rack again re-synchronises every layer.
    processor.prepareToPlay (48000.0, 256);
    first.clearLogs();
    renderBlock (processor, 256);
    EXPECT_EQ (first.midiOfBlock (0).size(), 16u);
}

TEST (RackRenderMidi, BlocksThatCannotBeRenderedAreSilentAndRequestAReset)
{
    struct Row
    {
        const char* name;
        int outputChannels;
        bool prepare, releaseAfterwards, withPlugin;
        bool panicExpected;
    };

    const Row rows[] = {
        { "empty rack, stereo output",  2, true,  false, false, false },
        { "one output channel",         1, true,  false, true,  true  },
        { "never prepared",             2, false, false, true,  true  },
        { "released",                   2, true,  true,  true,  true  },
        { "stereo output plus two more", 4, true,  false, true,  false },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        ChainProcessor processor;

        if (row.prepare)
            processor.prepareToPlay (44100.0, 256);

        ImpulseInstrument* layer = row.withPlugin ? &installInstrument (processor, 0) : nullptr;

        if (row.releaseAfterwards)
            processor.releaseResources();

        if (layer != nullptr)
            layer->clearLogs();

        juce::AudioBuffer<float> buffer (row.outputChannels, 256);

        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (channel), 0.3f, 256);

        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
        processor.processBlock (buffer, midi);

        EXPECT_TRUE (midi.isEmpty());
        EXPECT_EQ (processor.panicRequest.load(), row.panicExpected);

        // The rack's own two channels carry the impulse when it plays; anything else is silent.
        const bool plays = ! row.panicExpected && row.withPlugin;

        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        {
            const float expectedFirst = plays && channel < 2 ? 0.5f * 0.7f : 0.0f;
            EXPECT_NEAR (buffer.getSample (channel, 0), expectedFirst, 1.0e-6f) << "channel " << channel;
            EXPECT_EQ (buffer.findMinMax (channel, 1, 255), juce::Range<float>()) << "channel " << channel;
        }

        if (layer != nullptr && row.panicExpected)
        {
            EXPECT_EQ (layer->blocksProcessed.load(), 0);
        }
    }
}

TEST (RackRenderMidi, BusyRackLockGivesASilentBlockAtOnceAndTheNextBlockResets)
{
    ChainProcessor processor;
    processor.prepareToPlay (44100.0, 512);
    auto rack = fillRack (processor);
    renderBlock (processor, 512);
    rack.firstLayer->clearLogs();

    // A slot change holding the rack lock on the message thread.
    auto holder = std::make_optional<LockHolder> (processor.lock);

    juce::AudioBuffer<float> buffer (2, 512);
    buffer.clear();
    juce::FloatVectorOperations::fill (buffer.getWritePointer (0), 0.25f, 512);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 3);

    const auto started = Clock::now();
    processor.processBlock (buffer, midi);
    const auto took = Clock::now() - started;

    holder.reset();

    EXPECT_LT (std::chrono::duration_cast<std::chrono::milliseconds> (took).count(), 100) << "the render waited for the lock";
    EXPECT_EQ (buffer.getMagnitude (0, 512), 0.0f);
    EXPECT_TRUE (midi.isEmpty());
    EXPECT_TRUE (processor.panicRequest.load());
    EXPECT_EQ (rack.firstLayer->blocksProcessed.load(), 0);

    // The next block releases every note, and the lost note is not replayed.
    const auto output = renderBlock (processor, 512);
    const auto received = midiOf (*rack.firstLayer, 0);
    ASSERT_EQ (received.size(), 48u);
    expectResetAtStart (received, 0);
    EXPECT_EQ (output.getMagnitude (0, 512), 0.0f);

    for (auto* plugin : rack.plugins)
        EXPECT_EQ (plugin->blocks.back().numSamples, 512) << plugin->getName();
}

TEST (RackRenderMidi, AnEmptyHostBlockUsesUpNeitherTheResetNorTheKeyboard)
{
    ChainProcessor processor;
    processor.prepareToPlay (44100.0, 256);
    auto& layer = installInstrument (processor, 0);
    renderBlock (processor, 256);
    layer.clearLogs();

    processor.panicRequest.store (true, std::memory_order_release);
    processor.keyboardState.noteOn (1, 60, 1.0f);

    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    processor.processBlock (empty, midi);
    EXPECT_TRUE (processor.panicRequest.load());

    renderBlock (processor, 256);
    const auto received = midiOf (layer, 0);
    ASSERT_EQ (received.size(), 49u);
    expectResetAtStart (received, 0);
    EXPECT_TRUE (received.back().message.isNoteOn());
    EXPECT_EQ (received.back().message.getNoteNumber(), 60);
    EXPECT_FALSE (processor.panicRequest.load());
}
