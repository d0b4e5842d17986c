#include "app/AnalogLook.h"

AnalogLook::AnalogLook() = default;
AnalogLook::~AnalogLook() = default;

void drawAnalogFrame (juce::Graphics& g, juce::Rectangle<int> area, int)
{
    g.setColour (juce::Colour (0xff181a16));
    g.fillRect (area.withZeroOrigin());
}
