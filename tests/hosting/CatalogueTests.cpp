#include "CatalogueTestSupport.h"
#include "rack/ChainProcessor.h"

#include <chrono>

using namespace catalogue;

namespace
{
    //==============================================================================
    /** A VST3 bundle with only a moduleinfo.json (no binary). */
    juce::File writeModuleInfoBundle (const juce::File& folder, const juce::String& bundleName, const juce::String& json)
    {
        const auto bundle = folder.getChildFile (bundleName);
        const auto file = bundle.getChildFile ("Contents/Resources/moduleinfo.json");
        EXPECT_TRUE (file.getParentDirectory().createDirectory());
        EXPECT_TRUE (file.replaceWithText (json));
        return bundle;
    }

    juce::String moduleInfoClass (const juce::String& name, const juce::String& subCategories,
                                  const juce::String& cid = "ABCDEF019182FAEB4678747746786E31",
                                  const juce::String& category = "Audio Module Class")
    {
        return "{ \"CID\": \"" + cid + "\", \"Category\": \"" + category + "\", \"Name\": \"" + name
               + "\", \"Vendor\": \"\", \"Version\": \"2.1.0\", \"Sub Categories\": " + subCategories + " }";
    }

    juce::String moduleInfo (const juce::StringArray& classes, const juce::String& vendor = "Maker Inc")
    {
        return "{ \"Name\": \"Thing\", \"Version\": \"2.1.0\", \"Factory Info\": { \"Vendor\": \"" + vendor
               + "\", \"URL\": \"\", \"E-Mail\": \"\" }, \"Classes\": [ " + classes.joinIntoString (", ") + " ] }";
    }

    //==============================================================================
    /** An LV2 bundle of Turtle files only: enough to be listed and described. */
    juce::File writeTurtleBundle (const juce::File& folder, const juce::String& bundleName, const juce::String& uri,
                                  const juce::String& name, const juce::String& pluginClass)
    {
        const auto bundle = folder.getChildFile (bundleName);
        EXPECT_TRUE (bundle.createDirectory());

        const juce::String prefixes = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                      "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                                      "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                                      "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n";

        EXPECT_TRUE (bundle.getChildFile ("manifest.ttl").replaceWithText (
            prefixes + "<" + uri + "> a lv2:Plugin ; lv2:binary <plugin.so> ; rdfs:seeAlso <plugin.ttl> .\n"));

        EXPECT_TRUE (bundle.getChildFile ("plugin.ttl").replaceWithText (
            prefixes + "<" + uri + "> a lv2:Plugin, lv2:" + pluginClass + " ;\n"
            "  doap:name \"" + name + "\" ;\n"
            "  doap:maintainer [ foaf:name \"Turtle Works\" ] ;\n"
            "  lv2:port [ a lv2:AudioPort, lv2:InputPort ; lv2:index 0 ; lv2:symbol \"in\" ; lv2:name \"In\" ] ,\n"
            "           [ a lv2:AudioPort, lv2:OutputPort ; lv2:index 1 ; lv2:symbol \"out\" ; lv2:name \"Out\" ] .\n"));

        return bundle;
    }

    /** Sets a bundle's files and folder back to one time, as an edit that the
        cache must not notice would. */
    void setTimes (const juce::File& bundle, juce::Time time)
    {
        for (const auto& entry : juce::RangedDirectoryIterator (bundle, true, "*", juce::File::findFilesAndDirectories))
            entry.getFile().setLastModificationTime (time);

        bundle.setLastModificationTime (time);
    }

