#include "rack/ChainProcessor.h"

std::vector<juce::PluginDescription> ChainProcessor::audioUnitCatalogue (const juce::File&, bool) { return {}; }
