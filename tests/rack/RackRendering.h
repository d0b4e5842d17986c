#pragma once

// Driving the rack like a host: blocks of a chosen size, MIDI at absolute
// sample times, and the output read back as the samples that are not silent.

#include "support/InProcessPlugins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

struct TimedMidi
{
    juce::int64 at;
    juce::MidiMessage message;
};

/** Renders `numSamples` in host blocks of `hostBlock` samples (the last one
    may be shorter). Each event goes into the block that holds its time. */
inline juce::AudioBuffer<float> renderRack (ChainProcessor& processor, int numSamples, int hostBlock,
                                            const std::vector<TimedMidi>& events = {})
{
    juce::AudioBuffer<float> output (2, numSamples);
    output.clear();
    juce::AudioBuffer<float> block (2, hostBlock);
    juce::MidiBuffer midi;
    midi.ensureSize (4096);

    for (int start = 0; start < numSamples; start += hostBlock)
    {
        const int length = juce::jmin (hostBlock, numSamples - start);
        midi.clear();

        for (const auto& event : events)
            if (event.at >= start && event.at < start + length)
                midi.addEvent (event.message, (int) (event.at - start));

        juce::AudioBuffer<float> view (block.getArrayOfWritePointers(), 2, length);
        processor.processBlock (view, midi);
        EXPECT_TRUE (midi.isEmpty()) << "the rack passed MIDI on";

        for (int channel = 0; channel < 2; ++channel)
            output.copyFrom (channel, start, view, channel, 0, length);
    }

    return output;
}

struct Peak
{
    int sample;
    float value;
};

inline std::ostream& operator<< (std::ostream& stream, const Peak& peak)
{
    return stream << "[" << peak.sample << "]=" << peak.value;
}

/** The samples of one channel that are not silent. */
inline std::vector<Peak> peaksOf (const juce::AudioBuffer<float>& buffer, int channel)
{
    std::vector<Peak> peaks;

    for (int k = 0; k < buffer.getNumSamples(); ++k)
        if (std::abs (buffer.getSample (channel, k)) > 1.0e-6f)
            peaks.push_back ({ k, buffer.getSample (channel, k) });

    return peaks;
}

inline std::string describe (const std::vector<Peak>& peaks)
{
    std::string text;

    for (const auto& peak : peaks)
        text += (text.empty() ? "" : " ") + ("[" + std::to_string (peak.sample) + "]=" + std::to_string (peak.value));

    return text.empty() ? "silence" : text;
}

/** Exactly these non-silent samples on the channel, at these positions, with
    these values (to within float rounding); nothing else. */
inline void expectPeaks (const juce::AudioBuffer<float>& buffer, int channel, const std::vector<Peak>& expected)
{
    const auto actual = peaksOf (buffer, channel);
    SCOPED_TRACE ("channel " + std::to_string (channel) + ": expected " + describe (expected) + ", got " + describe (actual));
    ASSERT_EQ (actual.size(), expected.size());

    for (size_t i = 0; i < actual.size(); ++i)
    {
        EXPECT_EQ (actual[i].sample, expected[i].sample);
        EXPECT_NEAR (actual[i].value, expected[i].value, 1.0e-5f);
    }
}

inline void setParameter (ChainProcessor& processor, const juce::String& id, float value)
{
    auto* parameter = processor.parameters.getParameter (id);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}

/** Ramp length of the smoothed gains: 20 ms. */
inline int rampSamples (double sampleRate)
{
    return (int) std::floor (sampleRate * 0.02);
}
