#include "editor/PluginTile.h"
#include "editor/PluginPreview.h"

#include "editor/NativePluginWindow.h"
#include "hosting/EffectPicker.h"
#include "hosting/PluginTrust.h"
#include "rack/Hosted.h"

namespace
{
    const juce::String noPluginText ("No plug-in loaded");

#if JUCE_MAC
    const juce::String instrumentItemText ("Choose AU instrument");
    const juce::String effectItemText ("Choose AU effect");
    const juce::String fileItemText ("Choose AU / VST3 file");
    const juce::String chooserTitle ("Load AU or VST3 plug-in");
    const juce::String chooserPatterns ("*.component;*.vst3");

    juce::File chooserStart()
    {
        return juce::File ("/Library/Audio/Plug-Ins");
    }
#else
    const juce::String instrumentItemText ("Choose instrument");
    const juce::String effectItemText ("Choose effect");
    const juce::String fileItemText ("Choose VST3 file");
    const juce::String chooserTitle ("Load VST3 plug-in");
    const juce::String chooserPatterns ("*.vst3");

    // The usual VST3 folders on Linux, the user's own first.
    juce::File chooserStart()
    {
        const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);

        for (const auto& folder : { home.getChildFile (".vst3"),
                                    juce::File ("/usr/local/lib/vst3"),
                                    juce::File ("/usr/lib/vst3") })
            if (folder.isDirectory())
                return folder;

        return home;
    }
#endif
}

PluginTile::PluginTile (ChainProcessor& processorToUse, int slotIndex,
                        const std::vector<juce::PluginDescription>& catalogueToOffer)
    : processor (processorToUse),
      slot (slotIndex),
      catalogue (catalogueToOffer)
{
    addAndMakeVisible (loadButton);
    addAndMakeVisible (openButton);
    addAndMakeVisible (clearButton);
    addAndMakeVisible (status);

    status.setText (noPluginText, juce::dontSendNotification);
    status.setColour (juce::Label::textColourId, juce::Colour (0xffe9dfc4));
    status.setFont (juce::Font (13.0f, juce::Font::bold));

    loadButton.onClick = [this] { choose(); };
    openButton.onClick = [this] { openEditor(); };
    clearButton.onClick = [this] { processor.clear (slot); };

    startTimer (1000);
}

PluginTile::~PluginTile()
{
    stopTimer();
    ++generation;
    disposeEditor();
    hosted = nullptr;
    chooser = nullptr;
}

juce::String PluginTile::title() const
{
    return slot < ChainProcessor::numLayers ? "SYNTH " + juce::String (slot + 1)
                                            : "FX " + juce::String (slot - 3);
}

void PluginTile::resized()
{
    const int w = getWidth();

    loadButton.setBounds (10, 9, 60, 26);
    status.setBounds (77, 9, juce::jmax (1, w - 174), 26);
    openButton.setBounds (w - 88, 9, 60, 26);
    clearButton.setBounds (w - 25, 9, 20, 26);
}

void PluginTile::paint (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();

    g.fillAll (juce::Colour (0xff22241e));
    g.setColour (juce::Colour (0xff847e67));
    g.drawRect (getLocalBounds(), 1);

    g.setColour (juce::Colour (0xffbd4b35));
    g.fillRect (0, 0, 4, 43);

    const juce::Rectangle<int> screen (9, 45, juce::jmax (0, w - 18), juce::jmax (0, h - 54));
    g.setColour (juce::Colour (0xff12140f));
    g.fillRect (screen);

    if (hosted != nullptr && hosted->preview.isValid())
    {
        g.drawImage (hosted->preview, screen.toFloat(),
                     juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize);
        return;
    }

    auto font = juce::Font (15.0f, juce::Font::bold);
    g.setColour (juce::Colour (0xffb9b297));
    g.setFont (font);
    g.drawText (title(), juce::Rectangle<int> (9, 45, juce::jmax (0, w - 18), juce::jmax (0, h - 74)),
                juce::Justification::centred, true);

    const int screenHeight = screen.getHeight();
    const int hintTop = screenHeight / 2 + 10;

    g.setFont (font.withHeight (11.0f));
    g.setColour (juce::Colour (0xff817f6b));
    g.drawText (hosted != nullptr ? "OPEN to create or refresh preview" : "LOAD an instrument or effect",
                juce::Rectangle<int> (9, 45 + hintTop, juce::jmax (0, w - 18), juce::jmax (0, screenHeight - hintTop)),
                juce::Justification::centredTop, true);
}

