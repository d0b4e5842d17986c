// What is left on disk when the settings file or the library index is written
// to a read-only folder or a full file system: always the previous file, whole.

#include "app/SettingsSaver.h"
#include "library/RackLibrary.h"

#include "library/SmallDisk.h"

#include <gtest/gtest.h>
#include <juce_data_structures/juce_data_structures.h>

namespace
{
    /** readOnly: the folder cannot be written; full: not one byte fits;
        partlyFull: all but the last page of the new file fits, so that its
        last write comes up short without an error. */
    enum class Fault { readOnly, full, partlyFull };
    const std::initializer_list<Fault> faults { Fault::readOnly, Fault::full, Fault::partlyFull };

    juce::String nameOf (Fault fault)
    {
        return fault == Fault::readOnly ? "read-only" : fault == Fault::full ? "full" : "room for part of the file";
    }

    void inflict (SmallDisk& disk, Fault fault, juce::int64 newFileSize)
    {
        if (fault == Fault::readOnly)
            ASSERT_TRUE (disk.makeReadOnly());
        else
            disk.fill (fault == Fault::full ? 0 : (int) ((newFileSize - 1) / 4096 * 4096));
    }

    /** The size a file would have, written where there is room. */
    template <typename Write>
    juce::int64 sizeWritten (Write&& write)
    {
        const juce::TemporaryFile file;
        write (file.getFile());
        return file.getFile().getSize();
    }

    /** The settings as the application keeps them, in a folder of the disk. */
    juce::PropertiesFile::Options settingsOptions (const juce::File& folder)
    {
        juce::PropertiesFile::Options options;
        options.applicationName = "VELLIX";
        options.filenameSuffix = ".settings";
        options.folderName = folder.getFullPathName();
        return options;
    }

    /** A rack state of some size, as the quit stores it under "filterState". */
    juce::String bigRackText (int bytes)
    {
        juce::MemoryBlock block ((size_t) bytes);

        for (size_t i = 0; i < block.getSize(); ++i)
            block[i] = (char) (i * 7919 % 251);

        return block.toBase64Encoding();
    }
}

TEST (DiskFaultsSlow, TheSettingsWrittenAtQuitLeaveThePreviousFileWholeOnAReadOnlyOrFullDisk)
{
    for (const auto fault : faults)
    {
        SCOPED_TRACE (nameOf (fault).toStdString());
        SmallDisk disk (256);

        if (! disk.mounted)
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";

        const auto file = disk.folder.getChildFile ("VELLIX.settings");

        {
            juce::PropertiesFile settings (file, settingsOptions (disk.folder));
            settings.setValue ("audioSetup", "<DEVICESETUP deviceType=\"ALSA\"/>");
            settings.setValue ("filterState", bigRackText (2000));
            ASSERT_TRUE (settings.save());
        }

        const auto before = file.loadFileAsString();
        inflict (disk, fault, sizeWritten ([] (const juce::File& elsewhere)
        {
            juce::PropertiesFile settings (elsewhere, settingsOptions (elsewhere.getParentDirectory()));
            settings.setValue ("audioSetup", "<DEVICESETUP deviceType=\"ALSA\"/>");
            settings.setValue ("filterState", bigRackText (120000));
            settings.save();
        }));

        {
            // As the quit does it: the rack goes in, the settings are written,
            // then JUCE's properties file is destroyed (and would save too).
            juce::PropertiesFile settings (file, settingsOptions (disk.folder));
            SettingsSaver saver (settings, settingsOptions (disk.folder));
            ASSERT_EQ (settings.getValue ("filterState"), bigRackText (2000));
            settings.setValue ("filterState", bigRackText (120000));
            EXPECT_FALSE (saver.saveIfNeeded());
        }

        EXPECT_TRUE (file.loadFileAsString() == before) << "the settings file changed: " << file.getSize() << " bytes";
        juce::PropertiesFile reread (file, settingsOptions (disk.folder));
        EXPECT_TRUE (reread.getValue ("filterState") == bigRackText (2000));
        for (const auto& entry : juce::RangedDirectoryIterator (disk.folder, false, "*", juce::File::findFilesAndDirectories))
            EXPECT_TRUE (entry.getFile() == file || entry.getFile().getFileName() == "filler")
                << "left behind: " << entry.getFile().getFileName();
    }
}

