// The rack processor as a whole: what a new one reports, the bus layouts it
// takes, the tail of a rack of plug-ins, and the timer that follows a hosted
// plug-in's latency.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"
#include "rack/LockHolder.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>

namespace
{
    /** A silent plug-in whose tail and latency the test sets. */
    class TimedPlugin : public juce::AudioPluginInstance
    {
    public:
        explicit TimedPlugin (double tailSeconds = 0.0)
            : juce::AudioPluginInstance (BusesProperties().withOutput ("Out", juce::AudioChannelSet::stereo(), true)),
              tail (tailSeconds)
        {
        }

        void fillInPluginDescription (juce::PluginDescription& d) const override
        {
            d.name = "Timed";
            d.pluginFormatName = "Test";
            d.fileOrIdentifier = "test:timed";
            d.numOutputChannels = 2;
        }

        const juce::String getName() const override { return "Timed"; }
        void prepareToPlay (double, int) override {}
        void releaseResources() override {}
        void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override { buffer.clear(); }
        using juce::AudioPluginInstance::processBlock;
        double getTailLengthSeconds() const override { return tail; }
        bool acceptsMidi() const override { return true; }
        bool producesMidi() const override { return false; }
        juce::AudioProcessorEditor* createEditor() override { return nullptr; }
        bool hasEditor() const override { return false; }
        int getNumPrograms() override { return 1; }
        int getCurrentProgram() override { return 0; }
        void setCurrentProgram (int) override {}
        const juce::String getProgramName (int) override { return {}; }
        void changeProgramName (int, const juce::String&) override {}
        void getStateInformation (juce::MemoryBlock&) override {}
        void setStateInformation (const void*, int) override {}

        double tail;
    };

    std::shared_ptr<ChainProcessor::Hosted> put (ChainProcessor& processor, int slot, double tail = 0.0)
    {
        auto hosted = std::make_shared<ChainProcessor::Hosted> (std::make_unique<TimedPlugin> (tail));
        const juce::ScopedLock sl (processor.lock);
        processor.slots[(size_t) slot].hosted = hosted;
        return hosted;
    }

    void pumpFor (int ms)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
    }
}

