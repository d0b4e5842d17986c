// Session recovery at start: what becomes a recovered sound file, what is kept
// in the settings when no file can be written, and that "filterState" never
// survives the start.

#include "app/SessionRecovery.h"

#include <gtest/gtest.h>
#include <juce_data_structures/juce_data_structures.h>

#include <optional>
#include <regex>

namespace
{
    struct TemporaryFolder
    {
        juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                .getNonexistentChildFile ("vellix-recovery", {}, false);

        TemporaryFolder()  { folder.createDirectory(); }
        ~TemporaryFolder() { folder.deleteRecursively(); }
    };

    juce::MemoryBlock rackBytes()
    {
        // Not all text: every byte value appears, so an encoding slip shows.
        juce::MemoryBlock bytes;

        for (int i = 0; i < 777; ++i)
            bytes.append (&i, 1);

        return bytes;
    }

    juce::Array<juce::File> recoveredFiles (const juce::File& folder)
    {
        auto files = folder.findChildFiles (juce::File::findFiles, false, "*");
        files.sort();
        return files;
    }

    /** The local time a recovered file's name carries, or nothing when the
        name is not "Recovered session YYYY-MM-DD HH-MM-SS[(n)].vellix". */
    std::optional<juce::Time> stampOf (const juce::File& file, int* bracketNumber = nullptr)
    {
        static const std::regex pattern (R"(^Recovered session (\d{4})-(\d{2})-(\d{2}) (\d{2})-(\d{2})-(\d{2})(?: ?\((\d+)\))?\.vellix$)");
        std::smatch match;
        const auto name = file.getFileName().toStdString();

        if (! std::regex_match (name, match, pattern))
            return std::nullopt;

        if (bracketNumber != nullptr)
            *bracketNumber = match[7].matched ? std::stoi (match[7]) : 0;

        auto field = [&] (int i) { return std::stoi (match[(size_t) i]); };
        return juce::Time (field (1), field (2) - 1, field (3), field (4), field (5), field (6), 0, true);
    }

    juce::String nameAt (juce::Time time)
    {
        return "Recovered session " + time.formatted ("%Y-%m-%d %H-%M-%S") + ".vellix";
    }

    juce::Time wholeSecond (juce::Time time)
    {
        return juce::Time (time.toMilliseconds() - time.toMilliseconds() % 1000);
    }
}

TEST (SessionRecovery, TurnsTheStoredRackIntoAFileOrKeepsItsText)
{
    const auto valid = rackBytes().toBase64Encoding();

    enum class Folder { fresh, underARegularFile };

    struct Row
    {
        const char* name;
        std::optional<juce::String> filterState;
        Folder folder;
        bool writesFile;
        bool keepsTextAsPreviousState;
    };

    const Row rows[] = {
        { "key missing",                      std::nullopt,                  Folder::fresh,             false, false },
        { "not base-64 text",                 juce::String ("no rack here"), Folder::fresh,             false, false },
        { "empty text",                       juce::String(),                Folder::fresh,             false, false },
        { "zero bytes",                       juce::MemoryBlock().toBase64Encoding(), Folder::fresh,    false, false },
        { "negative byte count",              juce::String ("-1.AAAA"),      Folder::fresh,             false, false },
        { "byte count far beyond the text",   juce::String ("2000000000.AB"), Folder::fresh,            false, false },
        { "cut off in the middle",            valid.dropLastCharacters (40), Folder::fresh,             false, false },
        { "valid",                            valid,                         Folder::fresh,             true,  false },
        { "sounds folder cannot be created",  valid,                         Folder::underARegularFile, false, true  },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);

        TemporaryFolder temp;
        auto sounds = temp.folder.getChildFile ("Documents/VELLIX/Sounds");

        if (row.folder == Folder::underARegularFile)
        {
            const auto blocker = temp.folder.getChildFile ("Documents");
            ASSERT_TRUE (blocker.replaceWithText ("a file where a folder should be"));
        }

        juce::PropertySet settings;
        settings.setValue ("previousRackState", "earlier text");
        settings.setValue ("audioSetup", "kept");

        if (row.filterState.has_value())
            settings.setValue ("filterState", *row.filterState);

        const auto before = wholeSecond (juce::Time::getCurrentTime());
        preserveRackBeforeEmptyStartup (settings, sounds);
        const auto after = juce::Time::getCurrentTime();

        EXPECT_FALSE (settings.containsKey ("filterState"));
        EXPECT_EQ (settings.getValue ("audioSetup"), "kept");
        EXPECT_EQ (settings.getValue ("previousRackState"),
                   row.keepsTextAsPreviousState ? *row.filterState : juce::String ("earlier text"));

        if (! row.writesFile)
        {
            // Nothing to recover creates no folder either.
            EXPECT_FALSE (sounds.exists());
            continue;
        }

        const auto files = recoveredFiles (sounds);
        ASSERT_EQ (files.size(), 1);

        int bracket = -1;
        const auto stamp = stampOf (files[0], &bracket);
        ASSERT_TRUE (stamp.has_value()) << files[0].getFileName();
        EXPECT_EQ (bracket, 0);
        EXPECT_GE (*stamp, before) << files[0].getFileName();
        EXPECT_LE (*stamp, after) << files[0].getFileName();

        juce::MemoryBlock written;
        ASSERT_TRUE (files[0].loadFileAsData (written));
        EXPECT_EQ (written, rackBytes());
    }
}

TEST (SessionRecovery, ANameAlreadyTakenGetsABracketedNumberAndTheOldFileStays)
{
    TemporaryFolder temp;
    const auto sounds = temp.folder.getChildFile ("Sounds");
    ASSERT_TRUE (sounds.createDirectory().wasOk());

    // The clock is read inside the call: take every name it can reach in the
    // next few seconds, as an earlier start in the same second would have.
    const auto now = wholeSecond (juce::Time::getCurrentTime());
    juce::Array<juce::File> earlier;

    for (int second = 0; second < 5; ++second)
    {
        const auto file = sounds.getChildFile (nameAt (now + juce::RelativeTime::seconds (second)));
        ASSERT_TRUE (file.replaceWithText ("earlier session " + juce::String (second)));
        earlier.add (file);
    }

    juce::PropertySet settings;
    settings.setValue ("filterState", rackBytes().toBase64Encoding());
    preserveRackBeforeEmptyStartup (settings, sounds);

    for (int second = 0; second < earlier.size(); ++second)
        EXPECT_EQ (earlier[second].loadFileAsString(), "earlier session " + juce::String (second));

    juce::Array<juce::File> added;

    for (const auto& file : recoveredFiles (sounds))
        if (! earlier.contains (file))
            added.add (file);

    ASSERT_EQ (added.size(), 1);

    int bracket = 0;
    ASSERT_TRUE (stampOf (added[0], &bracket).has_value()) << added[0].getFileName();
    EXPECT_EQ (bracket, 2) << added[0].getFileName();

    juce::MemoryBlock written;
    ASSERT_TRUE (added[0].loadFileAsData (written));
    EXPECT_EQ (written, rackBytes());
    EXPECT_FALSE (settings.containsKey ("filterState"));
    EXPECT_FALSE (settings.containsKey ("previousRackState"));
}
