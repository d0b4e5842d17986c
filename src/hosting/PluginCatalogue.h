#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <map>
#include <optional>
#include <vector>

/** Where the picker's plug-ins come from on a system without Audio Units,
    and the listing of the installed VST3 and LV2 plug-ins there.

    Nothing here loads plug-in code into the application's process:
    - LV2 plug-ins are described from their bundles' Turtle files through
      JUCE's LV2 format;
    - a VST3 bundle is described from its Contents/Resources/moduleinfo.json
      when it has one, otherwise by the helper executable "vellix-plugin-scan"
      in a process of its own, stopped after a time limit. A bundle that
      crashes or hangs the helper is left out.
    Describing LV2 plug-ins and running the helper are slow, so the answers
    (the helper's failures too) are kept in a cache file, keyed by bundle and
    modification time; a start only examines the bundles that changed.

    Runs on the message thread.
*/
class PluginCatalogue
{
public:
    struct Locations
    {
        /** Component folders read for Audio Units (their property lists). */
        juce::Array<juce::File> componentFolders;

        /** Folders whose .vst3 bundles are listed, searched recursively. */
        juce::Array<juce::File> vst3Folders;

        /** Folders whose .lv2 bundles are listed (bundles lie directly in them). */
        juce::Array<juce::File> lv2Folders;

        /** The description cache. */
        juce::File cacheFile;

        /** The helper that examines a VST3 bundle without moduleinfo.json. */
        juce::File scanHelper;

        /** How long the helper may take over one bundle. */
        int scanTimeoutMs = 5000;

        /** The folders of a standard installation: the macOS component
            folders, JUCE's default VST3 and LV2 folders, the cache next to
            the settings and the helper next to the running executable. */
        static Locations standard();
    };

    /** The locations the rack uses; tests point them at their own folders. */
    static Locations& locations();

    explicit PluginCatalogue (Locations);
    ~PluginCatalogue();

    /** The installed VST3 and LV2 instruments (or effects), in no particular
        order. Reads and updates the cache. */
    std::vector<juce::PluginDescription> listInstalled (bool instruments);

    //==============================================================================
    /** The VST3 plug-ins that a bundle's moduleinfo.json describes; nothing
        when the text cannot be used (then the bundle is examined instead). */
    static std::optional<std::vector<juce::PluginDescription>> readModuleInfo (const juce::String& json,
                                                                                const juce::File& bundle);

    /** The descriptions in the helper's answer; nothing when the answer is
        incomplete or not the helper's. */
    static std::optional<std::vector<juce::PluginDescription>> readScanOutput (const juce::String& xml);

    /** The helper's answer for descriptions it found. */
    static juce::String writeScanOutput (const juce::OwnedArray<juce::PluginDescription>& found);

private:
    struct Entry
    {
        juce::String stamp;
        bool failed = false;
        std::vector<juce::PluginDescription> plugins;
    };

    using Cache = std::map<juce::String, Entry>;   // keyed by format and bundle path

    void listLV2 (std::vector<juce::PluginDescription>& out);
    void listVST3 (std::vector<juce::PluginDescription>& out);
    struct Examination
    {
        bool ran = false;                                              // false: no answer about the bundle at all
        std::optional<std::vector<juce::PluginDescription>> plugins;  // empty: it crashed, hung or answered badly
    };

    Examination examineWithHelper (const juce::File& bundle) const;

    void loadCache();
    void saveCache() const;

    Locations locationsInUse;
    Cache cache, current;
    bool cacheChanged = false;
};
