// The rack state: the one serialised form of a whole rack (sound files, the
// session kept in the settings). JUCE's binary XML wrapper around a VELLIX
// document with PARAMETERS and six SLOTs.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"
#include "hosting/PluginTrust.h"
#include "hosting/UntrustedText.h"

#include <cmath>

namespace
{
    /** JUCE's own base-64 text form; text that does not decode gives an empty
        block rather than a partly filled one. */
    juce::MemoryBlock decodeBase64 (const juce::String& text)
    {
        juce::MemoryBlock block;

        if (! block.fromBase64Encoding (text))
            block.reset();

        return block;
    }
}

void ChainProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::XmlElement root ("VELLIX");

    const juce::ScopedLock sl (lock);

    root.setAttribute ("name", name);
    root.setAttribute ("synthLayers", numLayers);
    root.setAttribute ("viewScale", (double) viewScale.load());

    if (auto parameterXml = parameters.copyState().createXml())
        root.addChildElement (parameterXml.release());

    for (int i = 0; i < numSlots; ++i)
    {
        const auto& slot = slots[(size_t) i];
        auto* slotXml = root.createNewChildElement ("SLOT");
        slotXml->setAttribute ("index", i);

        // A slot whose plug-in is missing or still loading keeps what it was
        // asked to hold, so the entry survives later saves.
        if (slot.description.fileOrIdentifier.isEmpty())
            continue;

        slotXml->addChildElement (slot.description.createXml().release());

        auto state = slot.state;

        if (slot.hosted != nullptr)
        {
            state.reset();
            slot.hosted->instance->getStateInformation (state);
        }

        slotXml->createNewChildElement ("STATE")->addTextElement (state.toBase64Encoding());

        if (! slot.preview.isEmpty())
            slotXml->createNewChildElement ("PREVIEW")->addTextElement (slot.preview.toBase64Encoding());
    }

    copyXmlToBinary (root, destData);
}

void ChainProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    std::shared_ptr<juce::XmlElement> document (UntrustedText::xmlFromBinary (data, sizeInBytes));

    if (document == nullptr || ! document->hasTagName ("VELLIX"))
        return;

    // Older racks had three layers and their two effects in slots 3 and 4.
    if (document->getIntAttribute ("synthLayers", 3) == 3)
    {
        for (auto* slotXml : document->getChildWithTagNameIterator ("SLOT"))
        {
            const int index = slotXml->getIntAttribute ("index", 0);

            if (index >= 3)
                slotXml->setAttribute ("index", index + 1);
        }

        if (auto* parameterXml = document->getChildByName ("PARAMETERS"))
        {
            // Each element is visited once, so the two renames never chain.
            for (auto* parameter : parameterXml->getChildIterator())
            {
                const auto id = parameter->getStringAttribute ("id");

                if (id == "bypass3")
                    parameter->setAttribute ("id", "bypass4");
                else if (id == "bypass4")
                    parameter->setAttribute ("id", "bypass5");
            }
        }
    }

    auto apply = [requestGate = gate, document]
    {
        const juce::ScopedLock gateLock (requestGate->lock);

        if (auto* owner = requestGate->owner)
            owner->applyState (*document);
    };

    if (juce::MessageManager::existsAndIsCurrentThread())
        apply();
    else
        juce::MessageManager::callAsync (std::move (apply));
}

void ChainProcessor::applyState (const juce::XmlElement& document)
{
    {
        const juce::ScopedLock sl (lock);
        name = document.getStringAttribute ("name", "Init sound");
    }

    // A text that reads as NaN would pass through the clamp unchanged.
    auto scale = (float) document.getDoubleAttribute ("viewScale", 0.6);

    if (std::isnan (scale))
        scale = 0.6f;

    viewScale.store (juce::jlimit (0.5f, 0.7f, scale));

    if (auto* parameterXml = document.getChildByName ("PARAMETERS"))
    {
        auto tree = juce::ValueTree::fromXml (*parameterXml);

        // A parameter the document lacks takes its default, not its current value.
        for (auto* parameter : getParameters())
        {
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
            {
                const auto id = ranged->getParameterID();

                if (! tree.getChildWithProperty ("id", id).isValid())
                {
                    juce::ValueTree child ("PARAM");
                    child.setProperty ("id", id, nullptr);
                    child.setProperty ("value", ranged->convertFrom0to1 (ranged->getDefaultValue()), nullptr);
                    tree.appendChild (child, nullptr);
                }
            }
        }

        parameters.replaceState (tree);
    }

    for (int i = 0; i < numSlots; ++i)
        clear (i);

    for (auto* slotXml : document.getChildWithTagNameIterator ("SLOT"))
    {
        const int index = slotXml->getIntAttribute ("index", -1);

        if (! juce::isPositiveAndBelow (index, numSlots))
            continue;

        auto* pluginXml = slotXml->getChildByName ("PLUGIN");

        if (pluginXml == nullptr)
            continue;

        juce::PluginDescription description;

        if (! description.loadFromXml (*pluginXml))
            continue;

        const auto state = decodeBase64 (slotXml->getChildElementAllSubText ("STATE", {}));
        const auto preview = decodeBase64 (slotXml->getChildElementAllSubText ("PREVIEW", {}));

        // A sound may come from anyone: a plug-in file outside the plug-in
        // folders is never opened. The slot keeps what the sound stored, so
        // saving it again loses nothing, and says why it stays empty.
        if (const auto refusal = PluginTrust::refusal (description); refusal.isNotEmpty())
        {
            const juce::ScopedLock sl (lock);
            auto& slot = slots[(size_t) index];

            // Voids an earlier entry of the same index that is still loading.
            ++slot.generation;
            slot.loading = false;
            slot.description = description;
            slot.state = state;
            slot.preview = preview;
            slot.message = refusal;
            continue;
        }

        load (index, description, state, false, preview);
    }
}
