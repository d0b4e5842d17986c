// The rack state: what getStateInformation writes, and what
// setStateInformation does with written, older, odd and broken documents.

#include "LoadingTestSupport.h"

#include <thread>

using namespace loading;

namespace
{
    std::unique_ptr<juce::XmlElement> parse (const juce::MemoryBlock& state)
    {
        return juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
    }

    juce::MemoryBlock binary (const juce::XmlElement& xml)
    {
        juce::MemoryBlock block;
        juce::AudioProcessor::copyXmlToBinary (xml, block);
        return block;
    }

    juce::MemoryBlock binary (const juce::String& xmlText)
    {
        auto xml = juce::parseXML (xmlText);
        EXPECT_NE (xml, nullptr) << xmlText;
        return xml != nullptr ? binary (*xml) : juce::MemoryBlock();
    }

    juce::MemoryBlock stateOf (ChainProcessor& processor)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return block;
    }

    void restore (ChainProcessor& processor, const juce::MemoryBlock& block)
    {
        processor.setStateInformation (block.getData(), (int) block.getSize());
    }

    juce::RangedAudioParameter& parameter (ChainProcessor& processor, const juce::String& id)
    {
        auto* p = processor.parameters.getParameter (id);
        EXPECT_NE (p, nullptr) << id;
        return *p;
    }

    float plainValue (ChainProcessor& processor, const juce::String& id)
    {
        return processor.parameters.getRawParameterValue (id)->load();
    }

    float defaultValue (ChainProcessor& processor, const juce::String& id)
    {
        auto& p = parameter (processor, id);
        return p.convertFrom0to1 (p.getDefaultValue());
    }

    void setPlain (ChainProcessor& processor, const juce::String& id, float value)
    {
        auto& p = parameter (processor, id);
        p.setValueNotifyingHost (p.convertTo0to1 (value));
    }

    /** A SLOT element holding a fake plug-in, as a written state has it. */
    juce::String slotXml (int index, const juce::String& kind, const juce::String& state = {})
    {
        auto plugin = fake (kind).createXml();
        return "<SLOT index=\"" + juce::String (index) + "\">"
             + plugin->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader())
             + "<STATE>" + bytes (state).toBase64Encoding() + "</STATE></SLOT>";
    }

    juce::String kindIn (ChainProcessor& processor, int index)
    {
        const auto view = viewSlot (processor, index);
        return view.hosted == nullptr ? juce::String() : dynamic_cast<FakeInstance&> (*view.hosted->instance).kind;
    }

    juce::MemoryBlock pngOf (juce::Colour colour)
    {
        juce::Image image (juce::Image::ARGB, 5, 3, true);
        image.clear (image.getBounds(), colour);
        juce::MemoryOutputStream out;
        juce::PNGImageFormat().writeImageToStream (image, out);
        return out.getMemoryBlock();
    }
}

//==============================================================================
using StateWriting = FakeRackTest;

TEST_F (StateWriting, AnEmptyRackIsTheRootTheParametersAndSixBareSlots)
{
    const auto state = stateOf (*processor);

    // JUCE's binary wrapper: magic, text length, single-line text, a zero byte.
    ASSERT_GE (state.getSize(), 9u);
    const auto* raw = static_cast<const juce::uint8*> (state.getData());
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (raw), 0x21324356u);
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (raw + 4), (juce::uint32) state.getSize() - 9);
    EXPECT_EQ (raw[state.getSize() - 1], 0);
    const juce::String text (juce::CharPointer_UTF8 ((const char*) raw + 8), state.getSize() - 9);
    EXPECT_FALSE (text.containsChar ('\n'));
    EXPECT_TRUE (text.startsWith ("<?xml"));

    const auto xml = parse (state);
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("VELLIX"));
    ASSERT_EQ (xml->getNumAttributes(), 3);
    EXPECT_EQ (xml->getAttributeName (0), "name");
    EXPECT_EQ (xml->getAttributeName (1), "synthLayers");
    EXPECT_EQ (xml->getAttributeName (2), "viewScale");
    EXPECT_EQ (xml->getStringAttribute ("name"), "Init sound");
    EXPECT_EQ (xml->getIntAttribute ("synthLayers"), 4);
    EXPECT_NEAR (xml->getDoubleAttribute ("viewScale"), 0.6, 1e-6);

    ASSERT_EQ (xml->getNumChildElements(), 7);
    auto* parameters = xml->getChildElement (0);
    EXPECT_TRUE (parameters->hasTagName ("PARAMETERS"));
    EXPECT_EQ (parameters->getNumChildElements(), processor->getParameters().size());

    for (int i = 0; i < 6; ++i)
    {
        auto* slot = xml->getChildElement (i + 1);
        EXPECT_TRUE (slot->hasTagName ("SLOT"));
        EXPECT_EQ (slot->getNumAttributes(), 1);
        EXPECT_EQ (slot->getIntAttribute ("index", -1), i);
        EXPECT_EQ (slot->getNumChildElements(), 0);
    }
}