TEST (RackProcessor, NewProcessorReportsItsIdentityAndAnEmptyRack)
{
    ChainProcessor processor;
    EXPECT_EQ (processor.getName(), "VELLIX");
    EXPECT_TRUE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_TRUE (processor.hasEditor());
    EXPECT_FALSE (processor.supportsDoublePrecisionProcessing());
    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "Init sound");
    EXPECT_EQ (processor.getLatencySamples(), 0);
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_FLOAT_EQ (processor.viewScale.load(), 0.6f);
    EXPECT_EQ (processor.gate->owner, &processor);

    // One stereo output, enabled, and no input.
    EXPECT_EQ (processor.getBusCount (true), 0);
    ASSERT_EQ (processor.getBusCount (false), 1);
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Stereo output");
    EXPECT_EQ (processor.getBus (false, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE (processor.getBus (false, 0)->isEnabled());

    const juce::ScopedLock sl (processor.lock);

    for (size_t i = 0; i < processor.slots.size(); ++i)
    {
        const auto& slot = processor.slots[i];
        SCOPED_TRACE ("slot " + std::to_string (i));
        EXPECT_EQ (slot.hosted, nullptr);
        EXPECT_FALSE (slot.loading);
        EXPECT_TRUE (slot.message.isEmpty());
        EXPECT_EQ (slot.state.getSize(), 0u);
        EXPECT_EQ (slot.preview.getSize(), 0u);
        EXPECT_EQ (slot.generation, 0);
    }

    EXPECT_EQ (processor.slots.size(), 6u);
}

TEST (RackProcessor, TheSingleProgramIsTheSoundsNameWhateverTheIndex)
{
    ChainProcessor processor;

    for (int index : { 0, 3, -1 })
    {
        const auto newName = "Pad " + juce::String (index);
        processor.changeProgramName (index, newName);

        for (int asked : { 0, 7, -2 })
            EXPECT_EQ (processor.getProgramName (asked), newName) << "renamed with " << index << ", asked " << asked;
    }

    // Asking for another program changes nothing.
    processor.setCurrentProgram (5);
    EXPECT_EQ (processor.getCurrentProgram(), 0);

    const juce::ScopedLock sl (processor.lock);
    EXPECT_EQ (processor.name, "Pad -1");
}

TEST (RackProcessor, AcceptsOnlyAStereoOutputWithoutInput)
{
    using Set = juce::AudioChannelSet;

    struct Row
    {
        const char* name;
        std::optional<Set> input;
        Set output;
        bool accepted;
    };

    const Row rows[] = {
        { "stereo out",              std::nullopt,  Set::stereo(),         true  },
        { "mono out",                std::nullopt,  Set::mono(),           false },
        { "5.1 out",                 std::nullopt,  Set::create5point1(),  false },
        { "no output",               std::nullopt,  Set::disabled(),       false },
        { "stereo in, stereo out",   Set::stereo(), Set::stereo(),         false },
        { "mono in, stereo out",     Set::mono(),   Set::stereo(),         false },
        { "stereo in, mono out",     Set::stereo(), Set::mono(),           false },
    };

    ChainProcessor processor;

    for (const auto& row : rows)
    {
        juce::AudioProcessor::BusesLayout layout;

        if (row.input.has_value())
            layout.inputBuses.add (*row.input);

        layout.outputBuses.add (row.output);
        EXPECT_EQ (processor.checkBusesLayoutSupported (layout), row.accepted) << row.name;
    }

    // The holder asks for a mono output on a device with one channel: refused,
    // and the processor keeps its stereo bus.
    EXPECT_FALSE (processor.setChannelLayoutOfBus (false, 0, juce::AudioChannelSet::mono()));
    EXPECT_EQ (processor.getMainBusNumOutputChannels(), 2);
}

TEST (RackProcessor, TailIsTheLongestLayerPlusBothEffects)
{
    // Tails of slots 0 to 5; nothing means an empty slot.
    using Tail = std::optional<double>;

    struct Row
    {
        const char* name;
        std::array<Tail, 6> tails;
        double expected;
    };

    const Row rows[] = {
        { "empty rack",                    {},                                         0.0  },
        { "layers and effects",            { { 1.0, 3.0, {}, {}, 0.5, 2.0 } },         5.5  },
        { "longest layer is the last",     { { 0.5, {}, {}, 4.0, {}, {} } },           4.0  },
        { "effects in series add",         { { {}, {}, {}, {}, 1.25, 0.5 } },          1.75 },
        { "negative layer counts as 0",    { { -2.0, {}, {}, {}, 1.0, {} } },          1.0  },
        { "effect tail added as reported", { { 1.0, {}, {}, {}, -0.25, {} } },         0.75 },
        { "layers only",                   { { 2.0, 2.5, 1.0, 0.0, {}, {} } },         2.5  },
    };

    for (const auto& row : rows)
    {
        ChainProcessor processor;

        for (int slot = 0; slot < 6; ++slot)
            if (row.tails[(size_t) slot].has_value())
                put (processor, slot, *row.tails[(size_t) slot]);

        EXPECT_DOUBLE_EQ (processor.getTailLengthSeconds(), row.expected) << row.name;
    }
}

TEST (RackProcessor, TimerFollowsAHostedPluginsLatencyButNeverWaitsForTheLock)
{
    ChainProcessor processor;
    processor.prepareToPlay (48000.0, 256);

    auto effect = put (processor, 4);
    auto layer = put (processor, 1);

    {
        const juce::ScopedLock sl (processor.lock);
        effect->prepare (48000.0, 256);
        layer->prepare (48000.0, 256);
        processor.refreshLatency();
    }

    EXPECT_EQ (processor.getLatencySamples(), 0);

    // While another thread holds the rack lock, the ticks pass by.
    auto holder = std::make_optional<LockHolder> (processor.lock);

    const auto started = juce::Time::getMillisecondCounter();
    effect->instance->setLatencySamples (96);
    layer->instance->setLatencySamples (32);
    pumpFor (350);
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 1000u) << "the timer waited for the lock";

    {
        // Read without the lock: the holder thread owns it and nothing else writes.
        EXPECT_EQ (effect->latencyDelay.delay, 0);
        EXPECT_EQ (layer->latencyDelay.delay, 0);
    }

    holder.reset();
    pumpFor (350);

    const juce::ScopedLock sl (processor.lock);
    EXPECT_EQ (effect->latencyDelay.delay, 96);
    EXPECT_EQ (layer->latencyDelay.delay, 32);
    EXPECT_EQ (layer->latencyDelay.blockSize, 256);

    // One layer, so no alignment; the effect adds its own.
    EXPECT_EQ (processor.getLatencySamples(), 32 + 96);
}

TEST (RackProcessor, DestructionClosesTheGateAndLetsGoOfThePlugins)
{
    std::shared_ptr<ChainProcessor::Gate> gate;
    std::weak_ptr<ChainProcessor::Hosted> released;
    std::shared_ptr<ChainProcessor::Hosted> keptByTheEditor;

    {
        ChainProcessor processor;
        gate = processor.gate;
        released = put (processor, 0);
        keptByTheEditor = put (processor, 5);
    }

    EXPECT_EQ (gate->owner, nullptr);
    EXPECT_TRUE (released.expired());
    ASSERT_NE (keptByTheEditor, nullptr);
    EXPECT_NE (keptByTheEditor->instance, nullptr);
}
