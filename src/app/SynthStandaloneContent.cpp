#include "app/SynthStandaloneContent.h"

#include "app/StandaloneHolder.h"

SynthStandaloneContent::SynthStandaloneContent (juce::StandalonePluginHolder& holderToUse)
    : holder (holderToUse)
{
    setLookAndFeel (&look);

    if (auto* processor = holder.processor.get())
        editor.reset (processor->createEditorIfNeeded());

    addAndMakeVisible (setupButton);

    if (editor != nullptr)
    {
        addAndMakeVisible (*editor);
        editor->resized();
        editor->addComponentListener (this);
    }

    setupButton.onClick = [this] { holder.showAudioSettingsDialog(); };

    if (editor != nullptr)
        setSize (editor->getWidth(), editor->getHeight() + headerHeight);
    else
        setSize (1088, 892);
}

SynthStandaloneContent::~SynthStandaloneContent()
{
    if (editor != nullptr)
    {
        editor->removeComponentListener (this);

        if (auto* processor = holder.processor.get())
            processor->editorBeingDeleted (editor.get());

        editor = nullptr;
    }

    setLookAndFeel (nullptr);
}

void SynthStandaloneContent::paint (juce::Graphics& g)
{
    const int theme = editor != nullptr ? (int) editor->getProperties().getWithDefault ("frameTheme", 0) : 0;

    // The frame is drawn 12 pixels above and 14 below the content, so that only
    // its sides and face show behind the header and around the editor.
    juce::Graphics::ScopedSaveState saved (g);
    g.addTransform (juce::AffineTransform::translation (0.0f, -12.0f));
    drawAnalogFrame (g, { 0, 0, getWidth(), getHeight() + 26 }, theme);
}

void SynthStandaloneContent::resized()
{
    const bool wasResizing = resizing;
    resizing = true;

    setupButton.setBounds (43, 7, 170, 28);

    if (editor != nullptr)
        editor->setBounds (0, headerHeight, getWidth(), getHeight() - headerHeight);

    resizing = wasResizing;
}

void SynthStandaloneContent::componentMovedOrResized (juce::Component& component, bool, bool wasResized)
{
    if (wasResized && &component == editor.get() && ! resizing)
    {
        resizing = true;
        setSize (editor->getWidth(), editor->getHeight() + headerHeight);
        resizing = false;
    }
}