TEST_F (StateWriting, ASlotWritesItsPlugInTheRunningStateAndAPreviewOnlyWhenThereIsOne)
{
    const auto picture = pngOf (juce::Colours::orange);
    processor->load (0, fake ("synth"), bytes ("loaded"), false, {});
    processor->load (4, fake ("effect"), {}, false, picture);
    ASSERT_TRUE (settle (*processor));

    // What the running plug-in says now wins over what it was loaded with.
    dynamic_cast<FakeInstance&> (*viewSlot (*processor, 0).hosted->instance).state = bytes ("changed");

    const auto xml = parse (stateOf (*processor));
    ASSERT_NE (xml, nullptr);

    auto* synth = xml->getChildElement (1);
    ASSERT_NE (synth->getChildByName ("PLUGIN"), nullptr);
    EXPECT_EQ (synth->getChildByName ("PLUGIN")->getStringAttribute ("file"), "fake:synth");
    EXPECT_EQ (synth->getChildElement (1)->getTagName(), "STATE");
    EXPECT_EQ (synth->getChildElementAllSubText ("STATE", {}), bytes ("changed").toBase64Encoding());
    EXPECT_EQ (synth->getChildByName ("PREVIEW"), nullptr);
    EXPECT_EQ (viewSlot (*processor, 0).state, bytes ("loaded")) << "saving does not change the slot";

    auto* effect = xml->getChildElement (5);
    EXPECT_EQ (effect->getChildElementAllSubText ("STATE", {}), "0.");
    ASSERT_EQ (effect->getNumChildElements(), 3);
    EXPECT_EQ (effect->getChildElement (2)->getTagName(), "PREVIEW");
    EXPECT_EQ (effect->getChildElementAllSubText ("PREVIEW", {}), picture.toBase64Encoding());
}

//==============================================================================
using StateRoundTrip = FakeRackTest;