    //==============================================================================
    /** A stand-in for vellix-plugin-scan: logs each bundle it is given, then
        answers with the bundle's answer.xml, hangs when the bundle holds a
        file "hang", or crashes when it holds "crash". With a file "linger" it
        answers but leaves a process behind that keeps its output open for
        a few seconds. */
    juce::File writeScriptedHelper (const TemporaryFolder& temp)
    {
        const auto script = temp / "scripted-scan";
        const auto log = temp / "scan.log";
        EXPECT_TRUE (script.replaceWithText ("#!/bin/sh\n"
                                             "echo \"$1\" >> '" + log.getFullPathName() + "'\n"
                                             "[ -f \"$1/hang\" ] && exec sleep 60\n"
                                             "[ -f \"$1/linger\" ] && { sleep 5 & }\n"
                                             "[ -f \"$1/crash\" ] && kill -SEGV $$\n"
                                             "cat \"$1/answer.xml\" 2>/dev/null\n",
                                             false, false, "\n"));
        EXPECT_TRUE (script.setExecutePermission (true));
        return script;
    }

    juce::StringArray scanLog (const TemporaryFolder& temp)
    {
        juce::StringArray lines;
        lines.addLines ((temp / "scan.log").loadFileAsString().trim());
        lines.removeEmptyStrings();

        for (auto& line : lines)
            line = juce::File (line).getFileName();

        return lines;
    }

    juce::File writeHelperAnswer (const juce::File& vst3Folder, const juce::String& bundleName,
                                  const juce::String& pluginName, bool instrument)
    {
        const auto bundle = vst3Folder.getChildFile (bundleName);
        EXPECT_TRUE (bundle.getChildFile ("Contents/x86_64-linux").createDirectory());

        juce::OwnedArray<juce::PluginDescription> found;
        auto* description = found.add (new juce::PluginDescription());
        description->name = pluginName;
        description->pluginFormatName = "VST3";
        description->manufacturerName = "Script";
        description->fileOrIdentifier = bundle.getFullPathName();
        description->isInstrument = instrument;

        EXPECT_TRUE (bundle.getChildFile ("answer.xml").replaceWithText (PluginCatalogue::writeScanOutput (found)));
        return bundle;
    }

    std::vector<juce::PluginDescription> listInstalled (bool instruments)
    {
        return PluginCatalogue (PluginCatalogue::locations()).listInstalled (instruments);
    }
}

//==============================================================================
TEST (Catalogue, LibraryFolderIsTheOnlySource)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    ChainProcessor processor;

    writeBundle (temp / "components-system", "System.component", infoPlist ({ component ("aumu", "Sys1", "Wxyz", "Sys: System Synth") }));
    writeModuleInfoBundle (temp / "vst3", "Other.vst3", moduleInfo ({ moduleInfoClass ("Other Synth", "[ \"Instrument\" ]") }));
    writeBundle (temp / "library", "Own.component", infoPlist ({ component ("aumu", "Own1", "Wxyz", "Lib: Library Synth") }));

    EXPECT_EQ (namesOf (processor.audioUnitCatalogue (temp / "library", true)), juce::StringArray ("Library Synth"));
    EXPECT_TRUE (processor.audioUnitCatalogue (temp / "library", false).empty());

    // Without it (missing, or a file) the other sources are used.
    (temp / "library.txt").replaceWithText ("x");

    for (const auto& folder : { temp / "absent", temp / "library.txt", juce::File() })
        EXPECT_EQ (namesOf (processor.audioUnitCatalogue (folder, true)), juce::StringArray ("Other Synth", "System Synth"));
}

TEST (Catalogue, StandardFoldersMergeByIdentifier)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    ChainProcessor processor;

    writeBundle (temp / "components-system", "Sys.component",
                 infoPlist ({ component ("aumu", "One1", "Wxyz", " : First Name"),     // no manufacturer
                              component ("aumu", "Two2", "Wxyz", "Keep: Second"),
                              component ("aufx", "Fx01", "Wxyz", "Keep: Echo") }));
    writeBundle (temp / "components-user", "User.component",
                 infoPlist ({ component ("aumu", "One1", "Wxyz", "Maker: Renamed"),
                              component ("aumu", "Two2", "Wxyz", "Other: Second Copy"),
                              component ("aumu", "Thr3", "Wxyz", "User: Third") }));

    const auto synths = processor.audioUnitCatalogue ({}, true);
    ASSERT_EQ (namesOf (synths), juce::StringArray ("First Name", "Second", "Third"));
    EXPECT_EQ (synths[0].manufacturerName, "Maker");
    EXPECT_EQ (synths[1].manufacturerName, "Keep");
    EXPECT_EQ (synths[2].manufacturerName, "User");

    EXPECT_EQ (namesOf (processor.audioUnitCatalogue ({}, false)), juce::StringArray ("Echo"));
}

