// Every seed of the fuzz targets, and every input that once made a reader
// crash, hang or trip a sanitizer (kept beside the seeds as "regression-*"),
// goes through the same code in the normal test run.

#include "fuzz/FuzzTargets.h"

#include <gtest/gtest.h>

TEST (FuzzCorpus, EveryKeptInputOfEveryReaderIsHandled)
{
    const auto corpus = juce::File (VELLIX_TEST_SOURCE_DIR).getChildFile ("fuzz/corpus");

    for (const auto& target : fuzz::targets())
    {
        const auto folder = corpus.getChildFile (target.name);
        int inputs = 0;

        for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFiles))
        {
            juce::MemoryBlock input;
            ASSERT_TRUE (entry.getFile().loadFileAsData (input));
            SCOPED_TRACE (entry.getFile().getFullPathName().toStdString());
            target.run (static_cast<const std::uint8_t*> (input.getData()), input.getSize());
            ++inputs;
        }

        EXPECT_GT (inputs, 0) << "no seeds for " << target.name;
    }
}
