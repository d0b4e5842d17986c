#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <vector>

/** The application's own bundle identifier: a component bundle carrying it
    is never listed. */
inline constexpr const char* vellixBundleIdentifier = "org.vellix.app";

/** The Audio Unit instruments (or effects) in the component bundles below a
    folder, read from each bundle's Contents/Info.plist without loading any
    plug-in. Sorted by name, naturally and ignoring case, with no two entries
    sharing an identifier. Empty when the folder is not a directory. */
std::vector<juce::PluginDescription> readAudioUnitFolder (const juce::File& folder, bool instruments);

/** Sorts a catalogue by name, naturally and ignoring case; entries with equal
    names keep their order. */
void sortCatalogue (std::vector<juce::PluginDescription>& catalogue);
