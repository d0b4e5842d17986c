#include "hosting/PluginCatalogue.h"
#include "hosting/UntrustedText.h"

extern "C"
{
    #include <lilv/lilv.h>
}

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include <unistd.h>

namespace
{
    constexpr const char* cacheTag = "PLUGINCATALOGUE";
    constexpr const char* scanTag = "PLUGINSCAN";

    // Raised whenever what is cached is described differently, so an older
    // cache is read as empty instead of giving stale descriptions.
    constexpr int cacheVersion = 1;

    // moduleinfo.json files are a few kilobytes; anything far larger is not one.
    constexpr juce::int64 maximumModuleInfoSize = 4 * 1024 * 1024;
    constexpr int maximumJsonNesting = 64;
    constexpr int maximumModuleInfoClasses = 4096;

    // Bundles are found this many folder levels below a VST3 folder at most.
    constexpr int maximumVST3Depth = 7;

    juce::String canonicalPath (const juce::File& file)
    {
        if (char* resolved = ::realpath (file.getFullPathName().toRawUTF8(), nullptr))
        {
            const auto result = juce::String::fromUTF8 (resolved);
            std::free (resolved);
            return result;
        }

        return file.getFullPathName();
    }

    juce::int64 modified (const juce::File& file)
    {
        return file.getLastModificationTime().toMilliseconds();
    }

    /** An LV2 bundle changes with its folder (files added or removed) or its
        Turtle files (edited in place). */
    juce::String lv2Stamp (const juce::File& bundle)
    {
        auto latest = modified (bundle);

        for (const auto& entry : juce::RangedDirectoryIterator (bundle, false, "*.ttl", juce::File::findFiles))
            latest = juce::jmax (latest, entry.getModificationTime().toMilliseconds());

        return juce::String (latest);
    }

    /** A VST3 bundle changes with its folders, its binaries or its moduleinfo.json. */
    juce::String vst3Stamp (const juce::File& bundle)
    {
        const auto contents = bundle.getChildFile ("Contents");
        auto latest = juce::jmax (modified (bundle), modified (contents),
                                  modified (contents.getChildFile ("Resources/moduleinfo.json")));

        for (const auto& entry : juce::RangedDirectoryIterator (contents, false, "*-linux", juce::File::findDirectories))
        {
            latest = juce::jmax (latest, entry.getModificationTime().toMilliseconds());

            for (const auto& binary : juce::RangedDirectoryIterator (entry.getFile(), false, "*", juce::File::findFiles))
                latest = juce::jmax (latest, binary.getModificationTime().toMilliseconds());
        }

        return juce::String (latest);
    }

    void findVST3Bundles (const juce::File& directory, int depth, juce::Array<juce::File>& bundles)
    {
        if (depth > maximumVST3Depth)
            return;

        for (const auto& entry : juce::RangedDirectoryIterator (directory, false, "*", juce::File::findDirectories))
        {
            const auto child = entry.getFile();

            if (child.hasFileExtension ("vst3"))
                bundles.addIfNotAlreadyThere (child);
            else if (! child.isSymbolicLink())   // keeps a linked folder from looping
                findVST3Bundles (child, depth + 1, bundles);
        }
    }

    /** Every plug-in URI in the LV2 folders with the bundle it came from,
        read from the bundles' manifests only. */
    std::vector<std::pair<juce::String, juce::String>> lv2PluginBundles (const juce::Array<juce::File>& folders)
    {
        juce::StringArray paths;

        for (const auto& folder : folders)
            if (folder.isDirectory())
                paths.add (folder.getFullPathName());

        std::vector<std::pair<juce::String, juce::String>> result;

        // With no path lilv would fall back to the system's own LV2 path.
        if (paths.isEmpty())
            return result;

        auto* world = lilv_world_new();

        if (world == nullptr)
            return result;

        auto* lv2Path = lilv_new_string (world, paths.joinIntoString (":").toRawUTF8());
        lilv_world_set_option (world, LILV_OPTION_LV2_PATH, lv2Path);
        lilv_node_free (lv2Path);
        lilv_world_load_all (world);

        const auto* plugins = lilv_world_get_all_plugins (world);

        LILV_FOREACH (plugins, i, plugins)
        {
            const auto* plugin = lilv_plugins_get (plugins, i);
            const auto* uri = lilv_node_as_uri (lilv_plugin_get_uri (plugin));
            const auto* bundleUri = lilv_node_as_uri (lilv_plugin_get_bundle_uri (plugin));

            if (uri == nullptr || bundleUri == nullptr)
                continue;

            if (char* bundlePath = lilv_file_uri_parse (bundleUri, nullptr))
            {
                result.emplace_back (juce::String::fromUTF8 (uri), canonicalPath (juce::File (juce::String::fromUTF8 (bundlePath))));
                lilv_free (bundlePath);
            }
        }

        lilv_world_free (world);
        return result;
    }

