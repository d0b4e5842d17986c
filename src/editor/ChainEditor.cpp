#include "editor/ChainEditor.h"

ChainEditor::ChainEditor (ChainProcessor& processorToEdit, juce::File)
    : juce::AudioProcessorEditor (processorToEdit),
      processor (processorToEdit)
{
    setResizable (true, true);
    setResizeLimits (980, 720, 1800, 1300);
    setSize (1120, 900);
}

ChainEditor::~ChainEditor()
{
    stopTimer();
}

void ChainEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff20211e));
    g.setColour (juce::Colour (0xffeee0bc));
    g.setFont (juce::Font (27.0f, juce::Font::bold));
    g.drawText ("VELLIX", juce::Rectangle<int> (39, 22, 430, 35), juce::Justification::centredLeft, true);
}

void ChainEditor::resized() {}

void ChainEditor::timerCallback() {}
