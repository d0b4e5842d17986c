#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/** Which plug-ins a stored sound may make the application create.

    A sound file names its plug-ins by format and file. A VST3 "file" is a
    bundle whose shared object is loaded into this process, so a sound from
    someone else could otherwise run any code it ships beside itself. A sound
    may therefore only name bundles inside the plug-in folders, or bundles the
    user once chose through a tile's file chooser (recorded in the approvals
    file). LV2 plug-ins are looked up by URI among the installed bundles only,
    so their identifiers need no check.

    Used on the message thread; the folder list and the approvals file can be
    replaced so that tests can install plug-ins from their own folders. */
class PluginTrust
{
public:
    /** Empty when a plug-in named by a stored sound may be created, otherwise
        the reason shown in its slot. */
    static juce::String refusal (const juce::PluginDescription& description);

    /** Remembers a bundle the user chose, so that sounds using it open again. */
    static void approve (const juce::File& bundle);

    /** The plug-in folders: the standard VST3 folders and any added ones. */
    static juce::Array<juce::File> pluginFolders();
    static void addPluginFolder (const juce::File& folder);

    /** Where approved bundles are recorded, one resolved path per line;
        ~/.VELLIX/approved-plugins.txt unless replaced. */
    static juce::File approvalsFile();
    static void setApprovalsFile (const juce::File& file);

    /** The path a format opens for a plug-in identifier: '~' expanded and
        '.'/'..' parts removed by their text as JUCE does; empty for a relative
        identifier, which would depend on the current folder. */
    static juce::String openedPath (const juce::String& identifier);

    /** An absolute path with its symbolic links and '.'/'..' parts resolved as
        the system resolves them; a missing end is kept as written. Empty for
        a relative path or a missing end holding '.' or '..'. */
    static juce::String resolvedPath (const juce::String& path);

    static constexpr const char* outsideFoldersMessage = "Plug-in is outside the plug-in folders";
};
