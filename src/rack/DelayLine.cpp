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

void DelayLine::process (const float* left, const float* right, int numSamples) noexcept
{
    jassert (numSamples >= 1 && numSamples <= blockSize);
    jassert (ring.getNumChannels() == 2 && out.getNumChannels() == 2);

    const int size = delay + 1;
    float* ringLeft = ring.getWritePointer (0);
    float* ringRight = ring.getWritePointer (1);
    float* outLeft = out.getWritePointer (0);
    float* outRight = out.getWritePointer (1);

    // Write before read, so a delay of 0 passes the input straight through.
    // The ring holds delay + 1 samples, so the sample written `delay` passes
    // ago sits one place after the write position, which is also where the
    // next pass writes; a wrap instead of a modulo keeps divisions out of
    // the per-sample loop.
    for (int k = 0; k < numSamples; ++k)
    {
        ringLeft[writePos] = left[k];
        ringRight[writePos] = right[k];

        int readPos = writePos + 1;

        if (readPos == size)
            readPos = 0;

        outLeft[k] = ringLeft[readPos];
        outRight[k] = ringRight[readPos];
        writePos = readPos;
    }
}
