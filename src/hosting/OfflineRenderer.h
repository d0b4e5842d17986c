#pragma once

#include "rack/ChainProcessor.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_audio_processors/juce_audio_processors.h>

/** Plays a MIDI sequence through a rack faster than real time, for rendering
    a sound to a file.

    The output's timeline is the MIDI file's: a note that starts at t seconds
    sounds at sample t × rate of the output, whatever latency the rack
    reports, because the render runs that many samples ahead and drops them.
    The output ends at the last MIDI event plus the tail.

    Used on one thread; the rack must already hold its plug-ins. The renderer
    prepares the rack itself and sets itself as the rack's play head. */
class OfflineRenderer : private juce::AudioPlayHead
{
public:
    /** `tailSeconds` below 0 takes the rack's own tail, at most maximumTailSeconds. */
    OfflineRenderer (ChainProcessor& rackToRender, const juce::MidiMessageSequence& events,
                     double sampleRate, int blockSize, double tailSeconds = -1.0);
    ~OfflineRenderer() override;

    /** All tracks of a MIDI file merged into one sequence, times in seconds,
        meta events (tempo, names, end of track) left out. False when the file
        cannot be read as a MIDI file. `bpm` gets the file's first tempo. */
    static bool readMidiFile (const juce::File& file, juce::MidiMessageSequence& result, double& bpm);

    /** Renders the next part of the output into `destination` (two channels
        and at least the block size) from sample 0; the number of samples
        written, 0 once the whole output has been rendered. */
    int renderNext (juce::AudioBuffer<float>& destination);

    juce::int64 getTotalSamples() const noexcept    { return totalSamples; }
    juce::int64 getSamplesRendered() const noexcept { return written; }
    int getLatencySamples() const noexcept          { return latency; }
    double getTailSeconds() const noexcept          { return tail; }

    /** Tempo that plug-ins are told; 120 unless set. */
    double bpm = 120.0;

    static constexpr double maximumTailSeconds = 30.0;

private:
    juce::Optional<PositionInfo> getPosition() const override;

    ChainProcessor& rack;
    const double rate;
    const int block;
    int latency = 0;
    double tail = 0.0;

    /** Event times in samples of the output timeline, parallel to `messages`. */
    std::vector<juce::int64> eventSamples;
    std::vector<juce::MidiMessage> messages;
    size_t nextEvent = 0;

    juce::int64 totalSamples = 0;

    // The rack's own time runs `latency` samples ahead of the output.
    juce::int64 rackTime = 0;
    juce::int64 written = 0;

    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;

    JUCE_DECLARE_NON_COPYABLE (OfflineRenderer)
};
