#include "editor/LayerMixer.h"

LayerMixer::LayerMixer (ChainProcessor& processor)
{
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;

    for (size_t i = 0; i < (size_t) ChainProcessor::numLayers; ++i)
    {
        const auto digit = juce::String ((int) i);

        for (auto* knob : { &volume[i], &pan[i] })
        {
            addAndMakeVisible (*knob);
            knob->setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
            knob->setTextBoxStyle (juce::Slider::TextBoxBelow, false, 64, 18);
        }

        volume[i].setDoubleClickReturnValue (true, 0.5);
        pan[i].setDoubleClickReturnValue (true, 0.0);

        sliderAttachments.push_back (std::make_unique<SliderAttachment> (processor.parameters, "volume" + digit, volume[i]));
        sliderAttachments.push_back (std::make_unique<SliderAttachment> (processor.parameters, "pan" + digit, pan[i]));

        // The attachments install the parameter's own texts; these replace them.
        volume[i].textFromValueFunction = volumeText;
        volume[i].valueFromTextFunction = volumeValue;
        pan[i].textFromValueFunction = panText;
        pan[i].valueFromTextFunction = panValue;
        volume[i].updateText();
        pan[i].updateText();

        mute[i].setButtonText ("MUTE");
        solo[i].setButtonText ("SOLO");
        addAndMakeVisible (mute[i]);
        addAndMakeVisible (solo[i]);
        buttonAttachments.push_back (std::make_unique<ButtonAttachment> (processor.parameters, "mute" + digit, mute[i]));
        buttonAttachments.push_back (std::make_unique<ButtonAttachment> (processor.parameters, "solo" + digit, solo[i]));
    }
}

LayerMixer::~LayerMixer() = default;

juce::String LayerMixer::volumeText (double value)
{
    return juce::String (juce::roundToInt (value * 100.0)) + " %";
}

double LayerMixer::volumeValue (const juce::String& text)
{
    return text.getDoubleValue() / 100.0;
}

juce::String LayerMixer::panText (double value)
{
    if (std::abs (value) < 0.005)
        return "C";

    return juce::String (juce::roundToInt (std::abs (value) * 100.0)) + (value < 0.0 ? " L" : " R");
}

double LayerMixer::panValue (const juce::String& text)
{
    if (text.containsIgnoreCase ("C"))
        return 0.0;

    const double amount = text.getDoubleValue();
    return text.containsIgnoreCase ("L") ? -amount / 100.0 : amount / 100.0;
}

void LayerMixer::resized()
{
    const int strip = getWidth() / 4;

    for (size_t i = 0; i < (size_t) ChainProcessor::numLayers; ++i)
    {
        const int cx = getWidth() / 8 + (int) i * strip;

        volume[i].setBounds (cx - 91, 26, 72, 76);
        pan[i].setBounds (cx + 19, 26, 72, 76);
        mute[i].setBounds (cx - 83, 122, 83, 24);
        solo[i].setBounds (cx + 8, 122, 83, 24);
    }
}

void LayerMixer::paint (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();
    const int strip = w / 4;

    g.fillAll (juce::Colour (0xff1c1e18));
    g.setColour (juce::Colour (0xff847e67));
    g.drawRect (getLocalBounds(), 1);

    auto font = juce::Font (12.0f, juce::Font::bold);

    for (int i = 0; i < ChainProcessor::numLayers; ++i)
    {
        const int cx = w / 8 + i * strip;

        g.setColour (juce::Colour (0xffdbd0b4));
        g.setFont (font);
        g.drawText ("SYNTH " + juce::String (i + 1), juce::Rectangle<int> (i * strip, 5, strip, 18),
                    juce::Justification::centred, true);

        g.setFont (font.withHeight (10.0f));
        g.drawText ("VOLUME", juce::Rectangle<int> (cx - 91, 105, 72, 14), juce::Justification::centred, true);
        g.drawText ("PAN", juce::Rectangle<int> (cx + 19, 105, 72, 14), juce::Justification::centred, true);

        if (i > 0)
        {
            g.setColour (juce::Colour (0xff555543));
            g.drawVerticalLine (i * strip, 10.0f, (float) (h - 10));
        }
    }
}
