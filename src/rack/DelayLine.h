#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** A fixed two-channel delay used for latency compensation.

    Everything a pass needs is allocated by prepare(), so a pass never
    allocates. Preparing always empties the line, even when sizes are unchanged.
*/
class DelayLine
{
public:
    /** Sets the delay (clamped at 0) and the longest pass (at least 1) and
        clears the line. Allocates only when a size changes. */
    void prepare (int delayInSamples, int maximumBlockSize);

    /** Passes `numSamples` (1 ... blockSize) of the two input channels through
        the line; the delayed signal lands in `out`, channels 0 and 1. */
    void process (const float* left, const float* right, int numSamples) noexcept;

    juce::AudioBuffer<float> ring;
    juce::AudioBuffer<float> out;
    int writePos = 0;
    int delay = 0;
    int blockSize = 512;
};
