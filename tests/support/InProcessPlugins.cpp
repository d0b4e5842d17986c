#include "support/InProcessPlugins.h"

namespace
{
    // Enough for every test's blocks and MIDI; reserved once so that logging
    // never allocates on the rendering thread.
    constexpr size_t logCapacity = 1 << 16;
}

//==============================================================================
InProcessPlugin::InProcessPlugin (const BusesProperties& buses, const juce::String& name, bool isInstrument)
    : juce::AudioPluginInstance (buses),
      pluginName (name),
      instrument (isInstrument)
{
    blocks.reserve (logCapacity);
    midi.reserve (logCapacity);
}

void InProcessPlugin::fillInPluginDescription (juce::PluginDescription& description) const
{
    description.name = pluginName;
    description.descriptiveName = pluginName;
    description.pluginFormatName = "InProcess";
    description.category = instrument ? "Synth" : "Effect";
    description.manufacturerName = "VELLIX tests";
    description.version = "1.0";
    description.fileOrIdentifier = "inprocess:" + pluginName;
    description.uniqueId = description.deprecatedUid = pluginName.hashCode();
    description.isInstrument = instrument;
    description.numInputChannels = getTotalNumInputChannels();
    description.numOutputChannels = getTotalNumOutputChannels();
}

const juce::String InProcessPlugin::getName() const                 { return pluginName; }
double InProcessPlugin::getTailLengthSeconds() const                { return tail; }
bool InProcessPlugin::acceptsMidi() const                           { return instrument; }
bool InProcessPlugin::producesMidi() const                          { return false; }
juce::AudioProcessorEditor* InProcessPlugin::createEditor()         { return nullptr; }
bool InProcessPlugin::hasEditor() const                             { return false; }
int InProcessPlugin::getNumPrograms()                               { return 1; }
int InProcessPlugin::getCurrentProgram()                            { return 0; }
void InProcessPlugin::setCurrentProgram (int)                       {}
const juce::String InProcessPlugin::getProgramName (int)            { return {}; }
void InProcessPlugin::changeProgramName (int, const juce::String&)  {}
void InProcessPlugin::getStateInformation (juce::MemoryBlock&)      {}
void InProcessPlugin::setStateInformation (const void*, int)        {}

void InProcessPlugin::prepareToPlay (double sampleRate, int maximumBlockSize)
{
    ++prepareCount;
    preparedSampleRate = sampleRate;
    preparedBlockSize = maximumBlockSize;
}

void InProcessPlugin::releaseResources()
{
    ++releaseCount;
}

bool InProcessPlugin::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    if (acceptAnyLayout)
        return true;

    const auto output = layouts.getMainOutputChannelSet();
    const auto input = layouts.getMainInputChannelSet();

    if (instrument)
        return input.isDisabled() && (output == juce::AudioChannelSet::mono() || output == juce::AudioChannelSet::stereo());

    return input == juce::AudioChannelSet::stereo() && output == juce::AudioChannelSet::stereo();
}

void InProcessPlugin::clearLogs() noexcept
{
    blocks.clear();
    midi.clear();
    blocksProcessed = 0;
}

std::vector<juce::MidiMessage> InProcessPlugin::midiOfBlock (int block) const
{
    std::vector<juce::MidiMessage> result;

    for (const auto& received : midi)
        if (received.block == block)
            result.push_back (received.message);

    return result;
}

void InProcessPlugin::logBlock (const juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midiMessages) noexcept
{
    const int block = blocksProcessed++;

    if (blocks.size() < blocks.capacity())
        blocks.push_back ({ buffer.getNumSamples(), buffer.getNumChannels() });

    for (const auto metadata : midiMessages)
        if (midi.size() < midi.capacity())
            midi.push_back ({ block, metadata.samplePosition, metadata.getMessage() });
}

//==============================================================================
ImpulseInstrument::ImpulseInstrument() : ImpulseInstrument (Options {}) {}

ImpulseInstrument::ImpulseInstrument (Options o)
    : InProcessPlugin (BusesProperties().withOutput ("Out", o.mono ? juce::AudioChannelSet::mono()
                                                                   : juce::AudioChannelSet::stereo(), true),
                       o.name, true),
      options (std::move (o))
{
    tail = options.tail;
    setLatencySamples (options.latency);
}

void ImpulseInstrument::prepareToPlay (double sampleRate, int maximumBlockSize)
{
    InProcessPlugin::prepareToPlay (sampleRate, maximumBlockSize);
    numPending = 0;
    samplesRendered = 0;
}

void ImpulseInstrument::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages)
{
    logBlock (buffer, midiMessages);

    for (const auto metadata : midiMessages)
    {
        const auto message = metadata.getMessage();

        if (message.isNoteOn() && (options.note < 0 || message.getNoteNumber() == options.note)
            && numPending < (int) pending.size())
            pending[(size_t) numPending++] = samplesRendered + metadata.samplePosition + getLatencySamples();
    }

    const int numSamples = buffer.getNumSamples();
    const int numOutputs = juce::jmin (getTotalNumOutputChannels(), buffer.getNumChannels());

    for (int i = 0; i < numPending;)
    {
        const auto offset = pending[(size_t) i] - samplesRendered;

        if (offset < numSamples)
        {
            for (int channel = 0; channel < numOutputs; ++channel)
                buffer.setSample (channel, (int) offset, buffer.getSample (channel, (int) offset) + options.height);

            pending[(size_t) i] = pending[(size_t) --numPending];
        }
        else
        {
            ++i;
        }
    }

    samplesRendered += numSamples;
}

//==============================================================================
DelayEffect::DelayEffect() : DelayEffect (Options {}) {}

DelayEffect::DelayEffect (Options o)
    : InProcessPlugin (BusesProperties().withInput ("In", juce::AudioChannelSet::stereo(), true)
                                        .withOutput ("Out", juce::AudioChannelSet::stereo(), true),
                       o.name, false),
      gain (o.gain)
{
    tail = o.tail;
    setLatencySamples (o.latency);
}

void DelayEffect::prepareToPlay (double sampleRate, int maximumBlockSize)
{
    InProcessPlugin::prepareToPlay (sampleRate, maximumBlockSize);
    ring.setSize (2, longestDelay + 1);
    ring.clear();
    writePos = 0;
}

void DelayEffect::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages)
{
    logBlock (buffer, midiMessages);

    if (ring.getNumChannels() < 2)
        return;

    // Read each block, so that a latency changed while running takes effect at once.
    const int delay = juce::jlimit (0, longestDelay, getLatencySamples());
    const int size = ring.getNumSamples();
    const float g = gain.load();
    const int channels = juce::jmin (2, buffer.getNumChannels());
    int position = writePos;

    for (int channel = 0; channel < channels; ++channel)
    {
        auto* samples = buffer.getWritePointer (channel);
        auto* stored = ring.getWritePointer (channel);
        position = writePos;

        for (int k = 0; k < buffer.getNumSamples(); ++k)
        {
            stored[position] = samples[k];
            samples[k] = stored[(position - delay + size) % size] * g;
            position = (position + 1) % size;
        }
    }

    writePos = position;
}