TEST (Catalogue, SortsNaturallyAndLeavesOutItsOwnNameAcrossFormats)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    ChainProcessor processor;

    writeBundle (temp / "components-system", "A.component", infoPlist ({ component ("aumu", "S010", "Wxyz", "Synth 10"),
                                                                         component ("aumu", "Beta", "Wxyz", "Beta") }));
    writeModuleInfoBundle (temp / "vst3", "B.vst3", moduleInfo ({ moduleInfoClass ("synth 2", "[ \"Instrument\", \"Synth\" ]"),
                                                                 moduleInfoClass ("The VELLIX Bridge", "[ \"Instrument\" ]", "ABCDEF019182FAEB4678747746786E32") }));
    writeTurtleBundle (temp / "lv2", "alpha.lv2", "urn:vellix-test:alpha", "alpha", "InstrumentPlugin");
    writeTurtleBundle (temp / "lv2", "own.lv2", "urn:vellix-test:own", "vellix inside", "InstrumentPlugin");

    EXPECT_EQ (namesOf (processor.audioUnitCatalogue ({}, true)), juce::StringArray ("alpha", "Beta", "synth 2", "Synth 10"));
}

//==============================================================================
TEST (CatalogueModuleInfo, DescribesAudioModuleClasses)
{
    const juce::File bundle ("/plugins/Thing.vst3");
    const auto json = moduleInfo ({
        // The component class ID JUCE gives a plug-in with codes Fxtw/Fxin.
        moduleInfoClass ("Keys", "[ \"Instrument\", \"Synth\" ]", "ABCDEF019182FAEB467874774678696E"),
        moduleInfoClass ("Echo", "\"Fx|Delay\"", "abcdef019182faeb4678747746786566"),
        moduleInfoClass ("Keys Controller", "[]", "ABCDEF011234FAEB4678747746786E31", "Component Controller Class"),
        moduleInfoClass ("No Id", "[ \"Fx\" ]", ""),
        moduleInfoClass ("Bad Id", "[ \"Fx\" ]", "ABCDEF019182FAEB4678747746786EZZ"),
        moduleInfoClass ("", "[ \"Fx\" ]"),
        "\"not a class\"",
        "{ \"Category\": \"Audio Module Class\", \"Name\": 42, \"CID\": \"ABCDEF019182FAEB4678747746786E31\" }",
    });

    const auto described = PluginCatalogue::readModuleInfo (json, bundle);
    ASSERT_TRUE (described.has_value());
    ASSERT_EQ (namesOf (*described), juce::StringArray ("Keys", "Echo"));

    const auto& keys = (*described)[0];
    EXPECT_EQ (keys.pluginFormatName, "VST3");
    EXPECT_EQ (keys.fileOrIdentifier, bundle.getFullPathName());
    EXPECT_EQ (keys.manufacturerName, "Maker Inc");
    EXPECT_EQ (keys.category, "Instrument|Synth");
    EXPECT_EQ (keys.version, "2.1.0");
    EXPECT_TRUE (keys.isInstrument);
    // What JUCE's VST3 format reported for that class when it examined the
    // built plug-in; loading matches the class by these.
    EXPECT_EQ ((juce::uint32) keys.uniqueId, 0x1d769561u);
    EXPECT_EQ ((juce::uint32) keys.deprecatedUid, 0xa0d61e02u);

    const auto& echo = (*described)[1];
    EXPECT_EQ (echo.category, "Fx|Delay");
    EXPECT_FALSE (echo.isInstrument);
}