TEST_F (StateRoundTrip, NameParametersPlugInStatesAndPreviewsComeBack)
{
    const auto picture = pngOf (juce::Colours::teal);
    processor->changeProgramName (0, "Glass Pad");
    setPlain (*processor, "volume1", 0.25f);
    setPlain (*processor, "pan2", -0.5f);
    setPlain (*processor, "mute3", 1.0f);
    setPlain (*processor, "solo0", 1.0f);
    setPlain (*processor, "master", 1.2f);
    setPlain (*processor, "frameTheme", 2.0f);
    setPlain (*processor, "bypass5", 1.0f);
    processor->load (0, fake ("synth"), bytes ("pad settings"), false, picture);
    processor->load (3, fake ("latency:12"), {}, false, {});
    processor->load (4, fake ("effect"), bytes ("fx settings"), false, {});
    ASSERT_TRUE (settle (*processor));

    const auto saved = stateOf (*processor);

    const auto fresh = fakeRack();
    auto& other = *fresh;
    restore (other, saved);
    ASSERT_TRUE (settle (other));

    EXPECT_EQ (other.getProgramName (0), "Glass Pad");

    for (auto* p : processor->getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
        ASSERT_NE (ranged, nullptr);
        EXPECT_FLOAT_EQ (plainValue (other, ranged->getParameterID()), plainValue (*processor, ranged->getParameterID()))
            << ranged->getParameterID();
    }

    for (int i = 0; i < ChainProcessor::numSlots; ++i)
    {
        SCOPED_TRACE ("slot " + juce::String (i));
        const auto before = viewSlot (*processor, i);
        const auto after = viewSlot (other, i);
        EXPECT_EQ (after.description.fileOrIdentifier, before.description.fileOrIdentifier);
        EXPECT_EQ (after.description.name, before.description.name);
        EXPECT_EQ (after.preview, before.preview);
        EXPECT_EQ (after.hosted != nullptr, before.hosted != nullptr);
        EXPECT_TRUE (after.message.isEmpty());
        EXPECT_FALSE (after.showEditor) << "a restore never opens editors";
    }

    EXPECT_EQ (kindIn (other, 0), "synth");
    EXPECT_EQ (dynamic_cast<FakeInstance&> (*viewSlot (other, 0).hosted->instance).state, bytes ("pad settings"));
    EXPECT_EQ (dynamic_cast<FakeInstance&> (*viewSlot (other, 4).hosted->instance).state, bytes ("fx settings"));
    EXPECT_TRUE (viewSlot (other, 0).hosted->preview.isValid());
    EXPECT_EQ (other.getLatencySamples(), 12);

    // Saving the restored rack gives the same bytes again.
    EXPECT_EQ (stateOf (other), saved);
}

TEST_F (StateRoundTrip, TheViewScaleIsReadClampedAndWrittenBack)
{
    struct Row { const char* attribute; float expected; };

    for (const auto& row : { Row { "viewScale=\"2\"", 0.7f }, Row { "viewScale=\"0.1\"", 0.5f },
                             Row { "", 0.6f }, Row { "viewScale=\"0.55\"", 0.55f },
                             Row { "viewScale=\"0.7\"", 0.7f }, Row { "viewScale=\"nan\"", 0.6f },
                             Row { "viewScale=\"-inf\"", 0.5f } })
    {
        SCOPED_TRACE (row.attribute);
        restore (*processor, binary ("<VELLIX synthLayers=\"4\" " + juce::String (row.attribute) + "/>"));
        EXPECT_FLOAT_EQ (processor->viewScale.load(), row.expected);

        const auto written = parse (stateOf (*processor));
        EXPECT_FLOAT_EQ ((float) written->getDoubleAttribute ("viewScale"), row.expected);
    }
}

TEST_F (StateRoundTrip, AMissingNameIsInitSoundAndAnEmptyOneStaysEmpty)
{
    processor->changeProgramName (0, "Before");
    restore (*processor, binary (juce::String ("<VELLIX synthLayers=\"4\" name=\"\"/>")));
    EXPECT_EQ (processor->getProgramName (0), "");

    restore (*processor, binary (juce::String ("<VELLIX synthLayers=\"4\"/>")));
    EXPECT_EQ (processor->getProgramName (0), "Init sound");
}

//==============================================================================
using StateReading = FakeRackTest;

