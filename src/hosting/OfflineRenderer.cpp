#include "hosting/OfflineRenderer.h"

#include <cmath>

OfflineRenderer::OfflineRenderer (ChainProcessor& rackToRender, const juce::MidiMessageSequence& events,
                                  double sampleRate, int blockSize, double tailSeconds)
    : rack (rackToRender), rate (sampleRate), block (juce::jmax (1, blockSize))
{
    rack.setPlayHead (this);
    rack.setNonRealtime (true);
    rack.prepareToPlay (rate, block);

    // The plug-ins' latencies are known once they are prepared.
    {
        const juce::ScopedLock sl (rack.lock);
        latency = juce::jmax (0, rack.getLatencySamples());
    }

    if (tailSeconds >= 0.0)
    {
        tail = tailSeconds;
    }
    else
    {
        // A plug-in may report an endless or absurd tail; the render must end.
        const auto reported = rack.getTailLengthSeconds();
        tail = std::isfinite (reported) ? juce::jlimit (0.0, maximumTailSeconds, reported) : maximumTailSeconds;
    }

    juce::int64 lastEvent = 0;

    for (const auto* holder : events)
    {
        const auto sample = (juce::int64) std::llround (juce::jmax (0.0, holder->message.getTimeStamp()) * rate);
        eventSamples.push_back (sample);
        messages.push_back (holder->message);
        lastEvent = juce::jmax (lastEvent, sample);
    }

    totalSamples = lastEvent + (juce::int64) std::llround (tail * rate);

    buffer.setSize (2, block);
    midi.ensureSize (4096);
}

OfflineRenderer::~OfflineRenderer()
{
    rack.releaseResources();
    rack.setPlayHead (nullptr);
}

bool OfflineRenderer::readMidiFile (const juce::File& file, juce::MidiMessageSequence& result, double& fileBpm)
{
    juce::FileInputStream in (file);

    if (! in.openedOk())
        return false;

    juce::MidiFile midiFile;

    if (! midiFile.readFrom (in, true))
        return false;

    // Ticks per frame (SMPTE timing) or per quarter note: JUCE converts both.
    midiFile.convertTimestampTicksToSeconds();

    juce::MidiMessageSequence tempos;
    midiFile.findAllTempoEvents (tempos);

    for (const auto* holder : tempos)
    {
        const auto secondsPerQuarter = holder->message.getTempoSecondsPerQuarterNote();

        if (secondsPerQuarter > 0.0)
        {
            fileBpm = 60.0 / secondsPerQuarter;
            break;
        }
    }

    result.clear();

    for (int t = 0; t < midiFile.getNumTracks(); ++t)
        for (const auto* holder : *midiFile.getTrack (t))
            if (! holder->message.isMetaEvent())
                result.addEvent (holder->message);

    // Events at the same time keep their order within a track.
    result.sort();
    return true;
}

int OfflineRenderer::renderNext (juce::AudioBuffer<float>& destination)
{
    while (written < totalSamples)
    {
        const int len = block;
        midi.clear();

        for (; nextEvent < messages.size() && eventSamples[nextEvent] < rackTime + len; ++nextEvent)
            midi.addEvent (messages[nextEvent], (int) (eventSamples[nextEvent] - rackTime));

        rack.processBlock (buffer, midi);

        // The first `latency` samples of the rack's output come before the
        // output's start.
        const auto blockStart = rackTime - latency;
        rackTime += len;

        const auto skip = (int) juce::jlimit ((juce::int64) 0, (juce::int64) len, -blockStart);
        const auto count = (int) juce::jmin ((juce::int64) (len - skip), totalSamples - written);

        if (count <= 0)
            continue;

        for (int c = 0; c < 2; ++c)
            destination.copyFrom (c, 0, buffer, c, skip, count);

        written += count;
        return count;
    }

    return 0;
}

juce::Optional<juce::AudioPlayHead::PositionInfo> OfflineRenderer::getPosition() const
{
    PositionInfo position;
    position.setIsPlaying (true);
    position.setTimeInSamples (rackTime);
    position.setTimeInSeconds ((double) rackTime / rate);
    position.setBpm (bpm);
    return position;
}
