#pragma once

#include <juce_audio_utils/juce_audio_utils.h>

namespace juce { class StandalonePluginHolder; }

/** The single main window. It owns the standalone holder, which creates the
    rack processor and drives it from the audio and MIDI devices. */
class SynthStandaloneWindow : public juce::DocumentWindow
{
public:
    explicit SynthStandaloneWindow (juce::PropertySet* settings);
    ~SynthStandaloneWindow() override;

    void closeButtonPressed() override;

    /** Stores the rack state under "filterState" in the settings held in memory. */
    void savePluginState();

    juce::StandalonePluginHolder* getHolder() const noexcept { return holder.get(); }

private:
    std::unique_ptr<juce::StandalonePluginHolder> holder;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SynthStandaloneWindow)
};