TEST_F (StateReading, AnOlderThreeLayerRackMovesItsEffectsAndTheirBypassesUpOneSlot)
{
    // Distinct values so that a chained rename (bypass3 -> 4 -> 5) would show.
    const juce::String parameters = "<PARAMETERS>"
                                     "<PARAM id=\"bypass3\" value=\"1\"/><PARAM id=\"bypass4\" value=\"0\"/>"
                                     "<PARAM id=\"volume0\" value=\"0.2\"/><PARAM id=\"volume2\" value=\"0.3\"/>"
                                     "</PARAMETERS>";
    const juce::String slots = slotXml (0, "synth") + slotXml (2, "latency:2")
                             + slotXml (3, "effect", "first effect") + slotXml (4, "effect", "second effect")
                             + slotXml (5, "synth");

    struct Row { const char* layers; bool migrated; };

    for (const auto& row : { Row { "", true }, Row { "synthLayers=\"3\"", true },
                             Row { "synthLayers=\"4\"", false }, Row { "synthLayers=\"5\"", false } })
    {
        SCOPED_TRACE (row.layers);
        setPlain (*processor, "volume3", 0.9f);
        setPlain (*processor, "bypass5", 1.0f);
        restore (*processor, binary ("<VELLIX name=\"Old\" " + juce::String (row.layers) + ">"
                                     + parameters + slots + "</VELLIX>"));
        ASSERT_TRUE (settle (*processor));

        EXPECT_EQ (kindIn (*processor, 0), "synth");
        EXPECT_EQ (kindIn (*processor, 2), "latency:2");
        EXPECT_FLOAT_EQ (plainValue (*processor, "volume0"), 0.2f);
        EXPECT_FLOAT_EQ (plainValue (*processor, "volume2"), 0.3f);

        // The fourth layer's parameters are not in the document either way.
        EXPECT_FLOAT_EQ (plainValue (*processor, "volume3"), defaultValue (*processor, "volume3"));

        if (row.migrated)
        {
            EXPECT_EQ (kindIn (*processor, 3), "");
            EXPECT_EQ (kindIn (*processor, 4), "effect");
            EXPECT_EQ (viewSlot (*processor, 4).state, bytes ("first effect"));
            EXPECT_EQ (kindIn (*processor, 5), "effect");
            EXPECT_EQ (viewSlot (*processor, 5).state, bytes ("second effect"));
            EXPECT_FLOAT_EQ (plainValue (*processor, "bypass3"), 0.0f);
            EXPECT_FLOAT_EQ (plainValue (*processor, "bypass4"), 1.0f);
            EXPECT_FLOAT_EQ (plainValue (*processor, "bypass5"), 0.0f);
        }
        else
        {
            // Slot 3 holds an effect, which a synth layer refuses.
            EXPECT_EQ (viewSlot (*processor, 3).message, "Choose a MIDI instrument for a synth layer");
            EXPECT_EQ (viewSlot (*processor, 3).state, bytes ("first effect"));
            EXPECT_EQ (kindIn (*processor, 4), "effect");
            EXPECT_EQ (viewSlot (*processor, 4).state, bytes ("second effect"));
            EXPECT_EQ (viewSlot (*processor, 5).message, "Choose a stereo audio effect for FX");
            EXPECT_FLOAT_EQ (plainValue (*processor, "bypass3"), 1.0f);
            EXPECT_FLOAT_EQ (plainValue (*processor, "bypass4"), 0.0f);
            EXPECT_FLOAT_EQ (plainValue (*processor, "bypass5"), defaultValue (*processor, "bypass5"));
        }
    }
}

TEST_F (StateReading, SlotsWithoutAUsableIndexOrPlugInAreLeftEmpty)
{
    for (int i = 0; i < ChainProcessor::numSlots; ++i)
        processor->load (i, fake (i < 4 ? "synth" : "effect"), {}, false, {});

    ASSERT_TRUE (settle (*processor));

    const auto plugin = fake ("synth").createXml()->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
    restore (*processor, binary ("<VELLIX synthLayers=\"4\">"
                                 "<SLOT>" + plugin + "</SLOT>"
                                 "<SLOT index=\"-1\">" + plugin + "</SLOT>"
                                 "<SLOT index=\"6\">" + plugin + "</SLOT>"
                                 "<SLOT index=\"2\"><STATE>3.abcd</STATE></SLOT>"
                                 "<SLOT index=\"3\"><PLUGINS/></SLOT>"
                                 "</VELLIX>"));
    ASSERT_TRUE (settle (*processor));

    for (int i = 0; i < ChainProcessor::numSlots; ++i)
    {
        const auto view = viewSlot (*processor, i);
        EXPECT_EQ (view.hosted, nullptr) << "slot " << i;
        EXPECT_TRUE (view.description.fileOrIdentifier.isEmpty()) << "slot " << i;
    }

    EXPECT_EQ (fakeLiveInstances().load(), 0);
}

