#pragma once

// Small fixtures shared by the editor tests: an in-process plug-in that can be
// put straight into a rack slot, and pixel helpers for painted components.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <memory>

namespace editortest
{
    /** The least plug-in a slot can hold: silent, no editor. */
    class StubPlugin : public juce::AudioPluginInstance
    {
    public:
        StubPlugin (juce::String pluginName, bool instrument)
            : juce::AudioPluginInstance (BusesProperties().withOutput ("Out", juce::AudioChannelSet::stereo(), true)),
              stubName (std::move (pluginName)),
              isSynth (instrument)
        {
        }

        void fillInPluginDescription (juce::PluginDescription& d) const override
        {
            d.name = stubName;
            d.descriptiveName = stubName;
            d.pluginFormatName = "Stub";
            d.manufacturerName = "Tests";
            d.isInstrument = isSynth;
            d.fileOrIdentifier = "stub:" + stubName;
            d.numOutputChannels = 2;
        }

        const juce::String getName() const override { return stubName; }
        void prepareToPlay (double, int) override {}
        void releaseResources() override {}
        void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override { buffer.clear(); }
        using juce::AudioPluginInstance::processBlock;
        double getTailLengthSeconds() const override { return 0.0; }
        bool acceptsMidi() const override { return isSynth; }
        bool producesMidi() const override { return false; }
        juce::AudioProcessorEditor* createEditor() override { return nullptr; }
        bool hasEditor() const override { return false; }
        int getNumPrograms() override { return 1; }
        int getCurrentProgram() override { return 0; }
        void setCurrentProgram (int) override {}
        const juce::String getProgramName (int) override { return {}; }
        void changeProgramName (int, const juce::String&) override {}
        void getStateInformation (juce::MemoryBlock&) override {}
        void setStateInformation (const void*, int) override {}

    private:
        juce::String stubName;
        bool isSynth;
    };

    inline std::shared_ptr<ChainProcessor::Hosted> makeHosted (const juce::String& name, bool instrument = true)
    {
        return std::make_shared<ChainProcessor::Hosted> (std::make_unique<StubPlugin> (name, instrument));
    }

    /** Puts a plug-in into a slot the way a finished load does, under the rack lock. */
    inline void putIntoSlot (ChainProcessor& processor, int slot, std::shared_ptr<ChainProcessor::Hosted> hosted)
    {
        const juce::ScopedLock sl (processor.lock);
        processor.slots[(size_t) slot].hosted = std::move (hosted);
    }

    /** The editable text box under a slider, or null. */
    inline juce::Label* textBoxOf (juce::Slider& slider)
    {
        for (auto* child : slider.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                return label;

        return nullptr;
    }

    inline void pump (int milliseconds)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    /** Paints a component (and its children) into an opaque image of its size. */
    inline juce::Image snapshot (juce::Component& component)
    {
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
        juce::Graphics g (image);
        component.paintEntireComponent (g, true);
        return image;
    }

    inline juce::uint32 argb (const juce::Image& image, int x, int y)
    {
        return image.getPixelAt (x, y).getARGB();
    }

    /** Whether two colours agree channel by channel within a tolerance. */
    inline ::testing::AssertionResult near (juce::Colour actual, juce::Colour expected, int tolerance = 2)
    {
        const auto diff = [] (juce::uint8 a, juce::uint8 b) { return std::abs ((int) a - (int) b); };

        if (diff (actual.getAlpha(), expected.getAlpha()) <= tolerance
            && diff (actual.getRed(), expected.getRed()) <= tolerance
            && diff (actual.getGreen(), expected.getGreen()) <= tolerance
            && diff (actual.getBlue(), expected.getBlue()) <= tolerance)
            return ::testing::AssertionSuccess();

        return ::testing::AssertionFailure() << "colour " << actual.toDisplayString (true)
                                             << " is not near " << expected.toDisplayString (true);
    }
}
