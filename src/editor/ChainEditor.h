#pragma once

#include "app/AnalogLook.h"
#include "editor/LayerMixer.h"
#include "editor/PluginTile.h"
#include "library/RackLibrary.h"
#include "library/SoundMenu.h"
#include "rack/ChainProcessor.h"

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>
#include <vector>

/** The rack's user interface: title and sound row, four synth tiles, the
    layer mixer, two effect tiles, the master knob, the on-screen keyboard and
    a status line. Polls the processor four times a second to keep the tiles
    and the sound menu current. */
class ChainEditor : public juce::AudioProcessorEditor,
                    private juce::Timer
{
public:
    /** An empty folder means Documents/VELLIX/Sounds. */
    ChainEditor (ChainProcessor& processorToEdit, juce::File libraryFolder);
    ~ChainEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    static constexpr int initialWidth = 1120;
    static constexpr int minimumWidth = 980, minimumHeight = 720;
    static constexpr int maximumWidth = 1800, maximumHeight = 1300;

    /** 900 without a display; else the display's user-area height clamped to
        870..1050, less 150, so the window fits above the dock. */
    static int initialHeight (const juce::Displays::Display* primaryDisplay);

    /** "-inf dB" at 0, else the level in dB, at least -100, to one decimal. */
    static juce::String masterText (double gain);
    /** Any "inf" is silence; otherwise the leading number in dB (0 dB without
        one), silence at -100 dB and below. */
    static double masterValue (const juce::String& text);

    /** The library folder the editor was given, or the default one. */
    static juce::File libraryFolderFor (const juce::File& given);

    /** Fills the sound menu from the library and shows the sound's name. */
    void refreshSounds();
    /** Opens the save (true) or open (false) dialog. */
    void preset (bool save);
    /** Saves the rack as a sound, adding the extension when it is missing;
        a failure shows "Unable to save sound" and keeps the old name. */
    void write (juce::File file);
    /** Opens the sound in the file; false when it is not a sound. */
    bool read (const juce::File& file);
    /** What the save dialog's answer leads to: asks "Replace sound?" before
        replacing a file whose extension the editor added itself. */
    void saveChosen (const juce::File& chosen);

    AnalogLook look;
    ChainProcessor& processor;
    RackLibrary library;
    std::vector<juce::PluginDescription> synthCatalogue;
    std::vector<juce::PluginDescription> effectCatalogue;
    std::vector<juce::File> sounds;
    std::array<std::unique_ptr<PluginTile>, ChainProcessor::numSlots> tiles;
    LayerMixer mixer;
    juce::MidiKeyboardComponent keyboard;
    SoundMenu soundMenu;
    juce::TextButton saveSoundButton { "SAVE SOUND" };
    juce::TextButton openSoundButton { "OPEN SOUND" };
    juce::TextButton panicButton { "PANIC" };
    juce::Slider masterKnob;
    juce::ComboBox frameBox;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ComboBoxAttachment> frameAttachment;
    juce::Label statusLabel;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> masterAttachment;
    std::unique_ptr<juce::FileChooser> chooser;
    juce::TooltipWindow tooltips { this, 500 };

private:
    void timerCallback() override;
    /** Records a saved or opened sound and its folder, and refills the menu. */
    void remember (const juce::File& file);
    void panic();
    int frameTheme() const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChainEditor)
};