TEST_F (StateReading, AfterARestoreTheSlotDescribesWhatTheInstanceReports)
{
    auto stored = fake ("synth");
    stored.name = "Name from an older version";
    stored.manufacturerName = "Someone else";
    const auto plugin = stored.createXml()->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());

    restore (*processor, binary ("<VELLIX synthLayers=\"4\"><SLOT index=\"0\">" + plugin + "</SLOT></VELLIX>"));
    EXPECT_EQ (viewSlot (*processor, 0).description.name, stored.name) << "while loading it holds the stored one";
    ASSERT_TRUE (settle (*processor));

    const auto view = viewSlot (*processor, 0);
    ASSERT_NE (view.hosted, nullptr);
    EXPECT_EQ (view.description.name, "Fake synth");
    EXPECT_EQ (view.description.manufacturerName, "Fakes");
    EXPECT_TRUE (view.state.isEmpty()) << "a SLOT without STATE gives an empty state";
}

TEST_F (StateReading, OfTwoSlotsWithTheSameIndexTheLaterOneWins)
{
    restore (*processor, binary ("<VELLIX synthLayers=\"4\">" + slotXml (1, "latency:1") + slotXml (1, "latency:2")
                                 + "</VELLIX>"));
    ASSERT_TRUE (settle (*processor));

    EXPECT_EQ (kindIn (*processor, 1), "latency:2");
    EXPECT_EQ (fakeLiveInstances().load(), 1);
}

TEST_F (StateReading, ParametersTheDocumentLacksTakeTheirDefaultsAndNoParametersKeepsThemAll)
{
    setPlain (*processor, "volume0", 0.9f);
    setPlain (*processor, "pan1", 0.4f);

    restore (*processor, binary (juce::String ("<VELLIX synthLayers=\"4\"><PARAMETERS>"
                                               "<PARAM id=\"master\" value=\"1.0\"/></PARAMETERS></VELLIX>")));
    EXPECT_FLOAT_EQ (plainValue (*processor, "master"), 1.0f);
    EXPECT_FLOAT_EQ (plainValue (*processor, "volume0"), defaultValue (*processor, "volume0"));
    EXPECT_FLOAT_EQ (plainValue (*processor, "pan1"), defaultValue (*processor, "pan1"));

    setPlain (*processor, "volume0", 0.9f);
    restore (*processor, binary (juce::String ("<VELLIX synthLayers=\"4\" name=\"No parameters\"/>")));
    EXPECT_EQ (processor->getProgramName (0), "No parameters");
    EXPECT_FLOAT_EQ (plainValue (*processor, "volume0"), 0.9f);
    EXPECT_FLOAT_EQ (plainValue (*processor, "master"), 1.0f);
}

TEST_F (StateReading, BytesThatAreNotARackStateChangeNothing)
{
    processor->changeProgramName (0, "Keep");
    setPlain (*processor, "volume0", 0.9f);
    processor->load (0, fake ("synth"), {}, false, {});
    ASSERT_TRUE (settle (*processor));
    const auto hosted = viewSlot (*processor, 0).hosted;

    const auto valid = stateOf (*processor);
    auto wrongMagic = valid;
    static_cast<char*> (wrongMagic.getData())[0] ^= 0x55;
    auto zeroLength = valid;
    juce::ByteOrder::littleEndian24BitToChars (0, static_cast<char*> (zeroLength.getData()) + 4);
    static_cast<char*> (zeroLength.getData())[7] = 0;
    const juce::MemoryBlock truncated (valid.getData(), valid.getSize() / 2);
    const juce::MemoryBlock header (valid.getData(), 8);

    auto textBlock = [] (const juce::String& text)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) text.getNumBytesAsUTF8() + 1);
        out << text;
        out.writeByte (0);
        return block;
    };

    struct Row { const char* name; juce::MemoryBlock bytes; };
    const Row rows[] = {
        { "empty", {} },
        { "header only", header },
        { "wrong magic", wrongMagic },
        { "zero length", zeroLength },
        { "truncated", truncated },
        { "not XML", textBlock ("VELLIX name=\"Broken\"") },
        { "unclosed", textBlock ("<VELLIX name=\"Broken\"><SLOT index=\"0\">") },
        { "another root", binary (juce::String ("<OTHER name=\"Broken\" synthLayers=\"4\"/>")) },
        { "plain XML", bytes ("<VELLIX name=\"Broken\"/>") },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        restore (*processor, row.bytes);
        pumpFor (20);
        EXPECT_EQ (processor->getProgramName (0), "Keep");
        EXPECT_FLOAT_EQ (plainValue (*processor, "volume0"), 0.9f);
        EXPECT_EQ (viewSlot (*processor, 0).hosted, hosted);
    }

    processor->setStateInformation (nullptr, 0);
    EXPECT_EQ (processor->getProgramName (0), "Keep");
}

