#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"
#include "editor/ChainEditor.h"

ChainProcessor::ChainProcessor()
    : juce::AudioProcessor (BusesProperties().withOutput ("Stereo output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, "PARAMETERS", layout())
{
    pitchWheel.fill (8192);

    gate = std::make_shared<Gate>();
    formatManager.addDefaultFormats();
    gate->owner = this;

    for (int i = 0; i < numSlots; ++i)
        bypassValues[(size_t) i] = parameters.getRawParameterValue ("bypass" + juce::String (i));

    for (int i = 0; i < numLayers; ++i)
    {
        const auto digit = juce::String (i);
        volumeValues[(size_t) i] = parameters.getRawParameterValue ("volume" + digit);
        panValues[(size_t) i] = parameters.getRawParameterValue ("pan" + digit);
        muteValues[(size_t) i] = parameters.getRawParameterValue ("mute" + digit);
        soloValues[(size_t) i] = parameters.getRawParameterValue ("solo" + digit);
    }

    masterValue = parameters.getRawParameterValue ("master");

    startTimerHz (10);
}

ChainProcessor::~ChainProcessor()
{
    stopTimer();

    {
        // Waits for a completion that is running; every later one finds no owner.
        const juce::ScopedLock sl (gate->lock);
        gate->owner = nullptr;
    }

    const juce::ScopedLock sl (lock);

    for (auto& slot : slots)
        slot = Slot();
}

const juce::String ChainProcessor::getName() const  { return "VELLIX"; }
bool ChainProcessor::acceptsMidi() const             { return true; }
bool ChainProcessor::producesMidi() const            { return false; }
bool ChainProcessor::hasEditor() const               { return true; }
int ChainProcessor::getNumPrograms()                 { return 1; }
int ChainProcessor::getCurrentProgram()              { return 0; }
void ChainProcessor::setCurrentProgram (int)         {}

juce::AudioProcessorEditor* ChainProcessor::createEditor()
{
    return new ChainEditor (*this, juce::File());
}

const juce::String ChainProcessor::getProgramName (int)
{
    const juce::ScopedLock sl (lock);
    return name;
}

void ChainProcessor::changeProgramName (int, const juce::String& newName)
{
    const juce::ScopedLock sl (lock);
    name = newName;
}

double ChainProcessor::getTailLengthSeconds() const
{
    const juce::ScopedLock sl (lock);

    // Layers play in parallel, so the longest counts; effects are in series, so theirs add.
    double longestLayer = 0.0;

    for (int i = 0; i < numLayers; ++i)
        if (const auto& hosted = slots[(size_t) i].hosted)
            longestLayer = juce::jmax (longestLayer, hosted->instance->getTailLengthSeconds());

    double effects = 0.0;

    for (int i = numLayers; i < numSlots; ++i)
        if (const auto& hosted = slots[(size_t) i].hosted)
            effects += hosted->instance->getTailLengthSeconds();

    return longestLayer + effects;
}

bool ChainProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    return layouts.getMainInputChannels() == 0
        && layouts.getMainOutputChannelSet() == juce::AudioChannelSet::stereo();
}

void ChainProcessor::timerCallback()
{
    const juce::ScopedTryLock stl (lock);

    if (! stl.isLocked())
        return;

    for (auto& slot : slots)
    {
        if (auto* hosted = slot.hosted.get())
        {
            const int latency = hosted->instance->getLatencySamples();

            if (latency != hosted->latencyDelay.delay)
                hosted->latencyDelay.prepare (latency, blockSize);
        }
    }

    refreshLatency();
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new ChainProcessor();
}
