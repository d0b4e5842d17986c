#pragma once

#include "rack/ChainProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>
#include <vector>

/** The mixing panel of the four synth layers: per layer a volume knob, a pan
    knob, "MUTE" and "SOLO", each bound to its parameter. It keeps no state of
    its own; how they combine into a layer's gain is the processor's business. */
class LayerMixer : public juce::Component
{
public:
    explicit LayerMixer (ChainProcessor& processor);
    ~LayerMixer() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Volume as a whole percentage: 0.5 is "50 %". */
    static juce::String volumeText (double value);
    /** The text's leading number divided by 100; 0 without a number. */
    static double volumeValue (const juce::String& text);

    /** "C" near the centre, else the amount with " L" or " R": -0.25 is "25 L". */
    static juce::String panText (double value);
    /** Any C means centre; otherwise the leading number, to the left when the
        text holds an L anywhere ("30 left" is -0.3, "left 30" is 0). */
    static double panValue (const juce::String& text);

    std::array<juce::Slider, ChainProcessor::numLayers> volume;
    std::array<juce::Slider, ChainProcessor::numLayers> pan;
    std::array<juce::ToggleButton, ChainProcessor::numLayers> mute;
    std::array<juce::ToggleButton, ChainProcessor::numLayers> solo;

    // Declared after the controls so that they go first.
    std::vector<std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment>> sliderAttachments;
    std::vector<std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment>> buttonAttachments;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LayerMixer)
};