TEST (CatalogueModuleInfo, UnusableTextIsLeftToTheHelper)
{
    const juce::File bundle ("/plugins/Thing.vst3");

    const std::pair<const char*, juce::String> cases[] = {
        { "empty",              "" },
        { "not JSON",           "Classes: none" },
        { "cut short",          moduleInfo ({ moduleInfoClass ("Keys", "[]") }).dropLastCharacters (3) },
        { "array at the top",   "[ { \"Classes\": [] } ]" },
        { "no classes",         "{ \"Name\": \"Thing\" }" },
        { "classes not a list", "{ \"Classes\": { \"Name\": \"Keys\" } }" },
        { "nesting too deep",   "{ \"Classes\": [], \"x\": " + juce::String::repeatedString ("[", 100000) + juce::String::repeatedString ("]", 100000) + " }" },
    };

    for (const auto& [name, json] : cases)
    {
        SCOPED_TRACE (name);
        EXPECT_FALSE (PluginCatalogue::readModuleInfo (json, bundle).has_value());
    }

    // Brackets inside strings are text, not nesting.
    const auto bracketsInText = moduleInfo ({ moduleInfoClass (juce::String::repeatedString ("[", 200), "[ \"Fx\" ]") });
    EXPECT_TRUE (PluginCatalogue::readModuleInfo (bracketsInText, bundle).has_value());
}

//==============================================================================
TEST (CatalogueInstalled, VST3BundlesFromModuleInfoOrTheHelperWhoseAnswersAreCached)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    auto& where = PluginCatalogue::locations();
    where.scanHelper = writeScriptedHelper (temp);
    where.scanTimeoutMs = 1000;
    const auto vst3 = temp / "vst3";

    writeModuleInfoBundle (vst3, "Described.vst3", moduleInfo ({ moduleInfoClass ("Described Synth", "[ \"Instrument\" ]") }));
    writeHelperAnswer (vst3, "vendor/Examined.vst3", "Examined Effect", false);
    const auto hang = writeHelperAnswer (vst3, "Hang.vst3", "Hang Effect", false);
    const auto crash = writeHelperAnswer (vst3, "Crash.vst3", "Crash Effect", false);
    hang.getChildFile ("hang").create();
    crash.getChildFile ("crash").create();
    // An answer without the closing mark, as a helper that died while writing leaves it.
    const auto cut = writeHelperAnswer (vst3, "Cut.vst3", "Cut Effect", false);
    cut.getChildFile ("answer.xml").replaceWithText (cut.getChildFile ("answer.xml").loadFileAsString().replace ("complete=\"1\"", ""));
    // Answers, but a process it started holds the answer's pipe a while longer.
    writeHelperAnswer (vst3, "Linger.vst3", "Linger Synth", true).getChildFile ("linger").create();
    // A broken moduleinfo.json: the helper examines the bundle instead.
    writeHelperAnswer (vst3, "BadInfo.vst3", "Bad Info Synth", true);
    writeModuleInfoBundle (vst3, "BadInfo.vst3", "{ broken");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ (sortedNames (listInstalled (true)), juce::StringArray ("Bad Info Synth", "Described Synth", "Linger Synth"));
    // Two examinations run at once, so one hanging bundle costs one time limit.
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::seconds (5));

    auto examined = scanLog (temp);
    examined.sort (false);
    EXPECT_EQ (examined, juce::StringArray ("BadInfo.vst3", "Crash.vst3", "Cut.vst3", "Examined.vst3", "Hang.vst3", "Linger.vst3"));

    // From the cache now: nothing is examined again, failures included.
    EXPECT_EQ (namesOf (listInstalled (false)), juce::StringArray ("Examined Effect"));
    EXPECT_EQ (scanLog (temp).size(), 6);

    // A bundle that changed is examined again; the others still come from the cache.
    hang.getChildFile ("hang").deleteFile();
    setTimes (hang, juce::Time::getCurrentTime() + juce::RelativeTime::minutes (1));
    const auto effects = namesOf (listInstalled (false));
    EXPECT_TRUE (effects.contains ("Hang Effect")) << effects.joinIntoString (", ");
    EXPECT_EQ (scanLog (temp).size(), 7);
}

