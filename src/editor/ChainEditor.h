#pragma once

#include "rack/ChainProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The rack's user interface. */
class ChainEditor : public juce::AudioProcessorEditor,
                    private juce::Timer
{
public:
    ChainEditor (ChainProcessor& processorToEdit, juce::File libraryFolder);
    ~ChainEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void timerCallback() override;

    ChainProcessor& processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChainEditor)
};
