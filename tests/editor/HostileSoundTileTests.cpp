// The tile's side of sounds that name plug-in files outside the plug-in
// folders: a refused slot says why, and a bundle the user chose from a file
// is remembered so that sounds using it open again.

#include "editor/PluginTile.h"
#include "hosting/PluginTrust.h"

#include "EditorTestSupport.h"

namespace
{
    juce::File builtFixture (const char* name)
    {
        return juce::File (VELLIX_TEST_BINARY_DIR).getParentDirectory().getChildFile ("fixtures/vst3").getChildFile (name);
    }

    /** A copy of a fixture bundle in a folder no plug-in folder contains. */
    struct ForeignBundle
    {
        explicit ForeignBundle (const char* name)
        {
            // The format finds the shared object by the bundle's name.
            bundle = folder.getChildFile (name);
            folder.createDirectory();
            built = builtFixture (name).getChildFile ("Contents").findChildFiles (juce::File::findFiles, true, "*.so").size() > 0
                    && builtFixture (name).copyDirectoryTo (bundle);
            PluginTrust::setApprovalsFile (folder.getChildFile ("approved.txt"));
        }

        ~ForeignBundle()
        {
            PluginTrust::setApprovalsFile (previousApprovals);
            folder.deleteRecursively();
        }

        juce::File previousApprovals = PluginTrust::approvalsFile();
        juce::File folder = juce::File::createTempFile ("vellix-foreign");
        juce::File bundle;
        bool built = false;
    };

    /** An empty rack's state whose slot 0 names the given plug-in. */
    juce::MemoryBlock soundNaming (const juce::PluginDescription& description)
    {
        ChainProcessor empty;
        juce::MemoryBlock bytes;
        empty.getStateInformation (bytes);
        auto xml = juce::AudioProcessor::getXmlFromBinary (bytes.getData(), (int) bytes.getSize());
        auto* slot = xml->getChildByAttribute ("index", "0");
        slot->addChildElement (description.createXml().release());
        slot->createNewChildElement ("STATE");

        juce::MemoryBlock sound;
        juce::AudioProcessor::copyXmlToBinary (*xml, sound);
        return sound;
    }

    bool settled (ChainProcessor& processor)
    {
        for (int waited = 0; waited < 10000; waited += 20)
        {
            {
                const juce::ScopedLock sl (processor.lock);

                if (! processor.slots[0].loading)
                    return true;
            }

            editortest::pump (20);
        }

        return false;
    }
}

TEST (HostileSoundTile, ARefusedSlotSaysWhyAndABundleChosenFromAFileOpensFromSoundsLater)
{
    ForeignBundle foreign ("FixtureInstrument.vst3");

    if (! foreign.built)
        GTEST_SKIP() << "fixture bundles not built";

    std::vector<juce::PluginDescription> catalogue;
    juce::PluginDescription description;

    {
        ChainProcessor describer;
        const auto found = PluginTile::matchingPlugins (describer.formatManager, foreign.bundle.getFullPathName(), true);
        ASSERT_EQ (found.size(), 1u);
        description = found.front();
    }

    const auto sound = soundNaming (description);

    {
        ChainProcessor processor;
        processor.setStateInformation (sound.getData(), (int) sound.getSize());
        ASSERT_TRUE (settled (processor));

        PluginTile tile (processor, 0, catalogue);
        tile.update (nullptr);
        EXPECT_EQ (tile.status.getTooltip(), "Plug-in is outside the plug-in folders");
    }

    {
        ChainProcessor processor;

        // Offered to a slot of the wrong kind, the bundle is not taken, nor approved.
        PluginTile effectTile (processor, 4, catalogue);
        effectTile.loadFromFile (foreign.bundle);
        EXPECT_FALSE (PluginTrust::approvalsFile().existsAsFile());

        PluginTile tile (processor, 0, catalogue);
        tile.loadFromFile (foreign.bundle);
        ASSERT_TRUE (settled (processor));
        EXPECT_EQ (PluginTrust::approvalsFile().loadFileAsString().trim(), foreign.bundle.getFullPathName());
        editortest::pump (50);
    }

    ChainProcessor processor;
    processor.setStateInformation (sound.getData(), (int) sound.getSize());
    ASSERT_TRUE (settled (processor));

    const juce::ScopedLock sl (processor.lock);
    EXPECT_NE (processor.slots[0].hosted, nullptr) << processor.slots[0].message;
}
