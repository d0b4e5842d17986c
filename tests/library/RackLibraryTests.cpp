#include "library/RackLibrary.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <gtest/gtest.h>

namespace
{
    juce::MemoryBlock soundBytes (const juce::String& name, const juce::String& tag = "VELLIX")
    {
        juce::XmlElement root (tag);
        root.setAttribute ("name", name);
        root.setAttribute ("synthLayers", 4);
        juce::MemoryBlock bytes;
        juce::AudioProcessor::copyXmlToBinary (root, bytes);
        return bytes;
    }

    juce::File writeSound (const juce::File& file, const juce::String& name = "Sound")
    {
        file.getParentDirectory().createDirectory();
        const auto bytes = soundBytes (name);
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize())) << file.getFullPathName();
        return file;
    }

    juce::StringArray names (const std::vector<juce::File>& files)
    {
        juce::StringArray result;

        for (const auto& f : files)
            result.add (f.getFileNameWithoutExtension());

        return result;
    }

    struct LibraryFolder : public ::testing::Test
    {
        juce::TemporaryFile root { juce::String(), juce::TemporaryFile::useHiddenFile };
        juce::File base = root.getFile();
        juce::File library = base.getChildFile ("Sounds");

        void SetUp() override    { ASSERT_TRUE (library.createDirectory().wasOk()); }
        void TearDown() override { base.deleteRecursively(); }
    };
}

TEST_F (LibraryFolder, ListsInNaturalOrderIgnoringCase)
{
    writeSound (library.getChildFile ("Pad 10.vellix"));
    writeSound (library.getChildFile ("pad 2.vellix"));
    writeSound (library.getChildFile ("Bass.vellix"));

    EXPECT_EQ (names (RackLibrary (library).racks()), (juce::StringArray { "Bass", "pad 2", "Pad 10" }));
}

TEST_F (LibraryFolder, LeavesOutWhatIsNotASound)
{
    writeSound (library.getChildFile ("Good.vellix"));
    library.getChildFile ("Fake.vellix").replaceWithText ("just some text");

    const auto foreign = soundBytes ("Other", "SOMETHING_ELSE");
    library.getChildFile ("Foreign.vellix").replaceWithData (foreign.getData(), foreign.getSize());

    writeSound (library.getChildFile ("Nested/Deep.vellix"));   // subfolders are not searched
    writeSound (library.getChildFile ("NotASound.txt"));

    EXPECT_EQ (names (RackLibrary (library).racks()), (juce::StringArray { "Good" }));
}

TEST_F (LibraryFolder, ValidAcceptsSixteenMebibytesAndNotOneByteMore)
{
    auto bytes = soundBytes ("Big");
    const auto padding = (size_t) RackLibrary::maximumSoundSize - bytes.getSize();

    // The wrapper's length field bounds what is parsed, so trailing bytes are ignored.
    juce::MemoryBlock exact (bytes);
    exact.append (juce::MemoryBlock (padding, true).getData(), padding);
    ASSERT_EQ ((juce::int64) exact.getSize(), RackLibrary::maximumSoundSize);

    const auto exactFile = library.getChildFile ("Exact.vellix");
    ASSERT_TRUE (exactFile.replaceWithData (exact.getData(), exact.getSize()));
    EXPECT_TRUE (RackLibrary::valid (exactFile));

    exact.append ("\0", 1);
    const auto overFile = library.getChildFile ("Over.vellix");
    ASSERT_TRUE (overFile.replaceWithData (exact.getData(), exact.getSize()));
    EXPECT_FALSE (RackLibrary::valid (overFile));

    EXPECT_FALSE (RackLibrary::valid (library.getChildFile ("Missing.vellix")));
    EXPECT_FALSE (RackLibrary::valid (library));
}

TEST_F (LibraryFolder, RecordedOutsideFolderListsAllItsSoundsAfterARestart)
{
    const auto outside = base.getChildFile ("Elsewhere");
    writeSound (outside.getChildFile ("Lead.vellix"));
    writeSound (outside.getChildFile ("Keys.vellix"));

    {
        RackLibrary first (library);
        first.files.addIfNotAlreadyThere (outside.getChildFile ("Lead.vellix").getFullPathName(), false);
        first.folders.addIfNotAlreadyThere (outside.getFullPathName(), false);
        ASSERT_TRUE (first.persist());
    }

    RackLibrary restarted (library);
    EXPECT_EQ (names (restarted.racks()), (juce::StringArray { "Keys", "Lead" }));
}

