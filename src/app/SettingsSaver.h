#pragma once

#include <juce_data_structures/juce_data_structures.h>

/** Writes a settings file whole or not at all.

    JUCE's PropertiesFile writes through a temporary file but misses a write
    that comes up short without an error, which is what the last write to a
    nearly full disk does: the truncated file then replaces the settings, and
    with them the rack kept for the next start. This writes the same XML
    through replaceFileSafely instead, as soon as a value changes and
    whenever asked, and leaves the file never "needing to be saved" in JUCE's
    eyes, so that JUCE's own writing (after a change, and when the settings
    are destroyed) never runs. */
class SettingsSaver : private juce::ChangeListener
{
public:
    /** The options must be those the settings were opened with. */
    SettingsSaver (juce::PropertiesFile& settingsToSave, const juce::PropertiesFile::Options& optionsUsed);
    ~SettingsSaver() override;

    /** Writes the settings if anything changed since they were last written
        (or since a write failed); true when the file holds them. */
    bool saveIfNeeded();

    /** Writes the settings now; false when the file could not be replaced,
        which then keeps its previous content. */
    bool save();

private:
    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    juce::PropertiesFile& settings;
    const juce::PropertiesFile::Options options;
    bool unsaved = false;

    JUCE_DECLARE_NON_COPYABLE (SettingsSaver)
};
