#include "library/RackLibrary.h"
#include "library/SafeFileWriter.h"

#include "hosting/UntrustedText.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>

namespace
{
    const char* const indexName = ".library.xml";
}

RackLibrary::RackLibrary (juce::File libraryFolder)
    : folder (std::move (libraryFolder))
{
    const auto index = UntrustedText::parseXml (folder.getChildFile (indexName));

    if (index == nullptr)
        return;

    const auto auPath = index->getStringAttribute ("auFolder");

    if (juce::File::isAbsolutePath (auPath))
        auFolder = juce::File (auPath);

    // The root's name is not checked: an index written under another name still counts.
    for (auto* child : index->getChildWithTagNameIterator ("FOLDER"))
        folders.addIfNotAlreadyThere (child->getStringAttribute ("path"), false);

    for (auto* child : index->getChildWithTagNameIterator ("FILE"))
        files.addIfNotAlreadyThere (child->getStringAttribute ("path"), false);

    folders.removeEmptyStrings();
    files.removeEmptyStrings();
}

bool RackLibrary::valid (const juce::File& file)
{
    if (! file.existsAsFile() || file.getSize() > maximumSoundSize)
        return false;

    juce::MemoryBlock bytes;

    if (! file.loadFileAsData (bytes) || bytes.getSize() > (size_t) maximumSoundSize)
        return false;

    const auto xml = UntrustedText::xmlFromBinary (bytes.getData(), (int) bytes.getSize());
    return xml != nullptr && xml->hasTagName ("VELLIX");
}

bool RackLibrary::persist()
{
    if (! folder.createDirectory().wasOk())
        return false;

    juce::XmlElement root ("VELLIX_LIBRARY");
    root.setAttribute ("auFolder", auFolder == juce::File() ? juce::String() : auFolder.getFullPathName());

    for (const auto& path : folders)
        root.createNewChildElement ("FOLDER")->setAttribute ("path", path);

    for (const auto& path : files)
        root.createNewChildElement ("FILE")->setAttribute ("path", path);

    juce::MemoryOutputStream text;
    root.writeTo (text, juce::XmlElement::TextFormat());

    return replaceFileSafely (folder.getChildFile (indexName), text.getData(), text.getDataSize());
}

std::vector<juce::File> RackLibrary::racks() const
{
    juce::StringArray paths;

    for (const auto& path : files)
        paths.addIfNotAlreadyThere (path, false);

    auto searched = folders;
    searched.addIfNotAlreadyThere (folder.getFullPathName(), false);

    for (const auto& path : searched)
    {
        if (! juce::File::isAbsolutePath (path))
            continue;

        const juce::File directory (path);

        if (! directory.isDirectory())
            continue;

        for (const auto& entry : juce::RangedDirectoryIterator (directory, false, "*.vellix",
                                                                juce::File::findFiles,
                                                                juce::File::FollowSymlinks::yes))
            paths.addIfNotAlreadyThere (entry.getFile().getFullPathName(), false);
    }

    const auto home = folder.getChildFile (".home.vellix");

    if (valid (home))
        paths.addIfNotAlreadyThere (home.getFullPathName(), false);

    std::vector<juce::File> result;

    for (const auto& path : paths)
    {
        if (! juce::File::isAbsolutePath (path))
            continue;

        const juce::File file (path);

        if (valid (file))
            result.push_back (file);
    }

    std::sort (result.begin(), result.end(), [] (const juce::File& a, const juce::File& b)
    {
        return a.getFileName().compareNatural (b.getFileName(), false) < 0;
    });

    return result;
}
