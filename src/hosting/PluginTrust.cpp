#include "hosting/PluginTrust.h"
#include "library/SafeFileWriter.h"

#include <climits>
#include <cstdlib>

namespace
{
    /** An approvals file is a short list; anything larger is not ours. */
    constexpr juce::int64 maximumApprovalsSize = 1024 * 1024;

    struct Settings
    {
        juce::CriticalSection lock;
        juce::Array<juce::File> extraFolders;
        juce::File approvals { juce::File ("~/.VELLIX").getChildFile ("approved-plugins.txt") };
    };

    Settings& settings()
    {
        static Settings instance;
        return instance;
    }

    juce::String realPath (const juce::String& path)
    {
        char buffer[PATH_MAX + 1] = {};

        if (::realpath (path.toRawUTF8(), buffer) == nullptr)
            return {};

        return juce::CharPointer_UTF8 (buffer);
    }

    bool isInside (const juce::String& path, const juce::String& folder)
    {
        if (folder.isEmpty() || path.isEmpty())
            return false;

        if (folder == "/")
            return path.length() > 1;

        return path.startsWith (folder + "/") && path.length() > folder.length() + 1;
    }

    juce::StringArray approvedPaths()
    {
        const auto file = PluginTrust::approvalsFile();

        if (! file.existsAsFile() || file.getSize() > maximumApprovalsSize)
            return {};

        juce::StringArray lines;
        lines.addLines (file.loadFileAsString());
        lines.trim();
        lines.removeEmptyStrings();
        return lines;
    }

    /** Identifiers that the formats would open as files. */
    bool looksLikePath (const juce::String& identifier)
    {
        return identifier.startsWithChar ('/') || identifier.startsWithChar ('~')
            || identifier.startsWithIgnoreCase ("file:");
    }

    bool hasDotParts (const juce::String& path)
    {
        juce::StringArray parts;
        parts.addTokens (path, "/", {});
        return parts.contains (".") || parts.contains ("..");
    }

    /** Inside the folder as the path reads (the folder's owner put whatever
        links lie below it there), or inside it once both are resolved. */
    bool isInsideFolder (const juce::String& path, const juce::File& folder)
    {
        const auto written = folder.getFullPathName();

        if (! hasDotParts (path) && isInside (path, written))
            return true;

        const auto resolved = PluginTrust::resolvedPath (path);
        return resolved.isNotEmpty() && isInside (resolved, PluginTrust::resolvedPath (written));
    }
}

juce::String PluginTrust::openedPath (const juce::String& identifier)
{
    // A leading '~' is what JUCE's File expands; anything else relative would
    // be taken from the current folder, which a sound file cannot vouch for.
    if (! (identifier.startsWithChar ('/') || identifier.startsWith ("~/") || identifier == "~"))
        return {};

    // JUCE removes most '.' and '..' parts by their text before the system
    // sees the path; this is the path the format opens.
    return juce::File (identifier).getFullPathName();
}

juce::String PluginTrust::resolvedPath (const juce::String& path)
{
    if (! path.startsWithChar ('/'))
        return {};

    auto full = path;

    // The part of the path that exists is resolved by the system; the rest
    // cannot hold links, only names, and is appended as written.
    juce::StringArray missing;

    for (;;)
    {
        const auto resolved = realPath (full);

        if (resolved.isNotEmpty())
        {
            auto result = resolved;

            for (int i = missing.size(); --i >= 0;)
            {
                const auto& part = missing[i];

                if (part.isEmpty())
                    continue;

                if (part == "." || part == "..")
                    return {};

                result = (result == "/" ? juce::String() : result) + "/" + part;
            }

            return result;
        }

        const auto slash = full.lastIndexOfChar ('/');

        if (slash < 0)
            return {};

        missing.add (full.substring (slash + 1));
        full = slash == 0 ? juce::String ("/") : full.substring (0, slash);
    }
}

juce::Array<juce::File> PluginTrust::pluginFolders()
{
    juce::Array<juce::File> folders { juce::File ("~/.vst3"), juce::File ("/usr/lib/vst3"), juce::File ("/usr/local/lib/vst3") };

    const juce::ScopedLock sl (settings().lock);
    folders.addArray (settings().extraFolders);
    return folders;
}

void PluginTrust::addPluginFolder (const juce::File& folder)
{
    const juce::ScopedLock sl (settings().lock);
    settings().extraFolders.addIfNotAlreadyThere (folder);
}

juce::File PluginTrust::approvalsFile()
{
    const juce::ScopedLock sl (settings().lock);
    return settings().approvals;
}

void PluginTrust::setApprovalsFile (const juce::File& file)
{
    const juce::ScopedLock sl (settings().lock);
    settings().approvals = file;
}

void PluginTrust::approve (const juce::File& bundle)
{
    const auto path = resolvedPath (bundle.getFullPathName());

    if (path.isEmpty())
        return;

    auto lines = approvedPaths();

    if (lines.contains (path))
        return;

    lines.add (path);
    const auto text = lines.joinIntoString ("\n") + "\n";
    const auto file = approvalsFile();

    // Losing a record only means the sound asks for the bundle again; a
    // broken list would lose all of them, hence the safe replacement.
    if (file.getParentDirectory().createDirectory().wasOk())
        replaceFileSafely (file, text.toRawUTF8(), text.getNumBytesAsUTF8());
}

juce::String PluginTrust::refusal (const juce::PluginDescription& description)
{
    const auto& identifier = description.fileOrIdentifier;

    // JUCE's LV2 host creates only plug-ins of the bundles it found in the
    // installed folders, by URI; an identifier never makes it read a bundle.
    if (description.pluginFormatName == "LV2")
        return {};

    // Every other format that reads a file is held to the plug-in folders; an
    // identifier that is no path (an Audio Unit code, an in-process format)
    // is left to its format.
    if (! description.pluginFormatName.equalsIgnoreCase ("VST3") && ! looksLikePath (identifier))
        return {};

    const auto path = openedPath (identifier);

    if (path.isEmpty())
        return outsideFoldersMessage;

    for (const auto& folder : pluginFolders())
        if (isInsideFolder (path, folder))
            return {};

    if (const auto resolved = resolvedPath (path); resolved.isNotEmpty())
        for (const auto& approved : approvedPaths())
            if (resolved == approved || isInside (resolved, approved))
                return {};

    return outsideFoldersMessage;
}
