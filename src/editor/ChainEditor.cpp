#include "editor/ChainEditor.h"

#include <cmath>

namespace
{
    constexpr int lowestKey = 24;
    constexpr int highestKey = 96;

    int whiteKeyCount()
    {
        int count = 0;

        for (int note = lowestKey; note <= highestKey; ++note)
            if (! juce::MidiMessage::isMidiNoteBlack (note))
                ++count;

        return count;
    }
}

ChainEditor::ChainEditor (ChainProcessor& processorToEdit, juce::File libraryFolder)
    : juce::AudioProcessorEditor (processorToEdit),
      processor (processorToEdit),
      library (libraryFolderFor (libraryFolder)),
      // An index without an Audio Unit folder of its own means the standard sources.
      synthCatalogue (processorToEdit.audioUnitCatalogue (library.auFolder, true)),
      effectCatalogue (processorToEdit.audioUnitCatalogue (library.auFolder, false)),
      mixer (processorToEdit),
      keyboard (processorToEdit.keyboardState, juce::MidiKeyboardComponent::horizontalKeyboard)
{
    setLookAndFeel (&look);

    for (int i = 0; i < ChainProcessor::numSlots; ++i)
    {
        tiles[(size_t) i] = std::make_unique<PluginTile> (processor, i, i < ChainProcessor::numLayers ? synthCatalogue
                                                                                                       : effectCatalogue);
        addAndMakeVisible (*tiles[(size_t) i]);
    }

    for (auto* child : std::initializer_list<juce::Component*> { &mixer, &keyboard, &soundMenu, &saveSoundButton,
                                                                 &openSoundButton, &frameBox, &panicButton,
                                                                 &masterKnob, &statusLabel })
        addAndMakeVisible (child);

    masterKnob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    masterKnob.setComponentID ("master");
    masterKnob.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 75, 18);
    masterKnob.setDoubleClickReturnValue (true, 0.7);
    masterAttachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (processor.parameters,
                                                                                                "master", masterKnob);
    // The attachment installs the parameter's own texts; these replace them.
    masterKnob.textFromValueFunction = masterText;
    masterKnob.valueFromTextFunction = masterValue;
    masterKnob.updateText();

    keyboard.setAvailableRange (lowestKey, highestKey);
    keyboard.setScrollButtonsVisible (false);
    keyboard.setLowestVisibleKey (lowestKey);

    juce::Component::SafePointer<ChainEditor> safeThis (this);
    soundMenu.beforePopup = [safeThis]
    {
        if (safeThis != nullptr)
            safeThis->refreshSounds();
    };
    soundMenu.onChange = [this]
    {
        const int id = soundMenu.getSelectedId();

        if (id >= 1 && id <= (int) sounds.size())
            read (sounds[(size_t) id - 1]);
    };

    saveSoundButton.onClick = [this] { preset (true); };
    openSoundButton.onClick = [this] { preset (false); };

    frameBox.addItem ("Classic", 1);
    frameBox.addItem ("Black Metal", 2);
    frameBox.addItem ("Grey Metal", 3);
    frameBox.setTooltip ("Frame finish");
    frameAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ComboBoxAttachment> (processor.parameters,
                                                                                                 "frameTheme", frameBox);
    getProperties().set ("frameTheme", frameTheme());

    // Installed only now, so that the attachment's first selection does not
    // run it; the property above covers that case.
    frameBox.onChange = [this]
    {
        getProperties().set ("frameTheme", frameBox.getSelectedId() - 1);
        repaint();

        // The main content draws its header with the same finish.
        if (auto* parent = getParentComponent())
            parent->repaint();
    };

    panicButton.onClick = [this] { panic(); };

    refreshSounds();

    setResizable (true, true);
    setResizeLimits (minimumWidth, minimumHeight, maximumWidth, maximumHeight);
    setSize (initialWidth, initialHeight (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()));

    timerCallback();
    startTimerHz (4);
}

ChainEditor::~ChainEditor()
{
    stopTimer();

    for (auto& tile : tiles)
        tile = nullptr;

    setLookAndFeel (nullptr);
}

int ChainEditor::initialHeight (const juce::Displays::Display* primaryDisplay)
{
    if (primaryDisplay == nullptr)
        return 900;

    return juce::jlimit (870, 1050, primaryDisplay->userArea.getHeight()) - 150;
}

juce::String ChainEditor::masterText (double gain)
{
    if (gain <= 0.0)
        return "-inf dB";

    return juce::String (juce::jmax (-100.0, 20.0 * std::log10 (gain)), 1) + " dB";
}

