#include "rack/Hosted.h"

ChainProcessor::Hosted::Hosted (std::unique_ptr<juce::AudioPluginInstance> pluginInstance)
    : instance (std::move (pluginInstance))
{
    jassert (instance != nullptr);
    description = instance->getPluginDescription();
    instance->setPlayHead (&playHead);
}

ChainProcessor::Hosted::~Hosted()
{
    // The play head is declared first so that it outlives the instance; detach
    // it anyway so that nothing can reach it during the instance's teardown.
    if (instance != nullptr)
        instance->setPlayHead (nullptr);
}

void ChainProcessor::Hosted::prepare (double newSampleRate, int newBlockSize)
{
    syncPitchWheel = true;

    instance->setRateAndBufferSizeDetails (newSampleRate, newBlockSize);
    instance->prepareToPlay (newSampleRate, newBlockSize);

    const int channels = juce::jmax (2, instance->getTotalNumInputChannels(),
                                     instance->getTotalNumOutputChannels());

    if (buffer.getNumChannels() != channels || buffer.getNumSamples() != newBlockSize)
        buffer.setSize (channels, newBlockSize);

    buffer.clear();

    latencyDelay.prepare (instance->getLatencySamples(), newBlockSize);
}
