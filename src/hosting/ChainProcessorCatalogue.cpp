#include "rack/ChainProcessor.h"
#include "hosting/AUFolderCatalogue.h"
#include "hosting/PluginCatalogue.h"

std::vector<juce::PluginDescription> ChainProcessor::audioUnitCatalogue (const juce::File& folder, bool instruments)
{
    if (folder.isDirectory())
        return readAudioUnitFolder (folder, instruments);

    std::vector<juce::PluginDescription> list;
    bool hasAudioUnits = false;

    for (auto* format : formatManager.getFormats())
    {
        if (format->getName() != "AudioUnit")
            continue;

        hasAudioUnits = true;

        for (const auto& identifier : format->searchPathsForPlugins ({}, false, false))
        {
            if (! identifier.contains (instruments ? "Synths/" : "Effects/"))
                continue;

            const auto pluginName = format->getNameOfPluginFromIdentifier (identifier);

            if (pluginName.containsIgnoreCase ("VELLIX"))
                continue;

            juce::PluginDescription description;
            description.name = pluginName;
            description.descriptiveName = pluginName;
            description.pluginFormatName = format->getName();
            description.fileOrIdentifier = identifier;
            description.isInstrument = instruments;
            description.numInputChannels = instruments ? 0 : 2;
            description.numOutputChannels = 2;
            list.push_back (std::move (description));
        }
    }

    const auto& where = PluginCatalogue::locations();

    // The registry lacks manufacturer names; the bundles' property lists have them.
    for (const auto& componentFolder : where.componentFolders)
    {
        for (auto& entry : readAudioUnitFolder (componentFolder, instruments))
        {
            const auto known = std::find_if (list.begin(), list.end(), [&] (const auto& d)
            {
                return d.fileOrIdentifier == entry.fileOrIdentifier;
            });

            if (known == list.end())
                list.push_back (std::move (entry));
            else if (known->manufacturerName.isEmpty())
                known->manufacturerName = entry.manufacturerName;
        }
    }

    // Without Audio Units the picker offers the installed VST3 and LV2 plug-ins.
    if (! hasAudioUnits)
    {
        for (auto& description : PluginCatalogue (where).listInstalled (instruments))
            if (! description.name.containsIgnoreCase ("VELLIX"))
                list.push_back (std::move (description));
    }

    sortCatalogue (list);
    return list;
}