    /** Nesting depth of JSON text, counted outside strings; the parser
        recurses once per level. */
    bool isNestingShallow (const juce::String& json)
    {
        int depth = 0;
        bool inString = false, escaped = false;

        // Byte by byte: every character that matters here is ASCII.
        for (const auto* p = json.toRawUTF8(); *p != 0; ++p)
        {
            const auto c = *p;

            if (inString)
            {
                if (escaped)          escaped = false;
                else if (c == '\\')   escaped = true;
                else if (c == '"')    inString = false;
            }
            else if (c == '"')
            {
                inString = true;
            }
            else if (c == '[' || c == '{')
            {
                if (++depth > maximumJsonNesting)
                    return false;
            }
            else if (c == ']' || c == '}')
            {
                --depth;
            }
        }

        return true;
    }

    /** The 16 bytes of a class ID written as 32 hexadecimal digits. */
    bool readClassId (const juce::String& text, std::array<juce::uint8, 16>& bytes)
    {
        const auto hex = text.trim();

        if (hex.length() != 32)
            return false;

        for (int i = 0; i < 16; ++i)
        {
            const auto high = juce::CharacterFunctions::getHexDigitValue (hex[i * 2]);
            const auto low = juce::CharacterFunctions::getHexDigitValue (hex[i * 2 + 1]);

            if (high < 0 || low < 0)
                return false;

            bytes[(size_t) i] = (juce::uint8) ((high << 4) | low);
        }

        return true;
    }

    juce::String textOf (const juce::var& value)
    {
        return value.isString() ? value.toString().trim() : juce::String();
    }
}

//==============================================================================
PluginCatalogue::Locations PluginCatalogue::Locations::standard()
{
    Locations result;
    result.componentFolders = { juce::File ("/Library/Audio/Plug-Ins/Components"),
                                juce::File ("~/Library/Audio/Plug-Ins/Components") };

    // JUCE's VST3 and LV2 formats search these by default.
    result.vst3Folders = { juce::File ("~/.vst3"), juce::File ("/usr/lib/vst3"), juce::File ("/usr/local/lib/vst3") };

    if (juce::File ("/usr/lib64/lv2").exists() || juce::File ("/usr/local/lib64/lv2").exists())
        result.lv2Folders = { juce::File ("~/.lv2"), juce::File ("/usr/lib64/lv2"), juce::File ("/usr/local/lib64/lv2") };
    else
        result.lv2Folders = { juce::File ("~/.lv2"), juce::File ("/usr/lib/lv2"), juce::File ("/usr/local/lib/lv2") };

    // Beside the settings file (~/.VELLIX/VELLIX.settings on Linux).
    result.cacheFile = juce::File ("~/.VELLIX/PluginCatalogue.xml");
    result.scanHelper = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("vellix-plugin-scan");
    return result;
}

PluginCatalogue::Locations& PluginCatalogue::locations()
{
    static Locations inUse = Locations::standard();
    return inUse;
}

PluginCatalogue::PluginCatalogue (Locations where) : locationsInUse (std::move (where)) {}

PluginCatalogue::~PluginCatalogue() = default;

std::vector<juce::PluginDescription> PluginCatalogue::listInstalled (bool instruments)
{
    loadCache();

    std::vector<juce::PluginDescription> all;
    listLV2 (all);
    listVST3 (all);

    // Bundles that are gone leave the cache.
    if (cacheChanged || current.size() != cache.size())
        saveCache();

    std::vector<juce::PluginDescription> result;

    for (auto& description : all)
        if (description.isInstrument == instruments)
            result.push_back (std::move (description));

    return result;
}

