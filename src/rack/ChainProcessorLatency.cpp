#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"

void ChainProcessor::prepareToPlay (double newSampleRate, int maximumExpectedSamplesPerBlock)
{
    const juce::ScopedLock sl (lock);

    if (prepared)
        for (auto& slot : slots)
            if (slot.hosted != nullptr)
                slot.hosted->instance->releaseResources();

    sampleRate.store (newSampleRate);
    blockSize = juce::jmax (1, maximumExpectedSamplesPerBlock);
    prepared = true;

    blockMidi.ensureSize (65536);
    layerMidi.ensureSize (65536);
    effectMidi.ensureSize (4096);

    for (auto& slot : slots)
        if (slot.hosted != nullptr)
            slot.hosted->prepare (newSampleRate, blockSize);

    const int steps = (int) std::floor (newSampleRate * 0.02);
    const bool soloed = anySolo();

    for (int i = 0; i < numLayers; ++i)
    {
        const float gain = level (i, soloed);
        const float pan = rawValue ("pan" + juce::String (i));

        gainLeft[(size_t) i].reset (steps);
        gainRight[(size_t) i].reset (steps);
        gainLeft[(size_t) i].setCurrentAndTargetValue (panLeft (gain, pan));
        gainRight[(size_t) i].setCurrentAndTargetValue (panRight (gain, pan));
    }

    masterGain.reset (steps);
    masterGain.setCurrentAndTargetValue (rawValue ("master"));

    refreshLatency();
}

void ChainProcessor::releaseResources()
{
    const juce::ScopedLock sl (lock);

    prepared = false;

    for (auto& slot : slots)
        if (slot.hosted != nullptr)
            slot.hosted->instance->releaseResources();
}

void ChainProcessor::refreshLatency()
{
    // Layers run in parallel: each is delayed up to the slowest one. Effects run
    // in series, so their latencies add.
    int maxLayer = 0;

    for (int i = 0; i < numLayers; ++i)
        if (const auto& hosted = slots[(size_t) i].hosted)
            maxLayer = juce::jmax (maxLayer, hosted->latencyDelay.delay);

    int effects = 0;

    for (int i = numLayers; i < numSlots; ++i)
        if (const auto& hosted = slots[(size_t) i].hosted)
            effects += hosted->latencyDelay.delay;

    for (int i = 0; i < numLayers; ++i)
    {
        if (const auto& hosted = slots[(size_t) i].hosted)
        {
            auto& align = hosted->alignDelay;
            const int wanted = maxLayer - hosted->latencyDelay.delay;

            // Leaving an unchanged line alone keeps the audio in flight.
            if (align.delay != wanted || align.blockSize != blockSize || align.out.getNumChannels() != 2)
                align.prepare (wanted, blockSize);
        }
    }

    const int total = maxLayer + effects;

    if (total != getLatencySamples())
        setLatencySamples (total);
}
