// Sounds from elsewhere that name plug-in files outside the plug-in folders:
// the rack never opens them, keeps what the sound stored and says why.

#include "LoadingTestSupport.h"
#include "hosting/PluginTrust.h"

#include <dlfcn.h>
#include <unistd.h>

using namespace loading;

namespace
{
    /** A temporary tree with a plug-in folder the rack trusts and a folder
        beside it that it does not. */
    struct Tree
    {
        Tree()
        {
            root.createDirectory();
            installed.createDirectory();
            outside.createDirectory();
            PluginTrust::addPluginFolder (installed);
            PluginTrust::setApprovalsFile (root.getChildFile ("approved.txt"));
        }

        ~Tree()
        {
            PluginTrust::setApprovalsFile (previousApprovals);
            root.deleteRecursively();
        }

        juce::File bundle (const juce::File& folder, const juce::String& name) const
        {
            auto file = folder.getChildFile (name);
            file.getChildFile ("Contents/x86_64-linux").createDirectory();
            return file;
        }

        void link (const juce::File& at, const juce::File& target) const
        {
            ASSERT_EQ (::symlink (target.getFullPathName().toRawUTF8(), at.getFullPathName().toRawUTF8()), 0);
        }

        juce::File previousApprovals = PluginTrust::approvalsFile();
        juce::File root = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile ("vellix-trust", {}, false);
        juce::File installed = root.getChildFile ("installed");
        juce::File outside = root.getChildFile ("outside");
    };

    juce::PluginDescription described (const juce::String& format, const juce::String& identifier)
    {
        juce::PluginDescription d;
        d.name = "Somebody's plug-in";
        d.pluginFormatName = format;
        d.fileOrIdentifier = identifier;
        d.isInstrument = true;
        return d;
    }

    /** Copies a built fixture bundle to a folder; the copy's code is the
        "foreign" code a sound must not make the rack load. */
    juce::File copyFixture (const juce::String& product, const juce::File& folder)
    {
        const auto copy = folder.getChildFile (product + ".vst3");
        EXPECT_TRUE (fixtureVst3 (product).copyDirectoryTo (copy)) << "fixture not built: " << product;
        return copy;
    }

    juce::File libraryOf (const juce::File& bundle)
    {
        return bundle.getChildFile ("Contents/x86_64-linux/" + bundle.getFileNameWithoutExtension() + ".so");
    }

    bool isLoadedInThisProcess (const juce::File& library)
    {
        auto* handle = dlopen (library.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_NOLOAD);

        if (handle == nullptr)
            return false;

        dlclose (handle);
        return true;
    }

    juce::MemoryBlock pngPreview()
    {
        juce::Image image (juce::Image::RGB, 6, 4, true);
        image.setPixelAt (2, 1, juce::Colours::orange);
        juce::MemoryOutputStream png;
        juce::PNGImageFormat().writeImageToStream (image, png);
        return png.getMemoryBlock();
    }

    /** An empty rack's state with the given slots filled in, as a sound file
        from another machine would hold it. */
    struct StoredSlot
    {
        int index;
        juce::PluginDescription description;
        juce::MemoryBlock state, preview;
    };

    juce::MemoryBlock soundWith (const std::vector<StoredSlot>& stored)
    {
        ChainProcessor empty;
        juce::MemoryBlock bytes;
        empty.getStateInformation (bytes);
        auto xml = juce::AudioProcessor::getXmlFromBinary (bytes.getData(), (int) bytes.getSize());

        for (const auto& entry : stored)
        {
            for (auto* slot : xml->getChildWithTagNameIterator ("SLOT"))
            {
                if (slot->getIntAttribute ("index") != entry.index)
                    continue;

                slot->addChildElement (entry.description.createXml().release());
                slot->createNewChildElement ("STATE")->addTextElement (entry.state.toBase64Encoding());

                if (! entry.preview.isEmpty())
                    slot->createNewChildElement ("PREVIEW")->addTextElement (entry.preview.toBase64Encoding());
            }
        }

        juce::MemoryBlock sound;
        juce::AudioProcessor::copyXmlToBinary (*xml, sound);
        return sound;
    }
}

