#pragma once

// A small file system the tests mount themselves, so that a full or
// read-only disk is real and not simulated.

#include <juce_core/juce_core.h>

#include <cstdlib>

/** A tmpfs of the given size on a new temporary folder, unmounted and
    removed again at the end. Needs the right to mount (root, as in CI);
    tests skip when `mounted` is false. */
struct SmallDisk
{
    explicit SmallDisk (int kibibytes)
    {
        folder = juce::File::createTempFile ("vellix-faults");
        folder.createDirectory();
        mounted = run ("mount -t tmpfs -o size=" + juce::String (kibibytes) + "k vellix-faults "
                       + folder.getFullPathName().quoted());
    }

    ~SmallDisk()
    {
        if (mounted)
            run ("umount " + folder.getFullPathName().quoted());

        folder.deleteRecursively();
    }

    bool makeReadOnly() const  { return run ("mount -o remount,ro " + folder.getFullPathName().quoted()); }

    /** Fills the disk, then frees `room` bytes again: part of a new file
        fits, the rest does not. */
    void fill (int room) const
    {
        const auto filler = folder.getChildFile ("filler");

        {
            juce::FileOutputStream out (filler);
            juce::MemoryBlock chunk (4096, true);

            while (out.write (chunk.getData(), chunk.getSize()) && out.getStatus().wasOk())
                out.flush();
        }

        juce::FileOutputStream out (filler);
        out.setPosition (juce::jmax ((juce::int64) 0, filler.getSize() - room));
        out.truncate();
    }

    static bool run (const juce::String& command)
    {
        return std::system ((command + " 2>/dev/null").toRawUTF8()) == 0;
    }

    juce::File folder;
    bool mounted = false;
};