TEST (DiskFaultsSlow, TheLibraryIndexLeavesThePreviousIndexWholeOnAReadOnlyOrFullDisk)
{
    for (const auto fault : faults)
    {
        SCOPED_TRACE (nameOf (fault).toStdString());
        SmallDisk disk (128);

        if (! disk.mounted)
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";

        const auto index = disk.folder.getChildFile (".library.xml");

        {
            RackLibrary library (disk.folder);
            library.folders.add ("/home/someone/Sounds");
            library.files.add ("/home/someone/Pad.vellix");
            ASSERT_TRUE (library.persist());
        }

        const auto before = index.loadFileAsString();

        RackLibrary library (disk.folder);
        ASSERT_EQ (library.files, juce::StringArray ("/home/someone/Pad.vellix"));

        for (int i = 0; i < 3000; ++i)
            library.files.add ("/home/someone/Sounds/A sound with a long name " + juce::String (i) + ".vellix");

        inflict (disk, fault, sizeWritten ([&] (const juce::File& elsewhere)
        {
            elsewhere.createDirectory();
            RackLibrary copy (elsewhere);
            copy.auFolder = library.auFolder;
            copy.folders = library.folders;
            copy.files = library.files;
            copy.persist();
            elsewhere.getChildFile (".library.xml").moveFileTo (elsewhere.getSiblingFile ("index"));
            elsewhere.deleteRecursively();
            elsewhere.getSiblingFile ("index").moveFileTo (elsewhere);
        }));

        EXPECT_FALSE (library.persist());
        EXPECT_TRUE (index.loadFileAsString() == before) << "the index changed: " << index.getSize() << " bytes";
        EXPECT_EQ (RackLibrary (disk.folder).files, juce::StringArray ("/home/someone/Pad.vellix"));

        // Nothing half-written is left beside the index either.
        for (const auto& entry : juce::RangedDirectoryIterator (disk.folder, false, "*", juce::File::findFilesAndDirectories))
            EXPECT_TRUE (entry.getFile() == index || entry.getFile().getFileName() == "filler")
                << "left behind: " << entry.getFile().getFileName();
    }
}

TEST (SettingsSaving, WhatIsWrittenReadsBackAsJUCEsOwnFileAndJUCENeverWritesItself)
{
    const auto folder = juce::File::createTempFile ("vellix-settings");
    folder.createDirectory();
    const auto file = folder.getChildFile ("VELLIX.settings");

    {
        juce::PropertiesFile settings (file, settingsOptions (folder));
        SettingsSaver saver (settings, settingsOptions (folder));
        EXPECT_TRUE (saver.saveIfNeeded()) << "nothing to write is no failure";
        EXPECT_FALSE (file.exists());

        settings.setValue ("audioSetup", "<DEVICESETUP deviceType=\"ALSA\" audioOutputDeviceName=\"hw:0\"/>");
        settings.setValue ("shouldMuteInput", false);
        settings.setValue ("filterState", bigRackText (3000));
        settings.setValue ("odd", "quotes \" & <angles> ");

        // A change is written as soon as the message loop runs.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
        ASSERT_TRUE (file.existsAsFile());
        EXPECT_FALSE (settings.needsToBeSaved());

        // What JUCE would write for the same values, for comparison.
        juce::PropertiesFile reference (folder.getChildFile ("reference.settings"), settingsOptions (folder));
        reference.getAllProperties() = settings.getAllProperties();
        ASSERT_TRUE (reference.save());
        EXPECT_EQ (file.loadFileAsString(), folder.getChildFile ("reference.settings").loadFileAsString());

        // A write JUCE would start by itself later finds the file up to date:
        // make the file differ and see that nothing rewrites it.
        file.replaceWithText ("marker");
    }

    EXPECT_EQ (file.loadFileAsString(), "marker");
    folder.deleteRecursively();
}