//==============================================================================
TEST (PluginTrustPaths, OnlyBundlesInsideThePlugInFoldersOrApprovedOnesMayBeOpened)
{
    Tree tree;
    const auto inside = tree.bundle (tree.installed, "Good.vst3");
    const auto foreign = tree.bundle (tree.outside, "Evil.vst3");
    const auto installedPath = tree.installed.getFullPathName();
    const auto outsidePath = tree.outside.getFullPathName();

    // A link the folder's owner placed among the plug-ins counts as installed;
    // a link outside that leads in is judged by where it leads.
    tree.link (tree.installed.getChildFile ("Linked.vst3"), foreign);
    tree.link (tree.outside.getChildFile ("IntoFolder"), tree.installed);
    tree.link (tree.outside.getChildFile ("Escape"), tree.root);

    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    const auto homeRelative = "~/" + tree.outside.getChildFile ("Evil.vst3").getRelativePathFrom (home);

    struct Case { const char* name; juce::String format, identifier; bool allowed; };
    const std::vector<Case> cases {
        { "installed bundle",                          "VST3", inside.getFullPathName(),                     true },
        { "installed but missing (fails as before)",   "VST3", installedPath + "/Gone.vst3",                 true },
        { "bundle in another folder",                  "VST3", foreign.getFullPathName(),                    false },
        { "'..' out of the plug-in folder",            "VST3", installedPath + "/../outside/Evil.vst3",      false },
        { "'..' through a missing folder",             "VST3", installedPath + "/none/../../outside/Evil.vst3", false },
        { "ends in '..'",                              "VST3", installedPath + "/Good.vst3/..",              false },
        { "'.' parts",                                 "VST3", installedPath + "/./Good.vst3",               true },
        { "doubled separators",                        "VST3", installedPath + "//Good.vst3",                true },
        { "link placed in the plug-in folder",         "VST3", installedPath + "/Linked.vst3",               true },
        { "outside link that leads into the folder",   "VST3", outsidePath + "/IntoFolder/Good.vst3",        true },
        { "outside link, then '..' of the link",       "VST3", outsidePath + "/Escape/outside/Evil.vst3",    false },
        { "folder name as a prefix of another",        "VST3", installedPath + "-not/Evil.vst3",             false },
        { "the plug-in folder itself",                 "VST3", installedPath,                                false },
        { "relative to the current folder",            "VST3", "Evil.vst3",                                  false },
        { "empty",                                     "VST3", "",                                           false },
        { "home-relative, outside",                    "VST3", homeRelative,                                 false },
        { "another user's home",                       "VST3", "~root/.vst3/Evil.vst3",                      false },
        { "format name in other case",                 "vst3", foreign.getFullPathName(),                    false },
        { "another format naming a file",              "LADSPA", foreign.getFullPathName(),                  false },
        { "another format with a file URL",            "VST", "file://" + foreign.getFullPathName(),         false },
        { "an identifier that is no path",             "Fake", "fake:synth",                                 true },
        { "LV2 is looked up by URI only",              "LV2", foreign.getFullPathName(),                     true },
    };

    for (const auto& c : cases)
        EXPECT_EQ (PluginTrust::refusal (described (c.format, c.identifier)).isEmpty(), c.allowed)
            << c.name << ": " << c.identifier;

    EXPECT_EQ (PluginTrust::refusal (described ("VST3", foreign.getFullPathName())),
               juce::String ("Plug-in is outside the plug-in folders"));
}