//==============================================================================
void PluginCatalogue::listLV2 (std::vector<juce::PluginDescription>& out)
{
    struct Bundle
    {
        juce::String key, path, stamp;
    };

    std::vector<Bundle> bundles;
    std::set<juce::String> seen;

    for (const auto& folder : locationsInUse.lv2Folders)
    {
        for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findDirectories))
        {
            const auto bundle = entry.getFile();

            if (! bundle.getChildFile ("manifest.ttl").existsAsFile())
                continue;

            const auto path = canonicalPath (bundle);

            if (seen.insert (path).second)
                bundles.push_back ({ "LV2:" + path, path, lv2Stamp (bundle) });
        }
    }

    std::set<juce::String> changed;

    for (const auto& bundle : bundles)
    {
        const auto cached = cache.find (bundle.key);

        if (cached != cache.end() && cached->second.stamp == bundle.stamp)
            current[bundle.key] = cached->second;
        else
            changed.insert (bundle.path);
    }

    if (! changed.empty())
    {
        // Only the changed bundles are described: that reads their plug-ins'
        // Turtle files, which is what takes the time. The format has read its
        // default folders when it was made; reading them again would only
        // make lilv warn about every plug-in it reloads.
        juce::LV2PluginFormat format;
        const auto defaults = format.getDefaultLocationsToSearch();
        juce::FileSearchPath otherFolders;

        for (const auto& folder : locationsInUse.lv2Folders)
        {
            bool isDefault = false;

            for (int i = 0; i < defaults.getNumPaths(); ++i)
                isDefault = isDefault || defaults[i] == folder;

            if (! isDefault)
                otherFolders.add (folder);
        }

        if (otherFolders.getNumPaths() > 0)
            format.searchPathsForPlugins (otherFolders, true, false);

        for (const auto& bundle : bundles)
            if (changed.count (bundle.path) != 0)
                current[bundle.key] = Entry { bundle.stamp, false, {} };

        for (const auto& [uri, bundlePath] : lv2PluginBundles (locationsInUse.lv2Folders))
        {
            if (changed.count (bundlePath) == 0)
                continue;

            juce::OwnedArray<juce::PluginDescription> found;
            format.findAllTypesForFile (found, uri);

            auto& entry = current["LV2:" + bundlePath];

            for (const auto* description : found)
                entry.plugins.push_back (*description);
        }

        cacheChanged = true;
    }

    for (const auto& bundle : bundles)
        for (const auto& description : current[bundle.key].plugins)
            out.push_back (description);
}

//==============================================================================
void PluginCatalogue::listVST3 (std::vector<juce::PluginDescription>& out)
{
    juce::Array<juce::File> bundles;

    for (const auto& folder : locationsInUse.vst3Folders)
        if (folder.isDirectory())
            findVST3Bundles (folder, 0, bundles);

    struct Pending
    {
        juce::File bundle;
        juce::String key, stamp;
        Examination result;
    };

    std::vector<Pending> pending;
    std::vector<juce::String> order;

    for (const auto& bundle : bundles)
    {
        const auto moduleInfo = bundle.getChildFile ("Contents/Resources/moduleinfo.json");

        if (moduleInfo.existsAsFile() && moduleInfo.getSize() <= maximumModuleInfoSize)
        {
            if (auto described = readModuleInfo (moduleInfo.loadFileAsString(), bundle))
            {
                out.insert (out.end(), described->begin(), described->end());
                continue;
            }
        }

        const auto key = "VST3:" + canonicalPath (bundle);
        const auto stamp = vst3Stamp (bundle);
        order.push_back (key);
        const auto cached = cache.find (key);

        if (cached != cache.end() && cached->second.stamp == stamp)
            current[key] = cached->second;
        else
            pending.push_back ({ bundle, key, stamp, {} });
    }

    // Without its helper nothing can be examined; that is no answer about
    // the bundles, so nothing is cached for them.
    const auto& helper = locationsInUse.scanHelper;

    if (! pending.empty() && helper.existsAsFile() && ::access (helper.getFullPathName().toRawUTF8(), X_OK) == 0)
    {
        std::atomic<size_t> next { 0 };
        const auto examine = [&]
        {
            for (auto i = next++; i < pending.size(); i = next++)
                pending[i].result = examineWithHelper (pending[i].bundle);
        };

        // Two at a time: a hanging bundle does not hold up all the others.
        std::thread second (examine);
        examine();
        second.join();

        for (auto& item : pending)
        {
            if (! item.result.ran)
                continue;

            auto& plugins = item.result.plugins;
            current[item.key] = Entry { item.stamp, ! plugins.has_value(),
                                        plugins.has_value() ? std::move (*plugins) : std::vector<juce::PluginDescription>() };
            cacheChanged = true;
        }
    }

    for (const auto& key : order)
    {
        const auto found = current.find (key);

        if (found != current.end())
            out.insert (out.end(), found->second.plugins.begin(), found->second.plugins.end());
    }
}