TEST (CatalogueInstalled, WithoutTheHelperNothingIsCachedForUnexaminedBundles)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    writeHelperAnswer (temp / "vst3", "Examined.vst3", "Examined Synth", true);

    EXPECT_TRUE (listInstalled (true).empty());

    // One that cannot be run is no better.
    const auto helper = writeScriptedHelper (temp);
    PluginCatalogue::locations().scanHelper = helper;
    ASSERT_TRUE (helper.setExecutePermission (false));
    EXPECT_TRUE (listInstalled (true).empty());

    ASSERT_TRUE (helper.setExecutePermission (true));
    EXPECT_EQ (namesOf (listInstalled (true)), juce::StringArray ("Examined Synth"));
}

TEST (CatalogueInstalled, LV2FromTurtleFilesWithCache)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    const auto lv2 = temp / "lv2";
    const auto synth = writeTurtleBundle (lv2, "synth.lv2", "urn:vellix-test:synth", "Turtle Synth", "InstrumentPlugin");
    writeTurtleBundle (lv2, "echo.lv2", "urn:vellix-test:echo", "Turtle Echo", "DelayPlugin");
    // Folders without a manifest are no bundles.
    lv2.getChildFile ("notes").createDirectory();

    const auto synths = listInstalled (true);
    ASSERT_EQ (namesOf (synths), juce::StringArray ("Turtle Synth"));
    EXPECT_EQ (synths[0].pluginFormatName, "LV2");
    EXPECT_EQ (synths[0].fileOrIdentifier, "urn:vellix-test:synth");
    EXPECT_EQ (synths[0].manufacturerName, "Turtle Works");
    EXPECT_EQ (namesOf (listInstalled (false)), juce::StringArray ("Turtle Echo"));

    // An edit the modification times do not show is not seen: the cache answers.
    const auto then = juce::Time::getCurrentTime() - juce::RelativeTime::hours (1);
    setTimes (synth, then);
    listInstalled (true);
    synth.getChildFile ("plugin.ttl").replaceWithText (synth.getChildFile ("plugin.ttl").loadFileAsString().replace ("Turtle Synth", "Renamed Synth"));
    setTimes (synth, then);
    EXPECT_EQ (namesOf (listInstalled (true)), juce::StringArray ("Turtle Synth"));

    // Once they show it, the bundle is described again.
    synth.getChildFile ("plugin.ttl").setLastModificationTime (juce::Time::getCurrentTime());
    EXPECT_EQ (namesOf (listInstalled (true)), juce::StringArray ("Renamed Synth"));

    // A removed bundle leaves the listing and the cache.
    synth.deleteRecursively();
    EXPECT_TRUE (listInstalled (true).empty());
    EXPECT_FALSE (PluginCatalogue::locations().cacheFile.loadFileAsString().contains ("vellix-test:synth"));
}

TEST (CatalogueInstalled, DamagedCacheIsIgnored)
{
    TemporaryFolder temp;
    ScopedLocations locations (temp);
    writeTurtleBundle (temp / "lv2", "echo.lv2", "urn:vellix-test:echo", "Turtle Echo", "DelayPlugin");
    const auto& cache = PluginCatalogue::locations().cacheFile;

    for (const juce::String& damage : { juce::String ("<PLUGINCATALOGUE version=\"1\"><BUNDLE key="), juce::String ("\x01\x02 garbage"),
                                        juce::String ("<PLUGINCATALOGUE version=\"999\"/>") })
    {
        ASSERT_TRUE (cache.getParentDirectory().createDirectory());
        cache.replaceWithText (damage);
        EXPECT_EQ (namesOf (listInstalled (false)), juce::StringArray ("Turtle Echo")) << damage;
        EXPECT_TRUE (juce::parseXMLIfTagMatches (cache, "PLUGINCATALOGUE") != nullptr);
    }
}
