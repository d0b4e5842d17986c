#pragma once

#include <juce_core/juce_core.h>

/** Replaces `target` as a whole with `numBytes` of `data`: the bytes go to a
    hidden temporary file beside it, which is flushed, checked and only then
    moved over the target. A failed or interrupted write (no permission, a full
    disk) leaves the previous file untouched and returns false.

    JUCE's File::replaceWithData ignores a failed append and would move a
    truncated file into place, which must never happen to a saved sound. */
bool replaceFileSafely (const juce::File& target, const void* data, size_t numBytes);
