#include "library/SafeFileWriter.h"

bool replaceFileSafely (const juce::File& target, const void* data, size_t numBytes)
{
    if (target.isDirectory())
        return false;

    juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);
    const auto& file = temporary.getFile();

    {
        juce::FileOutputStream out (file);

        if (! out.openedOk())
            return false;

        if (! out.write (data, numBytes))
            return false;

        out.flush();

        if (out.getStatus().failed())
            return false;
    }

    if (file.getSize() != (juce::int64) numBytes)
        return false;

    return temporary.overwriteTargetFileWithTemporary();
}