TEST_F (StateReading, ReadingWhileLoadsAreInFlightVoidsThem)
{
    holdCompletions() = true;
    processor->load (0, fake ("synth"), {}, true, {});
    processor->load (4, fake ("effect"), {}, true, {});
    ASSERT_TRUE (pumpUntil ([] { return heldCompletions().size() == 2; }));

    restore (*processor, binary (juce::String ("<VELLIX synthLayers=\"4\" name=\"Empty\"/>")));
    releaseHeld (0);
    releaseHeld (1);

    for (const int i : { 0, 4 })
    {
        const auto view = viewSlot (*processor, i);
        EXPECT_EQ (view.hosted, nullptr);
        EXPECT_FALSE (view.loading);
    }

    EXPECT_EQ (fakeLiveInstances().load(), 0);
}

//==============================================================================
TEST (StateMissingPlugIn, ASoundWhosePlugInIsMissingIsSavedAgainByteForByte)
{
    heldCompletions().clear();
    holdCompletions() = false;
    juce::MemoryBlock original;

    {
        ChainProcessor withPlugIns;
        withPlugIns.formatManager.addFormat (new FakeFormat());
        withPlugIns.changeProgramName (0, "Needs fakes");
        withPlugIns.load (1, fake ("synth"), bytes ("its own settings"), false, pngOf (juce::Colours::pink));
        withPlugIns.load (5, fake ("effect"), {}, false, {});
        ASSERT_TRUE (settle (withPlugIns));
        original = stateOf (withPlugIns);
    }

    // A rack without the format: both loads fail and keep what they were given.
    ChainProcessor without;
    restore (without, original);
    ASSERT_TRUE (settle (without));

    const auto view = viewSlot (without, 1);
    EXPECT_EQ (view.hosted, nullptr);
    EXPECT_EQ (view.message, "No compatible plug-in format exists for this plug-in");
    EXPECT_EQ (view.state, bytes ("its own settings"));
    EXPECT_EQ (view.preview, pngOf (juce::Colours::pink));

    const auto again = stateOf (without);
    EXPECT_EQ (again, original) << parse (again)->toString() << "\n" << parse (original)->toString();

    // And where the plug-in exists again, it comes back with its settings.
    const auto withFakesAgain = fakeRack();
    restore (*withFakesAgain, again);
    ASSERT_TRUE (settle (*withFakesAgain));
    EXPECT_EQ (dynamic_cast<FakeInstance&> (*viewSlot (*withFakesAgain, 1).hosted->instance).state,
               bytes ("its own settings"));
}

//==============================================================================
using StateThreads = FakeRackTest;

TEST_F (StateThreads, OnTheMessageThreadTheStateIsAppliedBeforeTheCallReturns)
{
    processor->load (0, fake ("synth"), {}, false, {});
    ASSERT_TRUE (settle (*processor));

    restore (*processor, binary ("<VELLIX synthLayers=\"4\" name=\"Now\" viewScale=\"0.52\">"
                                 "<PARAMETERS><PARAM id=\"master\" value=\"0.3\"/></PARAMETERS>"
                                 + slotXml (4, "effect") + "</VELLIX>"));

    EXPECT_EQ (processor->getProgramName (0), "Now");
    EXPECT_FLOAT_EQ (processor->viewScale.load(), 0.52f);
    EXPECT_FLOAT_EQ (plainValue (*processor, "master"), 0.3f);
    EXPECT_EQ (viewSlot (*processor, 0).hosted, nullptr);
    EXPECT_TRUE (viewSlot (*processor, 4).loading);

    ASSERT_TRUE (settle (*processor));
    EXPECT_EQ (kindIn (*processor, 4), "effect");
}

