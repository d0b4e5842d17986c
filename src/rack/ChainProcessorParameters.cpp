#include "rack/ChainProcessor.h"

juce::AudioProcessorValueTreeState::ParameterLayout ChainProcessor::layout()
{
    using Float = juce::AudioParameterFloat;
    using Bool = juce::AudioParameterBool;
    using Choice = juce::AudioParameterChoice;
    using Range = juce::NormalisableRange<float>;

    juce::AudioProcessorValueTreeState::ParameterLayout result;

    for (int i = 0; i < numSlots; ++i)
        result.add (std::make_unique<Bool> (juce::ParameterID { "bypass" + juce::String (i), 1 },
                                            "Bypass " + juce::String (i + 1), false));

    for (int i = 0; i < numLayers; ++i)
    {
        const auto digit = juce::String (i);
        const auto layerName = "Layer " + juce::String (i + 1);

        result.add (std::make_unique<Float> (juce::ParameterID { "volume" + digit, 1 },
                                             layerName + " volume", Range (0.0f, 1.0f, 0.0f, 1.0f), 0.5f));
        result.add (std::make_unique<Float> (juce::ParameterID { "pan" + digit, 1 },
                                             layerName + " pan", Range (-1.0f, 1.0f, 0.0f, 1.0f), 0.0f));
        result.add (std::make_unique<Bool> (juce::ParameterID { "mute" + digit, 1 },
                                            layerName + " mute", false));
        result.add (std::make_unique<Bool> (juce::ParameterID { "solo" + digit, 1 },
                                            layerName + " solo", false));
    }

    result.add (std::make_unique<Float> (juce::ParameterID { "master", 1 }, "Master",
                                         Range (0.0f, 1.5f, 0.0f, 1.0f), 0.7f));
    result.add (std::make_unique<Choice> (juce::ParameterID { "frameTheme", 1 }, "Frame finish",
                                          juce::StringArray { "Classic", "Black Metal", "Grey Metal" }, 0));
    return result;
}

float ChainProcessor::rawValue (const juce::String& parameterID) const
{
    if (auto* value = parameters.getRawParameterValue (parameterID))
        return value->load (std::memory_order_relaxed);

    jassertfalse;
    return 0.0f;
}

bool ChainProcessor::anySolo() const
{
    for (const auto* solo : soloValues)
        if (solo->load (std::memory_order_relaxed) > 0.5f)
            return true;

    return false;
}

float ChainProcessor::level (int layer, bool anySoloed) const
{
    jassert (juce::isPositiveAndBelow (layer, numLayers));
    const auto i = (size_t) layer;

    if (bypassValues[i]->load (std::memory_order_relaxed) > 0.5f)
        return 0.0f;

    if (muteValues[i]->load (std::memory_order_relaxed) > 0.5f)
        return 0.0f;

    if (anySoloed && soloValues[i]->load (std::memory_order_relaxed) < 0.5f)
        return 0.0f;

    return volumeValues[i]->load (std::memory_order_relaxed);
}

float ChainProcessor::panLeft (float gain, float pan) noexcept
{
    return pan > 0.0f ? gain * (1.0f - pan) : gain;
}

float ChainProcessor::panRight (float gain, float pan) noexcept
{
    return pan < 0.0f ? gain * (1.0f + pan) : gain;
}