TEST_F (LibraryFolder, DeletedFileLeavesTheMenuButStaysInTheIndex)
{
    const auto gone = writeSound (base.getChildFile ("Gone/Gone.vellix"));

    RackLibrary library_ (library);
    library_.files.add (gone.getFullPathName());
    ASSERT_TRUE (library_.persist());

    gone.deleteFile();

    RackLibrary reread (library);
    EXPECT_TRUE (reread.racks().empty());
    EXPECT_TRUE (reread.files.contains (gone.getFullPathName()));
}

TEST_F (LibraryFolder, ForeignRootIsReadAndRewrittenWithTheLibraryName)
{
    const auto outside = base.getChildFile ("Outside");
    writeSound (outside.getChildFile ("Pluck.vellix"));

    library.getChildFile (".library.xml").replaceWithText (
        "<?xml version=\"1.0\"?><OLD_INDEX auFolder=\"\"><JUNK/><FOLDER path=\""
        + outside.getFullPathName() + "\"/><FILE path=\"/nowhere/x.vellix\"/></OLD_INDEX>");

    RackLibrary reread (library);
    EXPECT_EQ (reread.folders, (juce::StringArray { outside.getFullPathName() }));
    EXPECT_EQ (reread.files, (juce::StringArray { "/nowhere/x.vellix" }));
    EXPECT_EQ (names (reread.racks()), (juce::StringArray { "Pluck" }));

    ASSERT_TRUE (reread.persist());
    const auto rewritten = juce::XmlDocument::parse (library.getChildFile (".library.xml"));
    ASSERT_NE (rewritten, nullptr);
    EXPECT_TRUE (rewritten->hasTagName ("VELLIX_LIBRARY"));
    EXPECT_EQ (rewritten->getNumChildElements(), 2);
    EXPECT_EQ (rewritten->getChildElement (0)->getTagName(), "FOLDER");
    EXPECT_EQ (rewritten->getChildElement (1)->getTagName(), "FILE");
}

TEST_F (LibraryFolder, HomeSoundIsListedFirstAsDotHome)
{
    writeSound (library.getChildFile (".home.vellix"));
    writeSound (library.getChildFile ("Alpha.vellix"));
    writeSound (library.getChildFile ("1 Bells.vellix"));

    EXPECT_EQ (names (RackLibrary (library).racks()), (juce::StringArray { ".home", "1 Bells", "Alpha" }));
}

TEST_F (LibraryFolder, SameNameInTwoFoldersGivesTwoEntries)
{
    writeSound (library.getChildFile ("Pad.vellix"));
    const auto other = writeSound (base.getChildFile ("Other/Pad.vellix"));

    RackLibrary library_ (library);
    library_.files.add (other.getFullPathName());

    const auto listed = library_.racks();
    ASSERT_EQ (listed.size(), 2u);
    EXPECT_EQ (names (listed), (juce::StringArray { "Pad", "Pad" }));
    EXPECT_NE (listed[0], listed[1]);
}

TEST_F (LibraryFolder, UnreadableIndexGivesEmptyListsAndRelativePathsAreIgnored)
{
    library.getChildFile (".library.xml").replaceWithText ("not xml at all <<<");
    RackLibrary broken (library);
    EXPECT_TRUE (broken.folders.isEmpty());
    EXPECT_TRUE (broken.files.isEmpty());
    EXPECT_EQ (broken.auFolder, juce::File());

    library.getChildFile (".library.xml").replaceWithText (
        "<VELLIX_LIBRARY auFolder=\"relative/au\"><FILE path=\"relative.vellix\"/><FOLDER path=\"\"/></VELLIX_LIBRARY>");
    RackLibrary relative (library);
    EXPECT_EQ (relative.auFolder, juce::File());
    EXPECT_TRUE (relative.racks().empty());
}

TEST_F (LibraryFolder, PersistFailsWhenTheFolderCannotBeCreated)
{
    const auto blocker = base.getChildFile ("Blocker");
    blocker.replaceWithText ("a file where the folder should be");

    RackLibrary library_ (blocker.getChildFile ("Sounds"));
    library_.files.add ("/a/b.vellix");
    EXPECT_FALSE (library_.persist());
}
