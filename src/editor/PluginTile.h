#pragma once

#include "rack/ChainProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

class NativePluginWindow;

/** The panel of one rack slot: what the slot holds, a preview of the plug-in's
    editor, and the buttons to load, open and clear. The tile never changes the
    slot itself; it asks the processor and learns the outcome on the next
    `update`. */
class PluginTile : public juce::Component,
                   private juce::Timer
{
public:
    PluginTile (ChainProcessor& processor, int slot, const std::vector<juce::PluginDescription>& catalogue);
    ~PluginTile() override;

    void mouseDoubleClick (const juce::MouseEvent& event) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Shows `newHosted` (empty for an empty slot), refreshes the buttons and the
        status tooltip, and acts on a pending open-editor request. Called by the
        rack editor four times a second. */
    void update (std::shared_ptr<ChainProcessor::Hosted> newHosted);

    /** "SYNTH 1" to "SYNTH 4" for the layers, "FX 1" and "FX 2" for the effects. */
    juce::String title() const;

    /** The plug-ins in a bundle file that fit a slot: instruments for a synth
        layer, effects for an effect slot, never the application itself. */
    static std::vector<juce::PluginDescription> matchingPlugins (juce::AudioPluginFormatManager& formats,
                                                                  const juce::String& path, bool instruments);

    /** What happens to a chosen bundle file: one fitting plug-in loads, several
        are offered in a menu, none is reported in the label. */
    void loadFromFile (const juce::File& bundle);

    ChainProcessor& processor;
    const int slot;
    const std::vector<juce::PluginDescription>& catalogue;
    juce::TextButton loadButton { "LOAD" };
    juce::TextButton openButton { "OPEN" };
    juce::TextButton clearButton { "X" };
    juce::Label status;
    std::unique_ptr<juce::FileChooser> chooser;
    std::shared_ptr<ChainProcessor::Hosted> hosted;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    std::unique_ptr<NativePluginWindow> window;
    bool capturing = false;
    bool closeRequested = false;
    // Raised whenever the shown plug-in changes and when the tile goes, so that
    // late asynchronous results for an older plug-in are dropped.
    juce::uint64 generation = 0;

    /** Opens the plug-in's editor in its window, or brings that window to
        the front; the first preview is taken 400 ms later. */
    void openEditor();
    /** Captures the editor for the slot's preview; with `closeAfterwards`
        the window closes once that capture delivered, or after 1200 ms. */
    void preview (bool closeAfterwards);
    /** Closes the window and deletes the editor at once. */
    void disposeEditor();

private:
    void timerCallback() override;

    void choose();
    void browse();
    void load (const juce::PluginDescription& description);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginTile)
};
