#include "hosting/AUFolderCatalogue.h"
#include "hosting/PropertyList.h"

#include <algorithm>
#include <set>

namespace
{
    /** A dictionary entry as text. A number is a four-character code stored
        as an integer, so it reads as its four bytes, most significant first. */
    juce::String value (const PropertyList& dictionary, const juce::String& key)
    {
        const auto& entry = dictionary[key];

        if (entry.isNumber())
        {
            const auto code = entry.getUnsignedValue();
            const char bytes[] { (char) (code >> 24), (char) (code >> 16), (char) (code >> 8), (char) code, 0 };

            // Like text made from a C string: it ends at the first zero byte,
            // and bytes that are not UTF-8 give no text at all.
            const auto length = (int) std::strlen (bytes);

            if (! juce::CharPointer_UTF8::isValidString (bytes, length))
                return {};

            return juce::String::fromUTF8 (bytes, length);
        }

        return entry.exists() ? entry.getText() : juce::String();
    }

    bool isAccepted (const juce::String& type, bool instruments)
    {
        return instruments ? type == "aumu"
                           : (type == "aufx" || type == "aumf");
    }

    void readBundle (const juce::File& bundle, std::vector<juce::PluginDescription>& out, bool instruments)
    {
        const auto plist = PropertyList::readFile (bundle.getChildFile ("Contents/Info.plist"));

        if (! plist.isDictionary() || value (plist, "CFBundleIdentifier") == vellixBundleIdentifier)
            return;

        const auto& components = plist["AudioComponents"];

        if (! components.isArray())
            return;

        for (const auto& component : components.getElements())
        {
            if (! component.isDictionary())
                continue;

            const auto type = value (component, "type");
            const auto subtype = value (component, "subtype");
            const auto manufacturer = value (component, "manufacturer");

            if (! isAccepted (type, instruments) || subtype.length() != 4 || manufacturer.length() != 4)
                continue;

            const auto fullName = value (component, "name");
            const auto colon = fullName.indexOfChar (':');

            juce::PluginDescription description;
            description.name = colon >= 0 ? fullName.substring (colon + 1).trim() : fullName;
            description.descriptiveName = description.name;
            description.pluginFormatName = "AudioUnit";
            description.manufacturerName = colon >= 0 ? fullName.substring (0, colon).trim() : manufacturer;
            description.fileOrIdentifier = juce::String (instruments ? "AudioUnit:Synths/" : "AudioUnit:Effects/")
                                             + type + "," + subtype + "," + manufacturer;
            description.isInstrument = instruments;
            description.numInputChannels = instruments ? 0 : 2;
            description.numOutputChannels = 2;

            if (description.name.isNotEmpty() && ! description.name.containsIgnoreCase ("VELLIX"))
                out.push_back (std::move (description));
        }
    }

    void readFolder (const juce::File& directory, int depth, std::vector<juce::PluginDescription>& out, bool instruments)
    {
        // The top folder is depth 0: seven levels at most.
        if (depth > 6)
            return;

        for (const auto& entry : juce::RangedDirectoryIterator (directory, false, "*", juce::File::findDirectories,
                                                                juce::File::FollowSymlinks::yes))
        {
            const auto child = entry.getFile();
            const bool isBundle = child.hasFileExtension ("component");

            // Links to bundles are read; links to other folders are not
            // followed, which rules out loops.
            if (child.isSymbolicLink() && ! isBundle)
                continue;

            if (isBundle)
                readBundle (child, out, instruments);
            else
                readFolder (child, depth + 1, out, instruments);
        }
    }
}

void sortCatalogue (std::vector<juce::PluginDescription>& catalogue)
{
    std::stable_sort (catalogue.begin(), catalogue.end(), [] (const auto& a, const auto& b)
    {
        return a.name.compareNatural (b.name, false) < 0;
    });
}

std::vector<juce::PluginDescription> readAudioUnitFolder (const juce::File& folder, bool instruments)
{
    std::vector<juce::PluginDescription> found;

    if (folder.isDirectory())
        readFolder (folder, 0, found, instruments);

    sortCatalogue (found);

    std::set<juce::String> seen;
    std::vector<juce::PluginDescription> result;

    for (auto& description : found)
        if (seen.insert (description.fileOrIdentifier).second)
            result.push_back (std::move (description));

    return result;
}