PluginCatalogue::Examination PluginCatalogue::examineWithHelper (const juce::File& bundle) const
{
    // Shared with the thread that reads the answer, which may outlive this
    // call (below).
    struct Run
    {
        juce::ChildProcess process;
        juce::CriticalSection lock;
        juce::MemoryOutputStream output;
        juce::WaitableEvent readToEnd;
    };

    // Processes are started one at a time, so no helper inherits the write
    // end of another helper's pipe and keeps it open.
    static std::mutex startLock;

    const auto run = std::make_shared<Run>();

    {
        const std::lock_guard<std::mutex> guard (startLock);

        if (! run->process.start (juce::StringArray { locationsInUse.scanHelper.getFullPathName(), bundle.getFullPathName() },
                                  juce::ChildProcess::wantStdOut))
            return {};   // out of processes or pipes: says nothing about the bundle
    }

    // Read while waiting: a long answer would otherwise fill the pipe and
    // stall the helper until its time is up.
    std::thread ([run]
    {
        // One byte at a time: ChildProcess reads through a buffered stream
        // that waits to fill the whole request, so a larger one could sit on
        // an answer that has already arrived. The stream's own buffer keeps
        // this cheap.
        char byte = 0;

        while (run->process.readProcessOutput (&byte, 1) == 1)
        {
            const juce::ScopedLock sl (run->lock);
            run->output.writeByte (byte);
        }

        run->readToEnd.signal();
    }).detach();

    if (! run->process.waitForProcessToFinish (locationsInUse.scanTimeoutMs))
    {
        run->process.kill();
        run->process.waitForProcessToFinish (1000);
    }

    // A process the plug-in started can keep the pipe open after the helper
    // has gone; its answer is complete all the same, and the reader is left
    // to finish whenever that process does.
    run->readToEnd.wait (1000);

    juce::String output;

    {
        const juce::ScopedLock sl (run->lock);
        output = run->output.toString();
    }

    // The exit code of a crashed helper is not reliable through ChildProcess;
    // only a complete answer counts.
    return { true, readScanOutput (output) };
}

//==============================================================================
std::optional<std::vector<juce::PluginDescription>> PluginCatalogue::readModuleInfo (const juce::String& json,
                                                                                       const juce::File& bundle)
{
    if (! UntrustedText::isValidUtf8 (json) || ! isNestingShallow (json))
        return std::nullopt;

    juce::var root;

    if (juce::JSON::parse (json, root).failed() || ! root.isObject())
        return std::nullopt;

    const auto& classes = root["Classes"];

    if (! classes.isArray() || classes.size() > maximumModuleInfoClasses)
        return std::nullopt;

    const auto factoryVendor = textOf (root["Factory Info"]["Vendor"]);
    std::vector<juce::PluginDescription> result;

    for (const auto& entry : *classes.getArray())
    {
        if (! entry.isObject() || textOf (entry["Category"]) != "Audio Module Class")
            continue;

        std::array<juce::uint8, 16> id {};
        const auto name = textOf (entry["Name"]);

        // Without its class ID the format could not find the plug-in again.
        if (name.isEmpty() || ! readClassId (textOf (entry["CID"]), id))
            continue;

        juce::StringArray subCategories;
        const auto& sub = entry["Sub Categories"];

        if (sub.isArray())
        {
            for (const auto& item : *sub.getArray())
                if (item.isString())
                    subCategories.add (item.toString().trim());
        }
        else if (sub.isString())
        {
            subCategories.addTokens (sub.toString(), "|", {});
        }

        subCategories.removeEmptyStrings();

        juce::PluginDescription description;
        description.name = name;
        description.descriptiveName = name;
        description.pluginFormatName = "VST3";
        description.fileOrIdentifier = bundle.getFullPathName();
        description.lastFileModTime = bundle.getLastModificationTime();
        description.manufacturerName = textOf (entry["Vendor"]);

        if (description.manufacturerName.isEmpty())
            description.manufacturerName = factoryVendor;

        description.version = textOf (entry["Version"]);
        description.category = subCategories.joinIntoString ("|");
        description.isInstrument = description.category.containsIgnoreCase ("Instrument");   // as JUCE's format decides
        description.numInputChannels = description.isInstrument ? 0 : 2;
        description.numOutputChannels = 2;

        // The same hashes JUCE's VST3 format computes from the class ID, so
        // that it finds this class in the module when loading.
        juce::uint32 deprecatedUid = 0, uniqueId = 0;

        for (auto byte : id)
            deprecatedUid = deprecatedUid * 31 + (juce::uint32) static_cast<char> (byte);

        for (size_t i = 0; i < 16; i += 4)
            uniqueId = uniqueId * 31 + (((juce::uint32) id[i] << 24) | ((juce::uint32) id[i + 1] << 16)
                                          | ((juce::uint32) id[i + 2] << 8) | (juce::uint32) id[i + 3]);

        description.deprecatedUid = (int) deprecatedUid;
        description.uniqueId = (int) uniqueId;
        result.push_back (std::move (description));
    }

    return result;
}

