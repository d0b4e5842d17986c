#pragma once

// Helpers shared by the preview capture tests: a plug-in editor painted by
// JUCE, a wait for a capture's result, and loading installed plug-ins.

#include "editor/PluginPreview.h"

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace previewtest
{
    inline bool hasDisplay()
    {
        const auto* display = std::getenv ("DISPLAY");
        return display != nullptr && *display != 0;
    }

    /** A processor with nothing but an editor of a given size and painting. */
    class PaintedProcessor : public juce::AudioProcessor
    {
    public:
        PaintedProcessor() : juce::AudioProcessor (BusesProperties()) {}

        using juce::AudioProcessor::processBlock;

        const juce::String getName() const override { return "Painted"; }
        void prepareToPlay (double, int) override {}
        void releaseResources() override {}
        void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
        double getTailLengthSeconds() const override { return 0.0; }
        bool acceptsMidi() const override { return false; }
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
    };

    class PaintedEditor : public juce::AudioProcessorEditor
    {
    public:
        PaintedEditor (juce::AudioProcessor& p, int width, int height, std::function<void (juce::Graphics&, juce::Rectangle<int>)> painter)
            : juce::AudioProcessorEditor (p), paintWith (std::move (painter))
        {
            setOpaque (true);
            setSize (width, height);
        }

        void paint (juce::Graphics& g) override { paintWith (g, getLocalBounds()); }

    private:
        std::function<void (juce::Graphics&, juce::Rectangle<int>)> paintWith;
    };

    /** Left half red, right half blue: not blank, and its halves tell whether
        a picture is the right way round and the right part of the screen. */
    inline void paintHalves (juce::Graphics& g, juce::Rectangle<int> area)
    {
        g.fillAll (juce::Colour (0xff2040e0));
        g.setColour (juce::Colour (0xffe02020));
        g.fillRect (area.removeFromLeft (area.getWidth() / 2));
    }

    inline std::function<void (juce::Graphics&, juce::Rectangle<int>)> paintUniform (juce::Colour colour)
    {
        return [colour] (juce::Graphics& g, juce::Rectangle<int>) { g.fillAll (colour); };
    }

    /** The outcome of one capture: how often `done` ran, whether it ran
        before capturePluginPreview returned, and the last picture. */
    struct Capture
    {
        int calls = 0;
        bool calledBeforeReturn = false;
        juce::Image picture;
    };

    inline Capture capture (juce::AudioProcessorEditor& editor, int settleMilliseconds = 200)
    {
        auto result = std::make_shared<Capture>();
        auto returned = std::make_shared<bool> (false);

        capturePluginPreview (editor, [result, returned] (juce::Image picture)
        {
            ++result->calls;
            result->calledBeforeReturn = result->calledBeforeReturn || ! *returned;
            result->picture = picture;
        });
        *returned = true;

        for (int waited = 0; waited < 5000 && result->calls == 0; waited += 20)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

        // Any second call would arrive in this time.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (settleMilliseconds);
        return *result;
    }

    /** Captures until a picture arrives, for at most a few seconds: windows of
        tests running beside this one may cover the editor for a while, and a
        covered editor gives no window picture. */
    inline Capture captureUntilValid (juce::AudioProcessorEditor& editor, int timeoutMilliseconds = 4000,
                                      std::function<bool (const juce::Image&)> isComplete = {})
    {
        // On a loaded machine the editor's own pixels may reach the screen
        // later than the window: isComplete says when the picture has them.
        auto done = [&] (const Capture& c)
        {
            return c.picture.isValid() && (! isComplete || isComplete (c.picture));
        };

        auto result = capture (editor);

        for (int waited = 0; waited < timeoutMilliseconds && ! done (result); waited += 250)
            result = capture (editor, 50);

        return result;
    }

    /** Serialises the tests that read windows back from the screen (ctest runs
        two at a time on one display), and says where they put their windows:
        the lower left corner, away from the centred windows of other tests. */
    class ScreenSlot
    {
    public:
        ScreenSlot() { lock.enter(); }
        ~ScreenSlot() { lock.exit(); }

        static juce::Point<int> topLeftFor (int, int height)
        {
            auto area = juce::Rectangle<int> (0, 0, 1920, 1200);

            if (auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
                area = display->userArea;

            return { area.getX() + 10, juce::jmax (area.getY(), area.getBottom() - height - 40) };
        }

    private:
        juce::InterProcessLock lock { "vellix-preview-screen" };
    };

    /** What every delivered picture must be: invalid, or useful and at most
        600 pixels wide. */
    inline ::testing::AssertionResult deliverable (const juce::Image& picture)
    {
        if (! picture.isValid())
            return ::testing::AssertionSuccess();

        if (picture.getWidth() > 600)
            return ::testing::AssertionFailure() << "picture is " << picture.getWidth() << " pixels wide";

        if (! useful (picture))
            return ::testing::AssertionFailure() << "picture is blank";

        return ::testing::AssertionSuccess();
    }

    inline juce::AudioPluginFormat* formatNamed (juce::AudioPluginFormatManager& manager, const juce::String& name)
    {
        for (auto* format : manager.getFormats())
            if (format->getName() == name)
                return format;

        return nullptr;
    }

    /** Creates an installed plug-in on the message thread; null when it is not
        installed. For a bundle outside the standard folders, give its folder. */
    inline std::unique_ptr<juce::AudioPluginInstance> createPlugin (juce::AudioPluginFormatManager& manager,
                                                                    const juce::String& formatName,
                                                                    const juce::String& identifier,
                                                                    const juce::File& searchFolder = {})
    {
        auto* format = formatNamed (manager, formatName);

        if (format == nullptr)
            return nullptr;

        if (searchFolder.isDirectory())
            format->searchPathsForPlugins (juce::FileSearchPath (searchFolder.getFullPathName()), true, false);

        juce::OwnedArray<juce::PluginDescription> found;
        format->findAllTypesForFile (found, identifier);

        if (found.isEmpty())
            return nullptr;

        juce::String error;
        return manager.createPluginInstance (*found[0], 44100.0, 512, error);
    }
}