void PluginTile::mouseDoubleClick (const juce::MouseEvent&)
{
    openEditor();
}

void PluginTile::timerCallback()
{
    if (window != nullptr && editor != nullptr)
        preview (false);
}

void PluginTile::update (std::shared_ptr<ChainProcessor::Hosted> newHosted)
{
    if (newHosted != hosted)
    {
        ++generation;

        // The old plug-in's editor goes before our reference to the plug-in,
        // so the plug-in is destroyed here on the message thread, never under
        // the rack lock.
        disposeEditor();
        hosted = std::move (newHosted);

        status.setText (hosted != nullptr ? hosted->description.name : noPluginText, juce::dontSendNotification);
        repaint();
    }

    openButton.setEnabled (hosted != nullptr);
    clearButton.setEnabled (hosted != nullptr);

    juce::String statusText;
    {
        const juce::ScopedLock sl (processor.lock);
        const auto& record = processor.slots[(size_t) slot];
        statusText = record.loading ? juce::String ("Loading...") : record.message;
    }

    status.setTooltip (statusText.isNotEmpty() ? statusText : status.getText());

    if (hosted == nullptr)
        return;

    bool openRequested = false;
    {
        const juce::ScopedLock sl (processor.lock);
        auto& record = processor.slots[(size_t) slot];
        openRequested = record.showEditor;
        record.showEditor = false;
    }

    if (openRequested)
        openEditor();
}

void PluginTile::load (const juce::PluginDescription& description)
{
    // The plug-in starts in its own default state, and its editor opens once loaded.
    processor.load (slot, description, {}, true, {});
}

void PluginTile::choose()
{
    juce::PopupMenu menu;
    menu.addItem (1, slot < ChainProcessor::numLayers ? instrumentItemText : effectItemText);
    menu.addItem (2, fileItemText);

    juce::Component::SafePointer<PluginTile> safeThis (this);

    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&loadButton), [safeThis] (int result)
    {
        if (safeThis == nullptr)
            return;

        if (result == 1)
        {
            auto picker = std::make_unique<EffectPicker> (safeThis->catalogue, [safeThis] (juce::PluginDescription picked)
            {
                if (safeThis != nullptr)
                    safeThis->load (picked);
            });

            juce::CallOutBox::launchAsynchronously (std::move (picker), safeThis->loadButton.getScreenBounds(), nullptr);
        }
        else if (result == 2)
        {
            safeThis->browse();
        }
    });
}

std::vector<juce::PluginDescription> PluginTile::matchingPlugins (juce::AudioPluginFormatManager& formats,
                                                                  const juce::String& path, bool instruments)
{
    std::vector<juce::PluginDescription> matches;

    for (auto* format : formats.getFormats())
    {
        if (! format->fileMightContainThisPluginType (path))
            continue;

        juce::OwnedArray<juce::PluginDescription> found;
        format->findAllTypesForFile (found, path);

        for (auto* description : found)
        {
            // The application never hosts itself.
            if (description->name.containsIgnoreCase ("VELLIX"))
                continue;

            if (description->isInstrument == instruments)
                matches.push_back (*description);
        }
    }

    return matches;
}

void PluginTile::browse()
{
    chooser = std::make_unique<juce::FileChooser> (chooserTitle, chooserStart(), chooserPatterns, true, false, nullptr);

    juce::Component::SafePointer<PluginTile> safeThis (this);
    const int browseFlags = juce::FileBrowserComponent::openMode
                    | juce::FileBrowserComponent::canSelectFiles
                    | juce::FileBrowserComponent::canSelectDirectories;

    chooser->launchAsync (browseFlags, [safeThis] (const juce::FileChooser& fileChooser)
    {
        const auto file = fileChooser.getResult();

        if (safeThis != nullptr && file != juce::File())
            safeThis->loadFromFile (file);
    });
}

