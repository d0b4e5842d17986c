#pragma once

// Plug-ins that live inside the test process, for engine tests and the render
// benchmark: full introspection, no files. An impulse instrument and a pure
// delay effect; both log what the host did to them into storage reserved up
// front, so that rendering them allocates nothing.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

/** What every in-process plug-in shares: a description, the programs and
    state a host asks about, counters of preparations and releases, and logs
    of the blocks and MIDI it was given. */
class InProcessPlugin : public juce::AudioPluginInstance
{
public:
    struct ReceivedMidi
    {
        int block;              // index of the processBlock call, from 0
        int position;           // sample position inside that block
        juce::MidiMessage message;
    };

    struct ReceivedBlock
    {
        int numSamples;
        int numChannels;
    };

    InProcessPlugin (const BusesProperties& buses, const juce::String& name, bool isInstrument);

    void fillInPluginDescription (juce::PluginDescription& description) const override;
    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void releaseResources() override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int) override;
    const juce::String getProgramName (int) override;
    void changeProgramName (int, const juce::String&) override;
    void getStateInformation (juce::MemoryBlock&) override;
    void setStateInformation (const void*, int) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;
    using juce::AudioPluginInstance::processBlock;

    /** Forgets the logged blocks and MIDI (the reserved space stays). */
    void clearLogs() noexcept;

    /** The MIDI of one block, in the order received. */
    std::vector<juce::MidiMessage> midiOfBlock (int block) const;

    const juce::String pluginName;
    const bool instrument;
    double tail = 0.0;

    /** Lets the test give the plug-in more channels after it was prepared. */
    bool acceptAnyLayout = false;

    std::atomic<int> prepareCount { 0 };
    std::atomic<int> releaseCount { 0 };
    std::atomic<int> blocksProcessed { 0 };
    double preparedSampleRate = 0.0;
    int preparedBlockSize = 0;

    std::vector<ReceivedBlock> blocks;
    std::vector<ReceivedMidi> midi;

protected:
    /** Logs the block and its MIDI; the logs stop growing at their reserved size. */
    void logBlock (const juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midiMessages) noexcept;
};

/** A unit impulse at each note-on, `latency` samples later, which is also the
    latency it reports. It plays every note, or only `note` when that is set. */
class ImpulseInstrument : public InProcessPlugin
{
public:
    struct Options
    {
        bool mono = false;
        int latency = 0;
        double tail = 0.0;
        int note = -1;
        float height = 1.0f;
        juce::String name { "Impulse" };
    };

    ImpulseInstrument();
    explicit ImpulseInstrument (Options options);

    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    using InProcessPlugin::processBlock;

    const Options options;

private:
    // Absolute sample times of impulses still to come.
    std::array<juce::int64, 256> pending {};
    int numPending = 0;
    juce::int64 samplesRendered = 0;
};

/** A stereo effect that delays its input by the latency it reports (which the
    test may change while it runs) and scales it by `gain`. */
class DelayEffect : public InProcessPlugin
{
public:
    struct Options
    {
        int latency = 0;
        float gain = 1.0f;
        double tail = 0.0;
        juce::String name { "Delay" };
    };

    static constexpr int longestDelay = 1 << 15;

    DelayEffect();
    explicit DelayEffect (Options options);

    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    using InProcessPlugin::processBlock;

    std::atomic<float> gain;

private:
    juce::AudioBuffer<float> ring;
    int writePos = 0;
};

/** Puts a plug-in into a slot the way a finished load does: wrapped in a
    hosted plug-in, prepared when the rack is, swapped in under the rack lock,
    latencies refreshed. Returns the plug-in, which the slot now owns. */
template <typename Plugin>
Plugin& installPlugin (ChainProcessor& processor, int slot, std::unique_ptr<Plugin> plugin)
{
    auto& result = *plugin;
    auto hosted = std::make_shared<ChainProcessor::Hosted> (std::move (plugin));
    std::shared_ptr<ChainProcessor::Hosted> previous;
    const juce::ScopedLock sl (processor.lock);

    if (processor.prepared)
        hosted->prepare (processor.sampleRate.load(), processor.blockSize);
    else
        hosted->latencyDelay.prepare (hosted->instance->getLatencySamples(), processor.blockSize);

    previous = std::exchange (processor.slots[(size_t) slot].hosted, hosted);
    processor.slots[(size_t) slot].description = hosted->description;
    processor.refreshLatency();
    return result;
}

inline ImpulseInstrument& installInstrument (ChainProcessor& processor, int slot, ImpulseInstrument::Options options = {})
{
    return installPlugin (processor, slot, std::make_unique<ImpulseInstrument> (std::move (options)));
}

inline DelayEffect& installEffect (ChainProcessor& processor, int slot, DelayEffect::Options options = {})
{
    return installPlugin (processor, slot, std::make_unique<DelayEffect> (std::move (options)));
}
