// The catalogue over real bundles: the project's fixture plug-ins, the
// bundles that crash or hang when examined, the real helper executable and
// the LV2 plug-ins that Debian installs (scripts/install-deps.sh with
// VELLIX_WITH_TEST_PLUGINS=1).

#include "CatalogueTestSupport.h"
#include "rack/ChainProcessor.h"

#include <chrono>
#include <cstdio>

using namespace catalogue;

namespace
{
    juce::File builtFolder (const char* path)
    {
        return juce::File (VELLIX_TEST_BINARY_DIR).getParentDirectory().getChildFile (path);
    }

    juce::File helperExecutable()
    {
       #ifdef VELLIX_PLUGIN_SCAN
        return juce::File (VELLIX_PLUGIN_SCAN);
       #else
        return {};
       #endif
    }

    juce::File scanFixtures()
    {
       #ifdef VELLIX_SCAN_FIXTURE_DIR
        return juce::File (VELLIX_SCAN_FIXTURE_DIR);
       #else
        return {};
       #endif
    }

    bool copyBundle (const juce::File& bundle, const juce::File& folder)
    {
        return bundle.copyDirectoryTo (folder.getChildFile (bundle.getFileName()));
    }

    std::vector<juce::PluginDescription> listInstalled (bool instruments)
    {
        return PluginCatalogue (PluginCatalogue::locations()).listInstalled (instruments);
    }

    double secondsSince (std::chrono::steady_clock::time_point start)
    {
        return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
    }
}

#define SKIP_WITHOUT(file, what) \
    if (! (file).exists()) GTEST_SKIP() << what << " not found at " << (file).getFullPathName().toStdString()

TEST (CatalogueRealPlugins, FixturesListedAndMisbehavingBundlesLeftOut)
{
    const auto instrument = builtFolder ("fixtures/vst3/FixtureInstrument.vst3");
    const auto effect = builtFolder ("fixtures/vst3/FixtureEffect.vst3");
    SKIP_WITHOUT (helperExecutable(), "vellix-plugin-scan");
    SKIP_WITHOUT (scanFixtures(), "the scan fixtures");
    SKIP_WITHOUT (instrument, "the fixture plug-ins (tests/fixtures)");
    SKIP_WITHOUT (effect, "the fixture plug-ins (tests/fixtures)");

    TemporaryFolder temp;
    ScopedLocations locations (temp);
    auto& where = PluginCatalogue::locations();
    where.scanHelper = helperExecutable();
    where.scanTimeoutMs = 3000;

    for (const auto& bundle : { instrument, effect, scanFixtures().getChildFile ("ScanCrash.vst3"), scanFixtures().getChildFile ("ScanHang.vst3") })
        ASSERT_TRUE (copyBundle (bundle, temp / "vst3")) << bundle.getFullPathName();

    ChainProcessor processor;
    const auto start = std::chrono::steady_clock::now();
    const auto synths = processor.audioUnitCatalogue ({}, true);
    const auto elapsed = secondsSince (start);

    EXPECT_EQ (namesOf (synths), juce::StringArray ("Fixture Instrument"));
    EXPECT_EQ (namesOf (processor.audioUnitCatalogue ({}, false)), juce::StringArray ("Fixture Effect"));
    EXPECT_LT (elapsed, 10.0);

    ASSERT_EQ (synths.size(), 1u);
    EXPECT_EQ (synths[0].pluginFormatName, "VST3");
    EXPECT_EQ (synths[0].manufacturerName, "Fixture Works");
    EXPECT_EQ (synths[0].fileOrIdentifier, (temp / "vst3/FixtureInstrument.vst3").getFullPathName());

    // Both failures are cached: the next listing does not wait for the hang again.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ (namesOf (processor.audioUnitCatalogue ({}, true)), juce::StringArray ("Fixture Instrument"));
    EXPECT_LT (secondsSince (again), 1.0);

    const auto cache = juce::parseXMLIfTagMatches (where.cacheFile, "PLUGINCATALOGUE");
    ASSERT_NE (cache, nullptr);
    int failures = 0;

    for (const auto* bundle : cache->getChildWithTagNameIterator ("BUNDLE"))
        failures += bundle->getBoolAttribute ("failed") ? 1 : 0;

    EXPECT_EQ (failures, 2);
}