double ChainEditor::masterValue (const juce::String& text)
{
    if (text.containsIgnoreCase ("inf"))
        return 0.0;

    const double decibels = text.getDoubleValue();
    return decibels <= -100.0 ? 0.0 : std::pow (10.0, decibels * 0.05);
}

juce::File ChainEditor::libraryFolderFor (const juce::File& given)
{
    if (given != juce::File())
        return given;

    return juce::File::getSpecialLocation (juce::File::userDocumentsDirectory).getChildFile ("VELLIX/Sounds");
}

int ChainEditor::frameTheme() const
{
    if (auto* value = processor.parameters.getRawParameterValue ("frameTheme"))
        return juce::roundToInt (value->load());

    return 0;
}

void ChainEditor::resized()
{
    const int w = getWidth();
    const int h = getHeight();

    const int columnWidth = (w - 88) / 2;
    const int rightColumn = columnWidth + 49;
    const int effectHeight = h < 708 ? 112 : juce::jmin ((h - 260) / 4, 160);
    const int base = h - 73 - effectHeight;
    const int synthHeight = (base - 356) / 2;

    soundMenu.setBounds (39, 72, 225, 28);
    openSoundButton.setBounds (274, 72, 104, 28);
    saveSoundButton.setBounds (388, 72, 110, 28);
    frameBox.setBounds (508, 72, 142, 28);
    panicButton.setBounds (660, 72, 74, 28);
    masterKnob.setBounds (w - 137, 29, 89, 88);

    tiles[0]->setBounds (39, 129, columnWidth, synthHeight);
    tiles[1]->setBounds (rightColumn, 129, columnWidth, synthHeight);
    tiles[2]->setBounds (39, synthHeight + 139, columnWidth, synthHeight);
    tiles[3]->setBounds (rightColumn, synthHeight + 139, columnWidth, synthHeight);
    mixer.setBounds (39, base - 193, w - 78, 150);
    tiles[4]->setBounds (39, base - 12, columnWidth, effectHeight);
    tiles[5]->setBounds (rightColumn, base - 12, columnWidth, effectHeight);
    keyboard.setBounds (27, h - 73, w - 54, 46);
    statusLabel.setBounds (39, h - 22, w - 78, 14);

    // The white keys fill the keyboard exactly.
    static const int whiteKeys = whiteKeyCount();
    keyboard.setKeyWidth ((float) (w - 54) / (float) whiteKeys);
}

void ChainEditor::paint (juce::Graphics& g)
{
    const int w = getWidth();

    drawAnalogFrame (g, getLocalBounds(), frameTheme());

    const auto light = juce::Colour (0xffeee0bc);
    const auto caption = juce::Font (11.0f, juce::Font::bold);

    g.setColour (light);
    g.setFont (juce::Font (27.0f, juce::Font::bold));
    g.drawText ("VELLIX", juce::Rectangle<int> (39, 22, 430, 35), juce::Justification::centredLeft, true);

    g.setColour (juce::Colour (0xffbdb499));
    g.setFont (caption);
    g.drawText ("FOUR LAYERS  /  ONE SOUND", juce::Rectangle<int> (490, 28, w - 665, 23),
                juce::Justification::centredLeft, true);

    g.setColour (juce::Colour (0xffd3553d));
    g.fillRect (39, 61, w - 220, 2);

    g.setColour (light);
    g.drawText ("MASTER", juce::Rectangle<int> (w - 137, 13, 89, 17), juce::Justification::centred, true);
    g.drawText ("SYNTHS  /  PARALLEL", juce::Rectangle<int> (39, 108, 400, 18), juce::Justification::centredLeft, true);
    g.drawText ("MIX", juce::Rectangle<int> (39, mixer.getY() - 21, 400, 17), juce::Justification::centredLeft, true);
    g.drawText ("FX 1 > FX 2  /  SERIAL", juce::Rectangle<int> (39, tiles[4]->getY() - 22, 400, 18),
                juce::Justification::centredLeft, true);
}

void ChainEditor::timerCallback()
{
    std::array<std::shared_ptr<ChainProcessor::Hosted>, ChainProcessor::numSlots> hosted;
    {
        const juce::ScopedLock sl (processor.lock);

        for (size_t i = 0; i < hosted.size(); ++i)
            hosted[i] = processor.slots[i].hosted;
    }

    for (size_t i = 0; i < hosted.size(); ++i)
        tiles[i]->update (std::move (hosted[i]));

    juce::String soundName;
    {
        const juce::ScopedLock sl (processor.lock);
        soundName = processor.name;
    }

    if (soundMenu.getText() != soundName)
        soundMenu.setText (soundName, juce::dontSendNotification);
}

void ChainEditor::panic()
{
    processor.panicRequest.store (true, std::memory_order_release);
    processor.keyboardState.allNotesOff (0);
}

