#include "rack/DelayLine.h"

void DelayLine::prepare (int delayInSamples, int maximumBlockSize)
{
    delay = juce::jmax (delayInSamples, 0);
    blockSize = juce::jmax (maximumBlockSize, 1);

    if (ring.getNumChannels() != 2 || ring.getNumSamples() != delay + 1)
        ring.setSize (2, delay + 1);

    ring.clear();

    if (out.getNumChannels() != 2 || out.getNumSamples() != blockSize)
        out.setSize (2, blockSize);

    out.clear();
    writePos = 0;
}

namespace
{
    /** Copies `count` samples of a ring of `size` samples starting at `from`,
        wrapping once at its end. */
    void copyFromRing (float* destination, const float* ring, int size, int from, int count) noexcept
    {
        const int first = juce::jmin (count, size - from);
        juce::FloatVectorOperations::copy (destination, ring + from, first);

        if (count > first)
            juce::FloatVectorOperations::copy (destination + first, ring, count - first);
    }

    void copyToRing (float* ring, int size, int to, const float* source, int count) noexcept
    {
        const int first = juce::jmin (count, size - to);
        juce::FloatVectorOperations::copy (ring + to, source, first);

        if (count > first)
            juce::FloatVectorOperations::copy (ring, source + first, count - first);
    }
}

void DelayLine::process (const float* left, const float* right, int numSamples) noexcept
{
    jassert (numSamples >= 1 && numSamples <= blockSize);
    jassert (ring.getNumChannels() == 2 && out.getNumChannels() == 2);

    // The same as writing each sample at writePos and then reading the one
    // written `delay` samples earlier, in whole runs instead of per sample:
    // the first `delay` outputs come from the ring, the rest straight from
    // the input, and the ring keeps the last `delay + 1` inputs.
    const int size = delay + 1;
    const int fromRing = juce::jmin (numSamples, delay);
    const int fromInput = numSamples - fromRing;
    const int kept = juce::jmin (numSamples, size);
    const int keptFrom = (writePos + numSamples - kept) % size;
    const float* inputs[] = { left, right };

    for (int c = 0; c < 2; ++c)
    {
        float* line = ring.getWritePointer (c);
        float* output = out.getWritePointer (c);

        if (fromRing > 0)
            copyFromRing (output, line, size, (writePos + 1) % size, fromRing);

        if (fromInput > 0)
            juce::FloatVectorOperations::copy (output + fromRing, inputs[c], fromInput);

        copyToRing (line, size, keptFrom, inputs[c] + numSamples - kept, kept);
    }

    writePos = (writePos + numSamples) % size;
}