TEST (CatalogueRealPlugins, ModuleInfoDescribesTheFixtureAsTheHelperDoes)
{
    const auto instrument = builtFolder ("fixtures/vst3/FixtureInstrument.vst3");
    SKIP_WITHOUT (helperExecutable(), "vellix-plugin-scan");
    SKIP_WITHOUT (instrument, "the fixture plug-ins (tests/fixtures)");

    TemporaryFolder temp;
    ScopedLocations locations (temp);
    auto& where = PluginCatalogue::locations();
    where.scanHelper = helperExecutable();
    where.vst3Folders = { instrument.getParentDirectory() };

    std::vector<juce::PluginDescription> examined;

    for (const auto& d : listInstalled (true))
        if (d.name == "Fixture Instrument")
            examined.push_back (d);

    ASSERT_EQ (examined.size(), 1u);

    // The same bundle with a moduleinfo.json: described from it, without the helper.
    ASSERT_TRUE (copyBundle (instrument, temp / "vst3"));
    const auto copy = temp / "vst3/FixtureInstrument.vst3";
    ASSERT_TRUE (copy.getChildFile ("Contents/Resources").createDirectory());
    ASSERT_TRUE (copy.getChildFile ("Contents/Resources/moduleinfo.json").replaceWithText (R"({
        "Name": "FixtureInstrument", "Version": "1.0.0",
        "Factory Info": { "Vendor": "Fixture Works", "URL": "", "E-Mail": "", "Flags": { "Unicode": true } },
        "Classes": [
            { "CID": "ABCDEF019182FAEB467874774678696E", "Category": "Audio Module Class", "Name": "Fixture Instrument",
              "Vendor": "Fixture Works", "Version": "1.0.0", "SDKVersion": "VST 3.7", "Sub Categories": [ "Instrument", "Synth" ] },
            { "CID": "ABCDEF011234ABCD467874774678696E", "Category": "Component Controller Class", "Name": "Fixture Instrument" }
        ] })"));

    where.vst3Folders = { temp / "vst3" };
    where.scanHelper = temp / "no-helper";
    const auto described = listInstalled (true);
    ASSERT_EQ (namesOf (described), juce::StringArray ("Fixture Instrument"));

    const auto& fromInfo = described[0];
    const auto& fromHelper = examined[0];
    EXPECT_EQ (fromInfo.uniqueId, fromHelper.uniqueId);
    EXPECT_EQ (fromInfo.deprecatedUid, fromHelper.deprecatedUid);
    EXPECT_EQ (fromInfo.category, fromHelper.category);
    EXPECT_EQ (fromInfo.manufacturerName, fromHelper.manufacturerName);
    EXPECT_EQ (fromInfo.isInstrument, fromHelper.isInstrument);

    // And JUCE's VST3 format finds the plug-in from that description.
    juce::VST3PluginFormat format;
    juce::String error;
    EXPECT_NE (format.createInstanceFromDescription (fromInfo, 44100.0, 512, error), nullptr) << error;
}

TEST (CatalogueRealPlugins, InstalledLV2sInTheRightList)
{
    SKIP_WITHOUT (juce::File ("/usr/lib/lv2/mda.lv2"), "mda-lv2 (scripts/install-deps.sh with VELLIX_WITH_TEST_PLUGINS=1)");

    TemporaryFolder temp;
    ScopedLocations locations (temp);
    auto& where = PluginCatalogue::locations();
    where.lv2Folders = PluginCatalogue::Locations::standard().lv2Folders;

    const auto fixtures = builtFolder ("fixtures/lv2");

    if (fixtures.isDirectory())
        where.lv2Folders.add (fixtures);

    ChainProcessor processor;
    const auto synths = processor.audioUnitCatalogue ({}, true);
    const auto effects = processor.audioUnitCatalogue ({}, false);

    EXPECT_NE (findByName (synths, "MDA JX10"), nullptr);
    EXPECT_EQ (findByName (effects, "MDA JX10"), nullptr);
    EXPECT_NE (findByName (effects, "MDA Delay"), nullptr);
    EXPECT_EQ (findByName (synths, "MDA Delay"), nullptr);

    if (const auto* jx10 = findByName (synths, "MDA JX10"))
    {
        EXPECT_EQ (jx10->pluginFormatName, "LV2");
        EXPECT_EQ (jx10->fileOrIdentifier, "http://drobilla.net/plugins/mda/JX10");
    }

    if (fixtures.isDirectory())
    {
        EXPECT_NE (findByName (synths, "Fixture Instrument"), nullptr);
        EXPECT_NE (findByName (effects, "Fixture Effect"), nullptr);
    }

    for (const auto* list : { &synths, &effects })
        for (size_t i = 1; i < list->size(); ++i)
            EXPECT_LE ((*list)[i - 1].name.compareNatural ((*list)[i].name, false), 0) << (*list)[i].name;
}

TEST (CatalogueRealPlugins, StandardLV2FoldersAreJucesDefaults)
{
    const auto defaults = juce::LV2PluginFormat().getDefaultLocationsToSearch();
    juce::Array<juce::File> expected;

    for (int i = 0; i < defaults.getNumPaths(); ++i)
        expected.add (defaults[i]);

    EXPECT_EQ (PluginCatalogue::Locations::standard().lv2Folders, expected);
}

// Prints how long building both catalogues takes over the installed plug-ins,
// first with an empty cache, then with the cache it left.
TEST (CatalogueRealPluginsSlow, BothCataloguesColdAndWarm)
{
    SKIP_WITHOUT (juce::File ("/usr/lib/lv2/mda.lv2"), "mda-lv2 (scripts/install-deps.sh with VELLIX_WITH_TEST_PLUGINS=1)");

    TemporaryFolder temp;
    ScopedLocations locations (temp);
    auto& where = PluginCatalogue::locations();
    const auto cacheFile = where.cacheFile;
    where = PluginCatalogue::Locations::standard();
    where.cacheFile = cacheFile;
    where.scanHelper = helperExecutable();

    ChainProcessor processor;
    double seconds[2] {};
    size_t counts[2][2] {};

    for (int run = 0; run < 2; ++run)
    {
        const auto start = std::chrono::steady_clock::now();
        counts[run][0] = processor.audioUnitCatalogue ({}, true).size();
        counts[run][1] = processor.audioUnitCatalogue ({}, false).size();
        seconds[run] = secondsSince (start);
    }

    std::printf ("both catalogues: cold %.3f s, warm %.3f s; %zu instruments, %zu effects\n",
                 seconds[0], seconds[1], counts[1][0], counts[1][1]);
    RecordProperty ("coldSeconds", juce::String (seconds[0], 3).toStdString());
    RecordProperty ("warmSeconds", juce::String (seconds[1], 3).toStdString());

    EXPECT_EQ (counts[0][0], counts[1][0]);
    EXPECT_EQ (counts[0][1], counts[1][1]);
    EXPECT_GT (counts[1][0], 0u);
    EXPECT_GT (counts[1][1], 0u);
    EXPECT_LT (seconds[1], 1.0);
}