TEST (PluginTrustPaths, ABundleTheUserChoseIsApprovedUnderItsResolvedPathAndNothingBesideIt)
{
    Tree tree;
    const auto chosen = tree.bundle (tree.outside, "Chosen.vst3");
    const auto neighbour = tree.bundle (tree.outside, "Neighbour.vst3");
    tree.link (tree.root.getChildFile ("Shortcut.vst3"), chosen);

    EXPECT_FALSE (PluginTrust::refusal (described ("VST3", chosen.getFullPathName())).isEmpty());

    // Chosen through a link: the record names the bundle itself.
    PluginTrust::approve (tree.root.getChildFile ("Shortcut.vst3"));
    PluginTrust::approve (chosen);

    EXPECT_EQ (PluginTrust::approvalsFile().loadFileAsString(), chosen.getFullPathName() + "\n");

    struct Case { const char* name; juce::String identifier; bool allowed; };
    const std::vector<Case> cases {
        { "the chosen bundle",           chosen.getFullPathName(),                           true },
        { "through the link",            tree.root.getChildFile ("Shortcut.vst3").getFullPathName(), true },
        { "its shared object",           libraryOf (chosen).getFullPathName(),               true },
        { "a bundle beside it",          neighbour.getFullPathName(),                        false },
        { "a name it prefixes",          chosen.getFullPathName() + "2",                     false },
        { "its folder",                  tree.outside.getFullPathName(),                     false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (PluginTrust::refusal (described ("VST3", c.identifier)).isEmpty(), c.allowed) << c.name;
}

TEST (PluginTrustPaths, AnApprovalsFileThatCannotBeWrittenOrIsNotOursApprovesNothing)
{
    Tree tree;
    const auto chosen = tree.bundle (tree.outside, "Chosen.vst3");

    // A file where the folder should be: the record is lost, nothing breaks.
    tree.root.getChildFile ("blocked").replaceWithText ("x");
    PluginTrust::setApprovalsFile (tree.root.getChildFile ("blocked/approved.txt"));
    PluginTrust::approve (chosen);
    EXPECT_FALSE (PluginTrust::refusal (described ("VST3", chosen.getFullPathName())).isEmpty());

    // An oversized file is not read at all.
    const auto huge = tree.root.getChildFile ("huge.txt");
    {
        juce::FileOutputStream out (huge);
        out.writeText (chosen.getFullPathName() + "\n", false, false, nullptr);
        out.writeRepeatedByte ('\n', 2 * 1024 * 1024);
    }
    PluginTrust::setApprovalsFile (huge);
    EXPECT_FALSE (PluginTrust::refusal (described ("VST3", chosen.getFullPathName())).isEmpty());
}

//==============================================================================
TEST (HostileSounds, APlugInOutsideTheFoldersIsNeverOpenedAndTheSlotKeepsWhatTheSoundStored)
{
    Tree tree;
    installFixtureVst3Folder();

    const auto foreign = copyFixture ("FixtureInstrument", tree.outside);
    const auto state = bytes ("whatever the foreign plug-in saved");
    const auto preview = pngPreview();

    juce::PluginDescription installedEffect;
    juce::MemoryBlock sound;

    {
        ChainProcessor describer;
        auto foreignDescription = describe (describer.formatManager, "VST3", fixtureVst3 ("FixtureInstrument").getFullPathName());
        installedEffect = describe (describer.formatManager, "VST3", fixtureVst3 ("FixtureEffect").getFullPathName());
        ASSERT_TRUE (foreignDescription.fileOrIdentifier.isNotEmpty());
        ASSERT_TRUE (installedEffect.fileOrIdentifier.isNotEmpty());
        foreignDescription.fileOrIdentifier = foreign.getFullPathName();

        sound = soundWith ({ { 0, foreignDescription, state, preview },
                             { 4, installedEffect, {}, {} } });
    }

    ChainProcessor processor;
    processor.setStateInformation (sound.getData(), (int) sound.getSize());
    ASSERT_TRUE (settle (processor));

    const auto refused = viewSlot (processor, 0);
    EXPECT_EQ (refused.hosted, nullptr);
    EXPECT_FALSE (refused.loading);
    EXPECT_EQ (refused.message, "Plug-in is outside the plug-in folders");
    EXPECT_EQ (refused.description.fileOrIdentifier, foreign.getFullPathName());
    EXPECT_EQ (refused.state, state);
    EXPECT_EQ (refused.preview, preview);
    EXPECT_FALSE (isLoadedInThisProcess (libraryOf (foreign)));

    // The installed plug-in of the same sound plays as before.
    const auto effect = viewSlot (processor, 4);
    ASSERT_NE (effect.hosted, nullptr) << effect.message;
    EXPECT_TRUE (effect.message.isEmpty());

    // Saving the rack again gives back the refused slot unchanged.
    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    const auto savedXml = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    const auto soundXml = juce::AudioProcessor::getXmlFromBinary (sound.getData(), (int) sound.getSize());
    ASSERT_NE (savedXml, nullptr);
    EXPECT_TRUE (savedXml->getChildElement (1)->isEquivalentTo (soundXml->getChildElement (1), false))
        << savedXml->getChildElement (1)->toString();

    // A second restore into the refused slot is refused again, opening nothing.
    processor.setStateInformation (saved.getData(), (int) saved.getSize());
    ASSERT_TRUE (settle (processor));
    EXPECT_EQ (viewSlot (processor, 0).message, "Plug-in is outside the plug-in folders");
    EXPECT_FALSE (isLoadedInThisProcess (libraryOf (foreign)));
}

TEST (HostileSounds, ABundleTheUserOnceChoseOpensFromASound)
{
    Tree tree;
    const auto chosen = copyFixture ("FixtureInstrument", tree.outside);

    juce::PluginDescription description;

    {
        ChainProcessor describer;
        description = describe (describer.formatManager, "VST3", chosen.getFullPathName());
        ASSERT_TRUE (description.fileOrIdentifier.isNotEmpty());
    }

    const auto sound = soundWith ({ { 1, description, {}, {} } });
    PluginTrust::approve (chosen);

    ChainProcessor processor;
    processor.setStateInformation (sound.getData(), (int) sound.getSize());
    ASSERT_TRUE (settle (processor));
    const auto slot = viewSlot (processor, 1);
    EXPECT_NE (slot.hosted, nullptr) << slot.message;
    EXPECT_TRUE (isLoadedInThisProcess (libraryOf (chosen)));
}

TEST (HostileSounds, AnLV2DescriptionCannotMakeTheHostReadABundleFromAPath)
{
    // The fixture LV2 bundles are not in any folder the LV2 world searches.
    const auto bundle = fixtureFolder().getChildFile ("lv2/FixtureEffect.lv2");
    ASSERT_TRUE (bundle.isDirectory()) << "fixture not built";
    juce::File library;

    for (const auto& entry : juce::RangedDirectoryIterator (bundle, false, "*.so"))
        library = entry.getFile();

    ASSERT_TRUE (library.existsAsFile());

    const auto bundleUrl = juce::URL (bundle).toString (false);
    const std::vector<juce::String> identifiers {
        fixtureLv2Uri ("FixtureEffect"),
        bundle.getFullPathName(),
        bundle.getFullPathName() + "/",
        bundleUrl,
        bundleUrl + "/",
        library.getFullPathName(),
        juce::URL (library).toString (false),
    };

    ChainProcessor processor;

    for (const auto& identifier : identifiers)
    {
        auto d = described ("LV2", identifier);
        d.isInstrument = false;
        const auto sound = soundWith ({ { 4, d, {}, {} } });
        processor.setStateInformation (sound.getData(), (int) sound.getSize());
        ASSERT_TRUE (settle (processor));

        const auto slot = viewSlot (processor, 4);
        EXPECT_EQ (slot.hosted, nullptr) << identifier;
        EXPECT_FALSE (slot.message.isEmpty()) << identifier;
        EXPECT_FALSE (isLoadedInThisProcess (library)) << identifier;
    }
}
