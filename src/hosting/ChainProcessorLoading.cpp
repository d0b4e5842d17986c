// Putting plug-ins into slots and taking them out. Every load carries a ticket
// (the slot's generation); only the newest request for a slot decides what it
// holds. The old plug-in keeps playing while a new one is created.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"

#include <juce_graphics/juce_graphics.h>

#include <utility>

namespace
{
    /** An LV2 plug-in without port groups has a main bus of two discrete
        channels, which no request for stereo can match; it plays exactly as a
        stereo bus would, so it is taken as one. */
    bool hasTwoUnnamedChannels (const juce::AudioPluginInstance& instance, bool isInput)
    {
        const auto* bus = instance.getBus (isInput, 0);
        return bus != nullptr && bus->isEnabled() && bus->getCurrentLayout() == juce::AudioChannelSet::discreteChannels (2);
    }
}

void ChainProcessor::load (int slotIndex, juce::PluginDescription description, juce::MemoryBlock state,
                           bool showEditor, juce::MemoryBlock preview)
{
    if (! juce::isPositiveAndBelow (slotIndex, numSlots))
    {
        jassertfalse;
        return;
    }

    int ticket = 0;
    double rate = 0.0;
    int size = 0;

    {
        const juce::ScopedLock sl (lock);
        auto& slot = slots[(size_t) slotIndex];

        ticket = ++slot.generation;
        slot.loading = true;
        slot.message.clear();

        // While a plug-in plays, the slot keeps describing it.
        if (slot.hosted == nullptr)
        {
            slot.description = description;
            slot.state = state;
            slot.preview = preview;
        }

        rate = sampleRate.load();
        size = blockSize;
    }

    auto completion = [requestGate = gate, slotIndex, ticket, state = std::move (state), showEditor,
                       preview = std::move (preview)] (std::unique_ptr<juce::AudioPluginInstance> created,
                                                       const juce::String& error) mutable
    {
        auto instance = std::move (created);

        {
            const juce::ScopedLock gateLock (requestGate->lock);

            // An instance that finishLoad does not install dies as that call
            // ends, still inside the gate's lock.
            if (auto* owner = requestGate->owner)
                owner->finishLoad (slotIndex, ticket, std::move (instance), state, error, showEditor, preview);
        }

        // The processor is gone: this late instance is deleted outside the
        // gate's lock, touching nothing else.
        instance = nullptr;
    };

    formatManager.createPluginInstanceAsync (description, rate, size, std::move (completion));
}

void ChainProcessor::finishLoad (int slotIndex, int ticket, std::unique_ptr<juce::AudioPluginInstance> instance,
                                 const juce::MemoryBlock& state, const juce::String& error,
                                 bool showEditor, const juce::MemoryBlock& preview)
{
    {
        const juce::ScopedLock sl (lock);

        if (slots[(size_t) slotIndex].generation != ticket)
            return;
    }

    auto message = error;

    // Restore and examine the new plug-in without the rack lock, so that audio goes on.
    if (instance != nullptr)
    {
        if (! state.isEmpty())
            instance->setStateInformation (state.getData(), (int) state.getSize());

        instance->disableNonMainBuses();
        auto buses = instance->getBusesLayout();

        if (slotIndex < numLayers)
        {
            if (! instance->acceptsMidi() || buses.outputBuses.isEmpty())
            {
                message = "Choose a MIDI instrument for a synth layer";
            }
            else
            {
                for (auto& input : buses.inputBuses)
                    input = juce::AudioChannelSet::disabled();

                buses.outputBuses.getReference (0) = juce::AudioChannelSet::stereo();

                if (! instance->setBusesLayout (buses))
                {
                    buses.outputBuses.getReference (0) = juce::AudioChannelSet::mono();

                    if (! instance->setBusesLayout (buses) && ! hasTwoUnnamedChannels (*instance, false))
                        message = "Instrument needs a mono or stereo output";
                }
            }
        }
        else
        {
            if (instance->getPluginDescription().isInstrument
                || buses.inputBuses.isEmpty() || buses.outputBuses.isEmpty())
            {
                message = "Choose a stereo audio effect for FX";
            }
            else
            {
                buses.inputBuses.getReference (0) = juce::AudioChannelSet::stereo();
                buses.outputBuses.getReference (0) = juce::AudioChannelSet::stereo();

                if (! instance->setBusesLayout (buses)
                    && ! (hasTwoUnnamedChannels (*instance, true) && hasTwoUnnamedChannels (*instance, false)))
                    message = "Effect needs stereo input/output";
            }
        }
    }

    // The replaced plug-in is destroyed after the rack lock is left, so that
    // its teardown does not silence the render.
    std::shared_ptr<Hosted> previous;
    const juce::ScopedLock sl (lock);
    auto& slot = slots[(size_t) slotIndex];

    if (slot.generation != ticket)
        return;

    slot.loading = false;

    if (instance == nullptr)
    {
        slot.message = error.isNotEmpty() ? error : juce::String ("Unable to load effect");
        return;
    }

    if (message.isNotEmpty())
    {
        slot.message = message;
        return;
    }

    auto hosted = std::make_shared<Hosted> (std::move (instance));

    if (prepared)
        hosted->prepare (sampleRate.load(), blockSize);
    else
        hosted->latencyDelay.prepare (hosted->instance->getLatencySamples(), blockSize);

    // A tile that still shows the previous plug-in keeps it alive until it
    // has closed its editor.
    previous = std::exchange (slot.hosted, hosted);
    slot.description = hosted->description;
    slot.state = state;
    slot.preview = preview;
    slot.showEditor = showEditor;

    if (! preview.isEmpty())
        hosted->preview = juce::ImageFileFormat::loadFrom (preview.getData(), preview.getSize());

    slot.message.clear();
    refreshLatency();
}

void ChainProcessor::clear (int slotIndex)
{
    if (! juce::isPositiveAndBelow (slotIndex, numSlots))
    {
        jassertfalse;
        return;
    }

    // Destroyed after the rack lock is left (declared before the lock).
    std::shared_ptr<Hosted> previous;
    const juce::ScopedLock sl (lock);
    auto& slot = slots[(size_t) slotIndex];

    ++slot.generation;
    slot.loading = false;
    previous = std::move (slot.hosted);
    slot.hosted = nullptr;
    slot.description = juce::PluginDescription();
    slot.state.reset();
    slot.preview.reset();
    slot.showEditor = false;
    slot.message.clear();
    refreshLatency();
}

void ChainProcessor::setPreview (int slotIndex, const std::shared_ptr<Hosted>& expected, const juce::Image& image)
{
    if (! image.isValid() || ! juce::isPositiveAndBelow (slotIndex, numSlots))
        return;

    juce::MemoryOutputStream png (256);
    juce::PNGImageFormat().writeImageToStream (image, png);

    const juce::ScopedLock sl (lock);
    auto& slot = slots[(size_t) slotIndex];

    if (slot.hosted != nullptr && slot.hosted == expected)
    {
        slot.hosted->preview = image;
        slot.preview = png.getMemoryBlock();
    }
}