TEST_F (StateThreads, FromAnotherThreadTheStateIsAppliedLaterOnTheMessageThread)
{
    processor->load (0, fake ("synth"), {}, false, {});
    ASSERT_TRUE (settle (*processor));
    const auto state = binary (juce::String ("<VELLIX synthLayers=\"4\" name=\"Later\"/>"));

    std::thread reader ([&] { restore (*processor, state); });
    reader.join();

    EXPECT_EQ (processor->getProgramName (0), "Init sound");
    EXPECT_NE (viewSlot (*processor, 0).hosted, nullptr);

    ASSERT_TRUE (pumpUntil ([&] { return processor->getProgramName (0) == "Later"; }));
    EXPECT_EQ (viewSlot (*processor, 0).hosted, nullptr);
}

TEST_F (StateThreads, AStateReadOnAnotherThreadForAProcessorThatIsGoneDoesNothing)
{
    const auto state = binary ("<VELLIX synthLayers=\"4\">" + slotXml (0, "synth") + "</VELLIX>");

    std::thread reader ([&] { restore (*processor, state); });
    reader.join();
    processor = nullptr;

    pumpFor (100);
    EXPECT_EQ (fakeLiveInstances().load(), 0);
}

//==============================================================================
TEST (StateFixtures, RealPlugInStatesComeBackThroughTheirFormats)
{
    juce::MemoryBlock saved;
    juce::PluginDescription instrument, effect;

    {
        installFixtureVst3Folder();
        ChainProcessor processor;
        addFixtureLv2Folder (processor.formatManager);
        instrument = describe (processor.formatManager, "VST3", fixtureVst3 ("FixtureInstrument").getFullPathName());
        effect = describe (processor.formatManager, "LV2", fixtureLv2Uri ("FixtureEffect"));
        ASSERT_TRUE (instrument.fileOrIdentifier.isNotEmpty());
        ASSERT_TRUE (effect.fileOrIdentifier.isNotEmpty());

        processor.load (2, instrument, fixtureHostState (processor.formatManager, instrument, "latency=\"12\" tail=\"2\""),
                        false, {});
        processor.load (5, effect, fixtureHostState (processor.formatManager, effect, "tail=\"0.25\""), false, {});
        ASSERT_TRUE (settle (processor));
        ASSERT_NE (viewSlot (processor, 2).hosted, nullptr) << viewSlot (processor, 2).message;
        ASSERT_NE (viewSlot (processor, 5).hosted, nullptr) << viewSlot (processor, 5).message;
        saved = stateOf (processor);
    }

    ChainProcessor restored;
    addFixtureLv2Folder (restored.formatManager);
    restore (restored, saved);
    ASSERT_TRUE (settle (restored));

    const auto layer = viewSlot (restored, 2);
    const auto fx = viewSlot (restored, 5);
    ASSERT_NE (layer.hosted, nullptr) << layer.message;
    ASSERT_NE (fx.hosted, nullptr) << fx.message;
    EXPECT_EQ (layer.description.fileOrIdentifier, instrument.fileOrIdentifier);
    EXPECT_EQ (layer.description.name, "Fixture Instrument");
    EXPECT_EQ (fx.description.fileOrIdentifier, effect.fileOrIdentifier);
    EXPECT_EQ (fx.description.pluginFormatName, "LV2");

    const auto layerReport = fixtureReport (*layer.hosted->instance);
    const auto fxReport = fixtureReport (*fx.hosted->instance);
    ASSERT_NE (layerReport, nullptr);
    ASSERT_NE (fxReport, nullptr);
    EXPECT_EQ (layerReport->getIntAttribute ("latency"), 12);
    EXPECT_DOUBLE_EQ (layerReport->getDoubleAttribute ("tail"), 2.0);
    EXPECT_DOUBLE_EQ (fxReport->getDoubleAttribute ("tail"), 0.25);
}