std::optional<std::vector<juce::PluginDescription>> PluginCatalogue::readScanOutput (const juce::String& xml)
{
    const auto document = UntrustedText::parseXml (xml);

    if (document == nullptr || ! document->hasTagName (scanTag) || ! document->getBoolAttribute ("complete"))
        return std::nullopt;

    std::vector<juce::PluginDescription> result;

    for (const auto* element : document->getChildWithTagNameIterator ("PLUGIN"))
    {
        juce::PluginDescription description;

        if (description.loadFromXml (*element))
            result.push_back (std::move (description));
    }

    return result;
}

juce::String PluginCatalogue::writeScanOutput (const juce::OwnedArray<juce::PluginDescription>& found)
{
    juce::XmlElement document (scanTag);

    for (const auto* description : found)
        document.addChildElement (description->createXml().release());

    // Written last, so an answer cut short by a crash is never taken as complete.
    document.setAttribute ("complete", true);
    return document.toString (juce::XmlElement::TextFormat().singleLine());
}

//==============================================================================
void PluginCatalogue::loadCache()
{
    cache.clear();
    current.clear();
    cacheChanged = false;

    const auto document = UntrustedText::parseXml (locationsInUse.cacheFile);

    if (document == nullptr || ! document->hasTagName (cacheTag) || document->getIntAttribute ("version") != cacheVersion)
        return;

    for (const auto* bundle : document->getChildWithTagNameIterator ("BUNDLE"))
    {
        Entry entry;
        entry.stamp = bundle->getStringAttribute ("stamp");
        entry.failed = bundle->getBoolAttribute ("failed");

        for (const auto* element : bundle->getChildWithTagNameIterator ("PLUGIN"))
        {
            juce::PluginDescription description;

            if (description.loadFromXml (*element))
                entry.plugins.push_back (std::move (description));
        }

        cache[bundle->getStringAttribute ("key")] = std::move (entry);
    }
}

void PluginCatalogue::saveCache() const
{
    juce::XmlElement document (cacheTag);
    document.setAttribute ("version", cacheVersion);

    for (const auto& [key, entry] : current)
    {
        auto* bundle = document.createNewChildElement ("BUNDLE");
        bundle->setAttribute ("key", key);
        bundle->setAttribute ("stamp", entry.stamp);

        if (entry.failed)
            bundle->setAttribute ("failed", true);

        for (const auto& description : entry.plugins)
            bundle->addChildElement (description.createXml().release());
    }

    // Written beside the cache and renamed over it, so that two processes
    // listing at once never leave a half-written cache.
    const auto& file = locationsInUse.cacheFile;

    if (! file.getParentDirectory().createDirectory())
        return;

    juce::TemporaryFile temporary (file);

    if (document.writeTo (temporary.getFile()))
        temporary.overwriteTargetFileWithTemporary();
}
