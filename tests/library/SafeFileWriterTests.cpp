#include "library/SafeFileWriter.h"

#include "library/SmallDisk.h"

#include <gtest/gtest.h>

namespace
{
    juce::String readAll (const juce::File& f) { return f.loadFileAsString(); }

    juce::MemoryBlock filler (size_t size, char c)
    {
        juce::MemoryBlock block (size);
        block.fillWith ((juce::uint8) c);
        return block;
    }
}

TEST (SafeFileWriter, ReplacesAnExistingFileWhole)
{
    const auto file = juce::File::createTempFile (".vellix");
    file.replaceWithText ("a much longer old content that must not survive in part");

    const juce::String fresh ("new");
    ASSERT_TRUE (replaceFileSafely (file, fresh.toRawUTF8(), 3));
    EXPECT_EQ (readAll (file), "new");
    file.deleteFile();
}

TEST (SafeFileWriter, RefusesTargetsThatCannotBeWritten)
{
    const auto folder = juce::File::createTempFile ("vellix-folder");
    folder.createDirectory();

    EXPECT_FALSE (replaceFileSafely (folder, "x", 1)) << "a folder in the way";
    EXPECT_FALSE (replaceFileSafely (folder.getChildFile ("missing/Pad.vellix"), "x", 1)) << "no parent folder";
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0)
        << "no temporary file is left behind";
    folder.deleteRecursively();
}

TEST (SafeFileWriterSlow, FullDiskLeavesTheOldFileIntact)
{
    SmallDisk disk (64);

    if (! disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";

    const auto sound = disk.folder.getChildFile ("Pad.vellix");
    const auto old = filler (16 * 1024, 'o');
    ASSERT_TRUE (replaceFileSafely (sound, old.getData(), old.getSize()));

    const auto bigger = filler (60 * 1024, 'n');
    EXPECT_FALSE (replaceFileSafely (sound, bigger.getData(), bigger.getSize()));

    juce::MemoryBlock after;
    ASSERT_TRUE (sound.loadFileAsData (after));
    EXPECT_EQ (after, old);
    EXPECT_EQ (disk.folder.getNumberOfChildFiles (juce::File::findFiles), 1) << "the temporary file is removed";
}

TEST (SafeFileWriterSlow, ReadOnlyDiskLeavesTheOldFileIntact)
{
    SmallDisk disk (64);

    if (! disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";

    const auto sound = disk.folder.getChildFile ("Pad.vellix");
    ASSERT_TRUE (replaceFileSafely (sound, "old", 3));
    ASSERT_TRUE (disk.makeReadOnly());

    EXPECT_FALSE (replaceFileSafely (sound, "newer", 5));
    EXPECT_EQ (readAll (sound), "old");
}
