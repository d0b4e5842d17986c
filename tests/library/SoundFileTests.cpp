// Saving and opening sounds through the rack editor, and the sound menu that
// follows them.

#include "editor/ChainEditor.h"
#include "hosting/LoadingTestSupport.h"
#include "library/RackLibrary.h"
#include "library/SmallDisk.h"

#include <gtest/gtest.h>

namespace
{
    juce::String nameOf (ChainProcessor& processor)
    {
        const juce::ScopedLock sl (processor.lock);
        return processor.name;
    }

    juce::StringArray menuItems (juce::ComboBox& menu)
    {
        juce::StringArray items;

        for (int i = 0; i < menu.getNumItems(); ++i)
            items.add (menu.getItemText (i));

        return items;
    }

    struct SoundFiles : public ::testing::Test
    {
        juce::File base = juce::File::createTempFile ("vellix-sounds");
        juce::File libraryFolder = base.getChildFile ("Sounds");
        std::unique_ptr<ChainProcessor> processor = std::make_unique<ChainProcessor>();
        std::unique_ptr<ChainEditor> editor;

        void SetUp() override
        {
            ASSERT_TRUE (libraryFolder.createDirectory().wasOk());
            loading::installFixtureVst3Folder();
            editor = std::make_unique<ChainEditor> (*processor, libraryFolder);
        }

        void TearDown() override
        {
            editor = nullptr;
            loading::settle (*processor);
            processor = nullptr;
            base.deleteRecursively();
        }

        juce::AlertWindow* findAlert() const
        {
            auto& desktop = juce::Desktop::getInstance();

            for (int i = 0; i < desktop.getNumComponents(); ++i)
                if (auto* alert = dynamic_cast<juce::AlertWindow*> (desktop.getComponent (i)))
                    return alert;

            return nullptr;
        }

        void answerAlert (const juce::String& buttonText)
        {
            ASSERT_TRUE (loading::pumpUntil ([this] { return findAlert() != nullptr; }, 3000));
            auto* alert = findAlert();
            EXPECT_EQ (alert->getName(), "Replace sound?");

            for (auto* child : alert->getChildren())
                if (auto* button = dynamic_cast<juce::Button*> (child))
                    if (button->getButtonText() == buttonText)
                        button->triggerClick();

            loading::pumpUntil ([this] { return findAlert() == nullptr; }, 3000);
            loading::pumpFor (20);
        }
    };
}

TEST_F (SoundFiles, SaveNamesTheSoundAfterTheFileAndListsIt)
{
    struct Row { const char* chosen; const char* written; const char* soundName; };
    const Row rows[] = {
        { "Pad",          "Pad.vellix",      "Pad" },
        { "Pad.txt",      "Pad.txt.vellix",  "Pad.txt" },
        { "Lead.VELLIX",  "Lead.VELLIX",     "Lead" },
    };

    for (const auto& row : rows)
    {
        editor->write (libraryFolder.getChildFile (row.chosen));

        const auto written = libraryFolder.getChildFile (row.written);
        EXPECT_TRUE (RackLibrary::valid (written)) << row.chosen;
        EXPECT_EQ (nameOf (*processor), row.soundName) << row.chosen;
        EXPECT_EQ (editor->soundMenu.getText(), row.soundName) << row.chosen;
        EXPECT_TRUE (editor->library.files.contains (written.getFullPathName())) << row.chosen;
    }

    EXPECT_FALSE (libraryFolder.getChildFile ("Lead.VELLIX.vellix").exists());
    EXPECT_EQ (menuItems (editor->soundMenu), (juce::StringArray { "Lead", "Pad.txt", "Pad" })) << "sorted by file name with its extension";
    EXPECT_TRUE (RackLibrary (libraryFolder).files.contains (libraryFolder.getChildFile ("Pad.vellix").getFullPathName()))
        << "the index on disk records the saved file";
}

