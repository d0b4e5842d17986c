#pragma once

#include "rack/ChainProcessor.h"
#include "rack/DelayLine.h"
#include "rack/RackPlayHead.h"

#include <juce_graphics/juce_graphics.h>

/** A plug-in instance in a rack slot, with everything the render needs to run
    it without allocating. Always owned through std::shared_ptr, so that it is
    destroyed on the message thread by whoever lets it go last. */
class ChainProcessor::Hosted
{
public:
    explicit Hosted (std::unique_ptr<juce::AudioPluginInstance> pluginInstance);
    ~Hosted();

    /** Prepares the instance and sizes the render buffer and the latency delay
        line; the caller holds the rack lock. */
    void prepare (double newSampleRate, int newBlockSize);

    RackPlayHead playHead;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    juce::PluginDescription description;
    bool syncPitchWheel = true;
    juce::Image preview;
    DelayLine latencyDelay;
    DelayLine alignDelay;
    juce::AudioBuffer<float> buffer;

private:
    JUCE_DECLARE_NON_COPYABLE (Hosted)
    JUCE_DECLARE_NON_MOVEABLE (Hosted)
};
