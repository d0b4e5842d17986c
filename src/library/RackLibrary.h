#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** The sound library: the index ".library.xml" in the library folder, which
    records the folders and files the user saved or opened sounds in, and the
    list of sounds computed from it on demand. */
class RackLibrary
{
public:
    /** Reads the index of `libraryFolder`; a missing or unreadable index gives
        empty lists. */
    explicit RackLibrary (juce::File libraryFolder);

    /** Whether the file is a sound that can be opened: an existing file of at
        most 16 MiB holding JUCE's binary XML wrapper around a VELLIX document. */
    static bool valid (const juce::File& file);

    /** Writes the index; true when it was written. */
    bool persist();

    /** The current sounds: recorded files, sound files directly inside the
        recorded folders and the library folder, and ".home.vellix", sorted by
        file name in natural order, ignoring case. */
    std::vector<juce::File> racks() const;

    static constexpr juce::int64 maximumSoundSize = 16 * 1024 * 1024;

    juce::File folder;
    juce::File auFolder;
    juce::StringArray folders;
    juce::StringArray files;
};
