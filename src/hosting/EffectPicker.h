#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

/** A searchable list of plug-ins (instruments or effects alike) shown in a
    call-out box. The picked description goes to `onPick`, and the call-out
    box that holds the picker closes. */
class EffectPicker : public juce::Component,
                     public juce::ListBoxModel
{
public:
    EffectPicker (const std::vector<juce::PluginDescription>& catalogue,
                  std::function<void (juce::PluginDescription)> pick);
    ~EffectPicker() override;

    int getNumRows() override;
    void paintListBoxItem (int rowNumber, juce::Graphics& g, int width, int height, bool rowIsSelected) override;
    void listBoxItemDoubleClicked (int row, const juce::MouseEvent& event) override;
    void returnKeyPressed (int lastRowSelected) override;

    void resized() override;

    /** Shows the entries whose "name manufacturer" text contains every word of
        the search text, ignoring case; a quoted phrase is one word. Selects the
        first shown row. */
    void filter();

    /** Hands the selected entry to `onPick` and closes the enclosing call-out box. */
    void accept();

    const std::vector<juce::PluginDescription> items;
    std::vector<int> visible;
    juce::TextEditor search;
    juce::ListBox list;
    juce::TextButton loadButton;
    std::function<void (juce::PluginDescription)> onPick;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EffectPicker)
};