TEST_F (SoundFiles, FailedSaveKeepsTheNameTheIndexAndTheMenu)
{
    editor->write (libraryFolder.getChildFile ("Keep"));
    ASSERT_EQ (nameOf (*processor), "Keep");
    const auto indexBefore = libraryFolder.getChildFile (".library.xml").loadFileAsString();
    const auto itemsBefore = menuItems (editor->soundMenu);

    // A file where the folder should be: nothing can be written below it.
    const auto blocker = base.getChildFile ("Blocker");
    blocker.replaceWithText ("in the way");
    editor->write (blocker.getChildFile ("Broken"));

    EXPECT_EQ (editor->statusLabel.getText(), "Unable to save sound");
    EXPECT_EQ (nameOf (*processor), "Keep");
    EXPECT_EQ (libraryFolder.getChildFile (".library.xml").loadFileAsString(), indexBefore);
    EXPECT_EQ (menuItems (editor->soundMenu), itemsBefore);
}

TEST_F (SoundFiles, FailedSaveOnAReadOnlyDiskLeavesTheOldSoundIntact)
{
    SmallDisk disk (256);

    if (! disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";

    const auto sound = disk.folder.getChildFile ("Pad.vellix");
    editor->write (sound);
    juce::MemoryBlock before;
    ASSERT_TRUE (sound.loadFileAsData (before));

    disk.makeReadOnly();
    processor->getParameters()[6]->setValueNotifyingHost (1.0f);   // the rack changed since
    {
        const juce::ScopedLock sl (processor->lock);
        processor->name = "Changed";
    }

    editor->write (sound);

    juce::MemoryBlock after;
    EXPECT_TRUE (sound.loadFileAsData (after));
    EXPECT_EQ (after, before);
    EXPECT_EQ (editor->statusLabel.getText(), "Unable to save sound");
    EXPECT_EQ (nameOf (*processor), "Changed");
}

TEST_F (SoundFiles, ReplaceQuestionOnlyForAnAddedExtension)
{
    editor->write (libraryFolder.getChildFile ("Pad"));
    const auto pad = libraryFolder.getChildFile ("Pad.vellix");
    juce::MemoryBlock original;
    ASSERT_TRUE (pad.loadFileAsData (original));

    {
        const juce::ScopedLock sl (processor->lock);
        processor->name = "Other";
    }

    editor->saveChosen (libraryFolder.getChildFile ("Pad"));
    answerAlert ("Cancel");
    juce::MemoryBlock afterCancel;
    pad.loadFileAsData (afterCancel);
    EXPECT_EQ (afterCancel, original) << "Cancel leaves the file as it was";
    EXPECT_EQ (nameOf (*processor), "Other");

    processor->getParameters()[22]->setValueNotifyingHost (1.0f);   // master changes what is saved
    editor->saveChosen (libraryFolder.getChildFile ("Pad"));
    answerAlert ("Replace");
    juce::MemoryBlock afterReplace;
    pad.loadFileAsData (afterReplace);
    EXPECT_NE (afterReplace, original) << "Replace overwrites it";
    EXPECT_EQ (nameOf (*processor), "Pad");

    // A name that already carries the extension is the native dialog's business.
    editor->saveChosen (pad);
    loading::pumpFor (100);
    EXPECT_EQ (findAlert(), nullptr);
}

TEST_F (SoundFiles, OpenTakesTheNameFromInsideAndRecordsTheFolder)
{
    const auto outside = base.getChildFile ("Outside");
    outside.createDirectory();
    editor->write (outside.getChildFile ("Lead"));
    outside.getChildFile ("Lead.vellix").moveFileTo (outside.getChildFile ("Bass.vellix"));
    editor->write (outside.getChildFile ("Other"));

    // A fresh editor on the same library: the outside folder was recorded.
    editor = std::make_unique<ChainEditor> (*processor, libraryFolder);
    EXPECT_EQ (menuItems (editor->soundMenu), (juce::StringArray { "Bass", "Other" }));

    EXPECT_TRUE (editor->read (outside.getChildFile ("Bass.vellix")));
    EXPECT_EQ (nameOf (*processor), "Lead");
    EXPECT_EQ (editor->soundMenu.getText(), "Lead");

    const auto notASound = outside.getChildFile ("Fake.vellix");
    notASound.replaceWithText ("text");
    EXPECT_FALSE (editor->read (notASound));
    EXPECT_EQ (nameOf (*processor), "Lead");
}

TEST_F (SoundFiles, MenuOpensTheChosenSound)
{
    processor->getParameters()[23]->setValueNotifyingHost (1.0f);   // "Grey Metal"
    editor->write (libraryFolder.getChildFile ("Grey"));
    processor->getParameters()[23]->setValueNotifyingHost (0.0f);
    editor->write (libraryFolder.getChildFile ("Classic"));

    editor->refreshSounds();
    ASSERT_EQ (menuItems (editor->soundMenu), (juce::StringArray { "Classic", "Grey" }));

    editor->soundMenu.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (nameOf (*processor), "Grey");
    EXPECT_EQ ((int) processor->parameters.getRawParameterValue ("frameTheme")->load(), 2);
    EXPECT_EQ ((int) editor->getProperties().getWithDefault ("frameTheme", -1), 2);
}

TEST_F (SoundFiles, RackWithFixturePluginsComesBackFromTheMenu)
{
    const auto instrument = loading::fixtureVst3 ("FixtureInstrument");
    const auto effect = loading::fixtureVst3 ("FixtureEffect");

    if (! instrument.isDirectory() || ! effect.isDirectory())
        GTEST_SKIP() << "fixture plug-ins not built at " << instrument.getFullPathName();

    auto instrumentDescription = loading::describe (processor->formatManager, "VST3", instrument.getFullPathName());
    auto effectDescription = loading::describe (processor->formatManager, "VST3", effect.getFullPathName());
    ASSERT_TRUE (instrumentDescription.fileOrIdentifier.isNotEmpty());

    processor->load (1, instrumentDescription, loading::fixtureHostState (processor->formatManager, instrumentDescription, "latency=\"32\""), false, {});
    processor->load (4, effectDescription, loading::fixtureHostState (processor->formatManager, effectDescription, "latency=\"16\""), false, {});
    ASSERT_TRUE (loading::settle (*processor));
    ASSERT_NE (loading::viewSlot (*processor, 1).hosted, nullptr) << loading::viewSlot (*processor, 1).message;
    ASSERT_NE (loading::viewSlot (*processor, 4).hosted, nullptr) << loading::viewSlot (*processor, 4).message;

    editor->write (libraryFolder.getChildFile ("Two Plugins"));

    for (int i = 0; i < ChainProcessor::numSlots; ++i)
        processor->clear (i);

    // The menu selects the item named like the current sound, and choosing
    // the selected item again reopens nothing: start from another name.
    {
        const juce::ScopedLock sl (processor->lock);
        processor->name = "Init sound";
    }

    editor->refreshSounds();
    ASSERT_EQ (menuItems (editor->soundMenu), (juce::StringArray { "Two Plugins" }));
    editor->soundMenu.setSelectedId (1, juce::sendNotificationSync);
    ASSERT_TRUE (loading::settle (*processor));

    const auto layer = loading::viewSlot (*processor, 1);
    const auto fx = loading::viewSlot (*processor, 4);
    ASSERT_NE (layer.hosted, nullptr) << layer.message;
    ASSERT_NE (fx.hosted, nullptr) << fx.message;
    EXPECT_EQ (layer.description.name, instrumentDescription.name);
    EXPECT_EQ (fx.description.name, effectDescription.name);
    // A plug-in reports a restored latency on its own time; the rack follows within its timer tick.
    EXPECT_TRUE (loading::pumpUntil ([&] { return processor->getLatencySamples() == 32 + 16; }, 3000))
        << "latency " << processor->getLatencySamples();

    juce::MemoryBlock restoredState;
    layer.hosted->instance->getStateInformation (restoredState);
    const auto restored = loading::findFixtureReport (restoredState);
    ASSERT_NE (restored, nullptr);
    EXPECT_EQ (restored->getIntAttribute ("latency"), 32) << "the instrument's own state came back";
}