void PluginTile::loadFromFile (const juce::File& bundle)
{
    auto matches = std::make_shared<std::vector<juce::PluginDescription>> (
        matchingPlugins (processor.formatManager, bundle.getFullPathName(), slot < ChainProcessor::numLayers));

    if (matches->empty())
    {
        status.setText ("No matching instrument/effect", juce::dontSendNotification);
        return;
    }

    // The user chose this file: sounds that use it may open it later.
    PluginTrust::approve (bundle);

    if (matches->size() == 1)
    {
        load (matches->front());
        return;
    }

    juce::PopupMenu menu;

    for (size_t i = 0; i < matches->size(); ++i)
        menu.addItem ((int) i + 1, (*matches)[i].name);

    juce::Component::SafePointer<PluginTile> safeThis (this);

    // The callback keeps the list alive until the menu has answered.
    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&loadButton), [safeThis, matches] (int result)
    {
        if (result > 0 && safeThis != nullptr && result <= (int) matches->size())
            safeThis->load ((*matches)[(size_t) result - 1]);
    });
}

//==============================================================================
// The plug-in's own editor window and its preview. The window stays on screen
// until the capture that a close started has delivered (or 1200 ms), so that
// the last picture shows the editor as the user left it.

void PluginTile::openEditor()
{
    if (hosted == nullptr)
        return;

    if (window != nullptr)
    {
        // A close that is still waiting for its capture is cancelled.
        closeRequested = false;
        window->toFront (true);
        return;
    }

    // An editor never outlives its window; should one be left, it goes first
    // so that the instance hands out a fresh one.
    if (editor != nullptr)
        disposeEditor();

    auto& instance = *hosted->instance;
    editor.reset (instance.hasEditor() ? instance.createEditorIfNeeded() : nullptr);

    if (editor == nullptr)
    {
        status.setText ("No native editor available", juce::dontSendNotification);
        return;
    }

    window = std::make_unique<NativePluginWindow> (hosted->description.name);
    window->setContentNonOwned (editor.get(), true);

    const juce::Component::SafePointer<PluginTile> safeThis (this);
    window->onClose = [safeThis]
    {
        if (safeThis != nullptr)
            safeThis->preview (true);
    };

    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr)
        window->centreWithSize (editor->getWidth(), editor->getHeight());
    else
        window->setTopLeftPosition (100, 100);

    window->setVisible (true);

    juce::Timer::callAfterDelay (400, [safeThis]
    {
        if (safeThis != nullptr && safeThis->editor != nullptr)
            safeThis->preview (false);
    });
}

void PluginTile::preview (bool closeAfterwards)
{
    if (editor == nullptr)
        return;

    const juce::Component::SafePointer<PluginTile> safeThis (this);

    if (closeAfterwards)
    {
        closeRequested = true;

        // A capture that never completes must not keep the window open.
        juce::Timer::callAfterDelay (1200, [safeThis, expected = generation]
        {
            if (safeThis != nullptr && safeThis->generation == expected && safeThis->closeRequested)
                safeThis->disposeEditor();
        });
    }

    if (capturing)
        return;

    capturing = true;

    capturePluginPreview (*editor, [safeThis, shown = hosted, expected = generation] (juce::Image picture)
    {
        if (safeThis == nullptr || safeThis->generation != expected)
            return;

        safeThis->capturing = false;
        safeThis->processor.setPreview (safeThis->slot, shown, picture);
        safeThis->repaint();

        if (safeThis->closeRequested)
            safeThis->disposeEditor();
    });
}

void PluginTile::disposeEditor()
{
    if (window != nullptr)
    {
        window->clearContentComponent();
        window = nullptr;
    }

    if (editor != nullptr)
    {
        if (hosted != nullptr)
            hosted->instance->editorBeingDeleted (editor.get());

        editor = nullptr;
    }

    capturing = false;
    closeRequested = false;
}
