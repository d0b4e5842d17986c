#include "CatalogueTestSupport.h"
#include "hosting/AUFolderCatalogue.h"

using namespace catalogue;

TEST (CatalogueFolder, DescriptionsFromXmlAndBinaryInfoPlists)
{
    for (const bool binary : { false, true })
    {
        SCOPED_TRACE (binary ? "binary" : "XML");
        TemporaryFolder temp;
        writeBundle (temp.folder, "Acme.component",
                     infoPlist ({ component ("aumu", "Abcd", "Wxyz", "Acme: Big Synth"),
                                  component ("aufx", "Efct", "Wxyz", "Acme: Room") }),
                     binary);

        const auto synths = readAudioUnitFolder (temp.folder, true);
        ASSERT_EQ (synths.size(), 1u);
        const auto& synth = synths[0];
        EXPECT_EQ (synth.name, "Big Synth");
        EXPECT_EQ (synth.descriptiveName, "Big Synth");
        EXPECT_EQ (synth.manufacturerName, "Acme");
        EXPECT_EQ (synth.pluginFormatName, "AudioUnit");
        EXPECT_EQ (synth.fileOrIdentifier, "AudioUnit:Synths/aumu,Abcd,Wxyz");
        EXPECT_TRUE (synth.isInstrument);
        EXPECT_EQ (synth.numInputChannels, 0);
        EXPECT_EQ (synth.numOutputChannels, 2);
        EXPECT_TRUE (synth.category.isEmpty());
        EXPECT_TRUE (synth.version.isEmpty());
        EXPECT_EQ (synth.uniqueId, 0);

        const auto effects = readAudioUnitFolder (temp.folder, false);
        ASSERT_EQ (effects.size(), 1u);
        EXPECT_EQ (effects[0].name, "Room");
        EXPECT_EQ (effects[0].fileOrIdentifier, "AudioUnit:Effects/aufx,Efct,Wxyz");
        EXPECT_FALSE (effects[0].isInstrument);
        EXPECT_EQ (effects[0].numInputChannels, 2);
    }
}

