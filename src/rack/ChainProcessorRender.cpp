// The audio thread's only entry into the rack. Nothing here allocates, waits
// on a lock, logs or releases a hosted plug-in: buffers, delay lines and MIDI
// storage are sized by prepareToPlay, and the rack lock is only ever tried.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"

namespace
{
    constexpr int pitchWheelCentre = 8192;
    constexpr int sustainPedal = 64;
    constexpr int resetAllControllers = 121;

    /** Multiplies `source` by a smoothed gain and adds it to `destination`; a
        gain that is not ramping is applied to the whole run at once. */
    void addWithGain (float* destination, const float* source, int numSamples,
                      juce::LinearSmoothedValue<float>& gain) noexcept
    {
        if (! gain.isSmoothing())
        {
            juce::FloatVectorOperations::addWithMultiply (destination, source, gain.getTargetValue(), numSamples);
            return;
        }

        for (int k = 0; k < numSamples; ++k)
            destination[k] += source[k] * gain.getNextValue();
    }

    /** A view over the first `numSamples` of every channel of `buffer`; it
        borrows the channel pointers and allocates nothing. */
    juce::AudioBuffer<float> viewOf (juce::AudioBuffer<float>& buffer, int numSamples) noexcept
    {
        return { buffer.getArrayOfWritePointers(), buffer.getNumChannels(), numSamples };
    }

    bool needsMoreChannelsThan (const juce::AudioPluginInstance& plugin, const juce::AudioBuffer<float>& buffer) noexcept
    {
        const int needed = juce::jmax (plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());
        return needed > buffer.getNumChannels();
    }
}

void ChainProcessor::updateGainTargets()
{
    const bool soloed = anySolo();

    for (int i = 0; i < numLayers; ++i)
    {
        const float gain = level (i, soloed);
        const float pan = panValues[(size_t) i]->load (std::memory_order_relaxed);

        gainLeft[(size_t) i].setTargetValue (panLeft (gain, pan));
        gainRight[(size_t) i].setTargetValue (panRight (gain, pan));
    }

    masterGain.setTargetValue (masterValue->load (std::memory_order_relaxed));
}

void ChainProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::ScopedNoDenormals noDenormals;
    const int numSamples = buffer.getNumSamples();

    // An empty block has no sample to put an event on: the on-screen
    // keyboard's events and a pending reset wait for the next block instead
    // of being used up here, where a lost note-off would leave a note hanging.
    if (numSamples == 0)
    {
        midi.clear();
        return;
    }

    // MIDI in: the on-screen keyboard joins the incoming events.
    keyboardState.processNextMidiBuffer (midi, 0, numSamples, true);

    const juce::ScopedTryLock rackLock (lock);
    buffer.clear();

    if (! rackLock.isLocked() || ! prepared || buffer.getNumChannels() < 2)
    {
        // A lost block: its notes may be left hanging, so the next block resets them.
        midi.clear();
        panicRequest.store (true, std::memory_order_release);
        return;
    }

    // Transport: every hosted plug-in gets the host's position, or a default one.
    {
        juce::AudioPlayHead::PositionInfo position;

        if (auto* host = getPlayHead())
            if (auto hostPosition = host->getPosition())
                position = *hostPosition;

        for (auto& slot : slots)
        {
            if (auto* hosted = slot.hosted.get())
            {
                const juce::ScopedTryLock positionLock (hosted->playHead.lock);

                if (positionLock.isLocked())
                    hosted->playHead.position = position;
            }
        }
    }

    updateGainTargets();

    const bool reset = panicRequest.exchange (false);

    if (reset)
        pitchWheel.fill (pitchWheelCentre);

    for (int pos = 0; pos < numSamples; pos += blockSize)
    {
        const int len = juce::jmin (numSamples - pos, blockSize);

        // MIDI of this sub-block, starting at sample 0.
        blockMidi.clear();

        if (reset && pos == 0)
        {
            for (int channel = 1; channel <= 16; ++channel)
            {
                blockMidi.addEvent (juce::MidiMessage::controllerEvent (channel, sustainPedal, 0), 0);
                blockMidi.addEvent (juce::MidiMessage::allNotesOff (channel), 0);
                blockMidi.addEvent (juce::MidiMessage::pitchWheel (channel, pitchWheelCentre), 0);
            }
        }

        blockMidi.addEvents (midi, pos, len, -pos);

        juce::AudioBuffer<float> mix (buffer.getArrayOfWritePointers(), 2, pos, len);

        // Synth layers, in parallel, summed into the mix.
        for (int i = 0; i < numLayers; ++i)
        {
            auto* hosted = slots[(size_t) i].hosted.get();

            if (hosted == nullptr)
                continue;

            auto& plugin = *hosted->instance;

            if (needsMoreChannelsThan (plugin, hosted->buffer))
            {
                panicRequest.store (true, std::memory_order_release);
                continue;
            }

            auto view = viewOf (hosted->buffer, len);
            view.clear();

            layerMidi.clear();

            if (hosted->syncPitchWheel)
            {
                // A new instrument starts with the pitch bend that is held now.
                for (int c = 0; c < 16; ++c)
                    layerMidi.addEvent (juce::MidiMessage::pitchWheel (c + 1, pitchWheel[(size_t) c]), 0);

                hosted->syncPitchWheel = false;
            }

            layerMidi.addEvents (blockMidi, 0, -1, 0);
            plugin.processBlock (view, layerMidi);

            // A mono instrument is heard on both sides.
            if (plugin.getBusCount (false) > 0
                && plugin.getChannelCountOfBus (false, 0) == 1
                && len >= 1
                && ! view.hasBeenCleared())
                view.copyFrom (1, 0, view, 0, 0, len);

            if (len >= 1)
            {
                // A line without delay would hand back its input unchanged;
                // the slowest layer's is such a line, so it is not run.
                auto& align = hosted->alignDelay;
                const auto& aligned = align.delay > 0 ? align.out : view;

                if (align.delay > 0)
                    align.process (view.getReadPointer (0), view.getReadPointer (1), len);

                addWithGain (mix.getWritePointer (0), aligned.getReadPointer (0), len, gainLeft[(size_t) i]);
                addWithGain (mix.getWritePointer (1), aligned.getReadPointer (1), len, gainRight[(size_t) i]);
            }
        }

        // Effects, in series, each with a dry path delayed by its own latency.
        for (int i = numLayers; i < numSlots; ++i)
        {
            auto* hosted = slots[(size_t) i].hosted.get();

            if (hosted == nullptr)
                continue;

            auto& plugin = *hosted->instance;
            auto& dry = hosted->latencyDelay;

            // Without latency the dry path is the mix itself, as it stands.
            if (len >= 1 && dry.delay > 0)
                dry.process (mix.getReadPointer (0), mix.getReadPointer (1), len);

            if (needsMoreChannelsThan (plugin, hosted->buffer))
                continue;

            auto view = viewOf (hosted->buffer, len);
            view.clear();
            view.copyFrom (0, 0, mix, 0, 0, len);
            view.copyFrom (1, 0, mix, 1, 0, len);

            effectMidi.clear();
            plugin.processBlock (view, effectMidi);

            const bool bypassed = bypassValues[(size_t) i]->load (std::memory_order_relaxed) > 0.5f;

            if (bypassed && dry.delay == 0)
                continue;

            const auto& source = bypassed ? dry.out : view;
            mix.copyFrom (0, 0, source, 0, 0, len);
            mix.copyFrom (1, 0, source, 1, 0, len);
        }

        // Remember pitch bends, so that an instrument installed later starts in tune.
        for (const auto metadata : blockMidi)
        {
            const auto* data = metadata.data;

            if (metadata.numBytes < 3)
                continue;

            const int status = data[0] & 0xf0;
            const int channel = data[0] & 0x0f;

            if (status == 0xe0)
                pitchWheel[(size_t) channel] = (data[1] & 0x7f) | ((data[2] & 0x7f) << 7);
            else if (status == 0xb0 && data[1] == resetAllControllers)
                pitchWheel[(size_t) channel] = pitchWheelCentre;
        }

        // Master level.
        if (masterGain.isSmoothing())
        {
            auto* left = mix.getWritePointer (0);
            auto* right = mix.getWritePointer (1);

            for (int k = 0; k < len; ++k)
            {
                const float gain = masterGain.getNextValue();
                left[k] *= gain;
                right[k] *= gain;
            }
        }
        else
        {
            mix.applyGain (masterGain.getTargetValue());
        }
    }

    // The rack passes no MIDI on.
    midi.clear();
}
