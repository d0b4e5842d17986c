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
    for (int k = 0; k < numSamples; ++k)
    {
        const int readPos = (size - delay + writePos) % size;
        ringLeft[writePos] = left[k];
        ringRight[writePos] = right[k];
        outLeft[k] = ringLeft[readPos];
        outRight[k] = ringRight[readPos];
        writePos = (writePos + 1) % size;
    }
}