TEST (CatalogueFolder, WhichComponentsAreListed)
{
    struct Case
    {
        const char* name;
        Node component;
        const char* instrument;   // identifier in the instrument list, or null
        const char* effect;       // identifier in the effect list, or null
        const char* listedName;
        const char* manufacturer;
    };

    auto withCodes = [] (Node type, Node subtype, Node manufacturer, const char* name)
    {
        return dict ({ { "type", type }, { "subtype", subtype }, { "manufacturer", manufacturer }, { "name", str (name) } });
    };

    const Case cases[] = {
        { "name without colon",     component ("aumu", "Abcd", "Wxyz", "Big Synth"),   "AudioUnit:Synths/aumu,Abcd,Wxyz", nullptr, "Big Synth", "Wxyz" },
        { "split at first colon",   component ("aumu", "Abcd", "Wxyz", "A: B: C"),     "AudioUnit:Synths/aumu,Abcd,Wxyz", nullptr, "B: C", "A" },
        { "empty maker before colon", component ("aumu", "Abcd", "Wxyz", " : Solo"),   "AudioUnit:Synths/aumu,Abcd,Wxyz", nullptr, "Solo", "" },
        { "music effect",           component ("aumf", "Abcd", "Wxyz", "X: Gate"),     nullptr, "AudioUnit:Effects/aumf,Abcd,Wxyz", "Gate", "X" },
        { "integer codes",          withCodes (num (1635085685), num (0x41626364), num (0x5778797a), "Int: Synth"),
                                    "AudioUnit:Synths/aumu,Abcd,Wxyz", nullptr, "Synth", "Int" },
        { "MIDI processor",         component ("aumi", "Abcd", "Wxyz", "X: Arp"),      nullptr, nullptr, nullptr, nullptr },
        { "generator",              component ("augn", "Abcd", "Wxyz", "X: Tone"),     nullptr, nullptr, nullptr, nullptr },
        { "type with other case",   component ("AUMU", "Abcd", "Wxyz", "X: Loud"),     nullptr, nullptr, nullptr, nullptr },
        { "3-character subtype",    component ("aumu", "Abc", "Wxyz", "X: Short"),     nullptr, nullptr, nullptr, nullptr },
        { "5-character subtype",    component ("aufx", "Abcde", "Wxyz", "X: Long"),    nullptr, nullptr, nullptr, nullptr },
        { "5-character maker",      component ("aumu", "Abcd", "Wxyza", "X: Long"),    nullptr, nullptr, nullptr, nullptr },
        { "integer with zero byte", withCodes (str ("aumu"), num (0x41620064), str ("Wxyz"), "X: Zero"), nullptr, nullptr, nullptr, nullptr },
        { "empty name",             component ("aumu", "Abcd", "Wxyz", ""),            nullptr, nullptr, nullptr, nullptr },
        { "empty after colon",      component ("aumu", "Abcd", "Wxyz", "Maker:  "),    nullptr, nullptr, nullptr, nullptr },
        { "own name in any case",   component ("aumu", "Abcd", "Wxyz", "X: my Vellix layer"), nullptr, nullptr, nullptr, nullptr },
        { "not a dictionary",       str ("aumu"),                                      nullptr, nullptr, nullptr, nullptr },
        { "codes missing",          dict ({ { "name", str ("X: Bare") } }),            nullptr, nullptr, nullptr, nullptr },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TemporaryFolder temp;
        writeBundle (temp.folder, "One.component", infoPlist ({ c.component }));

        for (const bool instruments : { true, false })
        {
            const auto expected = instruments ? c.instrument : c.effect;
            const auto list = readAudioUnitFolder (temp.folder, instruments);

            if (expected == nullptr)
            {
                EXPECT_TRUE (list.empty()) << (instruments ? "instruments: " : "effects: ") << namesOf (list).joinIntoString (", ");
                continue;
            }

            ASSERT_EQ (list.size(), 1u);
            EXPECT_EQ (list[0].fileOrIdentifier, expected);
            EXPECT_EQ (list[0].name, c.listedName);
            EXPECT_EQ (list[0].manufacturerName, c.manufacturer);
        }
    }
}

TEST (CatalogueFolder, BundlesThatAreSkippedWhole)
{
    TemporaryFolder temp;
    writeBundle (temp.folder, "Self.component", infoPlist ({ component ("aumu", "Self", "Vlx1", "Us: Layer") }, vellixBundleIdentifier));
    writeBundle (temp.folder, "NoArray.component", dict ({ { "AudioComponents", component ("aumu", "Abcd", "Wxyz", "X: Y") } }));
    writeBundle (temp.folder, "ArrayRoot.component", arr ({ component ("aumu", "Abcd", "Wxyz", "X: Y") }));
    (temp / "Broken.component/Contents").createDirectory();
    (temp / "Broken.component/Contents/Info.plist").replaceWithText ("<plist><dict><key>AudioComponents</key>");
    (temp / "Empty.component").createDirectory();
    writeBundle (temp.folder, "Fine.component", infoPlist ({ component ("aumu", "Fine", "Wxyz", "X: Fine") }));

    EXPECT_EQ (namesOf (readAudioUnitFolder (temp.folder, true)), juce::StringArray ("Fine"));
}

TEST (CatalogueFolder, SearchesSevenLevelsIncludingHiddenFolders)
{
    TemporaryFolder temp;

    auto bundleAtDepth = [&] (int folders, const juce::String& name)
    {
        auto folder = temp / "depth";

        for (int i = 0; i < folders; ++i)
            folder = folder.getChildFile (i == 2 ? ".hidden" : "level" + juce::String (i));

        writeBundle (folder, name + ".component", infoPlist ({ component ("aumu", (name + "xxxx").substring (0, 4).toStdString(), "Wxyz", name.toStdString()) }));
    };

    bundleAtDepth (0, "Top");
    bundleAtDepth (3, "Hid");
    bundleAtDepth (6, "Six");
    bundleAtDepth (7, "Sev");

    EXPECT_EQ (namesOf (readAudioUnitFolder (temp / "depth", true)), juce::StringArray ("Hid", "Six", "Top"));

    // A bundle is never searched further.
    writeBundle (temp / "depth/Top.component", "Inner.component", infoPlist ({ component ("aumu", "Innr", "Wxyz", "Inner") }));
    EXPECT_EQ (namesOf (readAudioUnitFolder (temp / "depth", true)), juce::StringArray ("Hid", "Six", "Top"));
}

