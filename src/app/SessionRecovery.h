#pragma once

#include <juce_core/juce_core.h>

/** Turns the rack left in the settings by the previous session ("filterState")
    into a "Recovered session <date time>.vellix" file in the sounds folder, so
    that every start begins with an empty rack. When the file cannot be
    written, the text is kept under "previousRackState". "filterState" is
    removed in every case. */
void preserveRackBeforeEmptyStartup (juce::PropertySet& settings, const juce::File& soundsFolder);
