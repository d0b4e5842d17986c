#pragma once

#include "app/AnalogLook.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace juce { class StandalonePluginHolder; }

/** The main window's content: a 42-pixel header with "AUDIO / MIDI SETUP"
    above the rack editor. Its size follows the editor's and the editor's
    follows the content's. */
class SynthStandaloneContent : public juce::Component,
                               public juce::ComponentListener
{
public:
    static constexpr int headerHeight = 42;

    explicit SynthStandaloneContent (juce::StandalonePluginHolder& holderToUse);
    ~SynthStandaloneContent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void componentMovedOrResized (juce::Component& component, bool wasMoved, bool wasResized) override;

    juce::AudioProcessorEditor* getEditor() const noexcept { return editor.get(); }
    juce::TextButton& getSetupButton() noexcept { return setupButton; }

private:
    AnalogLook look;
    juce::StandalonePluginHolder& holder;
    juce::TextButton setupButton { "AUDIO / MIDI SETUP" };
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    bool resizing = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SynthStandaloneContent)
};