TEST (CatalogueFolder, SymbolicLinks)
{
    TemporaryFolder temp;
    const auto root = temp / "root";
    const auto elsewhere = temp / "elsewhere";
    const auto synth = writeBundle (root, "Synth.component", infoPlist ({ component ("aumu", "Syn1", "Wxyz", "Acme: Synth") }));
    const auto outside = writeBundle (elsewhere, "Outside.component", infoPlist ({ component ("aumu", "Out1", "Wxyz", "Acme: Outside") }));

    ASSERT_TRUE (root.getChildFile ("sub").createDirectory());

    // A link to a bundle inside the folder: the same component, listed once.
    ASSERT_TRUE (synth.createSymbolicLink (root.getChildFile ("Alias.component"), true));
    // A link to a bundle outside: read.
    ASSERT_TRUE (outside.createSymbolicLink (root.getChildFile ("sub/Linked.component"), true));
    // A link to another folder: not followed, even to find bundles there.
    ASSERT_TRUE (elsewhere.createSymbolicLink (root.getChildFile ("FolderLink"), true));
    // Links that loop back up the tree.
    ASSERT_TRUE (root.createSymbolicLink (root.getChildFile ("sub/loop"), true));
    ASSERT_TRUE (root.createSymbolicLink (root.getChildFile ("sub/Loop.component"), true));
    // A dangling link.
    ASSERT_TRUE ((temp / "gone.component").createSymbolicLink (root.getChildFile ("Dangling.component"), true));

    const auto list = readAudioUnitFolder (root, true);
    EXPECT_EQ (namesOf (list), juce::StringArray ("Outside", "Synth"));
}

TEST (CatalogueFolder, SortedNaturallyWithoutDuplicateIdentifiers)
{
    TemporaryFolder temp;
    writeBundle (temp.folder, "A.component", infoPlist ({ component ("aumu", "S010", "Wxyz", "Synth 10"),
                                                         component ("aumu", "s002", "Wxyz", "synth 2"),
                                                         component ("aumu", "Beta", "Wxyz", "Beta"),
                                                         component ("aumu", "alph", "Wxyz", "alpha") }));
    // Same identifier as "Beta" under another name, in two more bundles: the
    // entry that comes first by name survives.
    writeBundle (temp.folder, "B.component", infoPlist ({ component ("aumu", "Beta", "Wxyz", "Zed copy") }));
    writeBundle (temp.folder, "C.component", infoPlist ({ component ("aumu", "Beta", "Wxyz", "Able copy") }));
    // Same codes but a different case: a different identifier.
    writeBundle (temp.folder, "D.component", infoPlist ({ component ("aumu", "BETA", "Wxyz", "Loud") }));

    const auto list = readAudioUnitFolder (temp.folder, true);
    EXPECT_EQ (namesOf (list), juce::StringArray ("Able copy", "alpha", "Loud", "synth 2", "Synth 10"));
}

TEST (CatalogueFolder, NotADirectoryListsNothing)
{
    TemporaryFolder temp;
    const auto file = temp / "file.component";
    file.replaceWithText ("not a folder");

    EXPECT_TRUE (readAudioUnitFolder (file, true).empty());
    EXPECT_TRUE (readAudioUnitFolder (temp / "absent", false).empty());
    EXPECT_TRUE (readAudioUnitFolder ({}, true).empty());
}
