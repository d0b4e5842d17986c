// The rack's parameter table, the values it accepts, and the way the mixer
// parameters become a layer's left and right gain.

#include "rack/ChainProcessor.h"

#include <gtest/gtest.h>

namespace
{
    enum class Kind { boolean, floating, choice };

    struct ParameterRow
    {
        juce::String id;
        juce::String name;
        Kind kind;
        float minimum, maximum, defaultValue;
    };

    std::vector<ParameterRow> expectedTable()
    {
        std::vector<ParameterRow> rows;

        for (int i = 0; i < 6; ++i)
            rows.push_back ({ "bypass" + juce::String (i), "Bypass " + juce::String (i + 1), Kind::boolean, 0.0f, 1.0f, 0.0f });

        for (int i = 0; i < 4; ++i)
        {
            const auto layer = "Layer " + juce::String (i + 1);
            rows.push_back ({ "volume" + juce::String (i), layer + " volume", Kind::floating, 0.0f, 1.0f, 0.5f });
            rows.push_back ({ "pan" + juce::String (i), layer + " pan", Kind::floating, -1.0f, 1.0f, 0.0f });
            rows.push_back ({ "mute" + juce::String (i), layer + " mute", Kind::boolean, 0.0f, 1.0f, 0.0f });
            rows.push_back ({ "solo" + juce::String (i), layer + " solo", Kind::boolean, 0.0f, 1.0f, 0.0f });
        }

        rows.push_back ({ "master", "Master", Kind::floating, 0.0f, 1.5f, 0.7f });
        rows.push_back ({ "frameTheme", "Frame finish", Kind::choice, 0.0f, 2.0f, 0.0f });
        return rows;
    }

    float raw (const ChainProcessor& processor, const juce::String& id)
    {
        return processor.parameters.getRawParameterValue (id)->load();
    }

    void set (ChainProcessor& processor, const juce::String& id, float value)
    {
        auto* parameter = processor.parameters.getParameter (id);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }
}

TEST (RackParameters, TableOfIdsNamesKindsRangesAndDefaultsInIndexOrder)
{
    ChainProcessor processor;
    const auto& parameters = processor.getParameters();
    const auto rows = expectedTable();

    ASSERT_EQ ((size_t) parameters.size(), rows.size());

    for (size_t index = 0; index < rows.size(); ++index)
    {
        const auto& row = rows[index];
        SCOPED_TRACE ("index " + std::to_string (index) + " " + row.id.toStdString());

        auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (parameters[(int) index]);
        ASSERT_NE (parameter, nullptr);
        EXPECT_EQ (parameter->getParameterIndex(), (int) index);
        EXPECT_EQ (parameter->getParameterID(), row.id);
        EXPECT_EQ (parameter->getName (100), row.name);
        EXPECT_EQ (parameter->getVersionHint(), 1);
        EXPECT_EQ (processor.parameters.getParameter (row.id), parameter);

        switch (row.kind)
        {
            case Kind::boolean:
                EXPECT_NE (dynamic_cast<juce::AudioParameterBool*> (parameter), nullptr);
                break;

            case Kind::floating:
            {
                auto* floating = dynamic_cast<juce::AudioParameterFloat*> (parameter);
                ASSERT_NE (floating, nullptr);
                EXPECT_EQ (floating->range.interval, 0.0f);
                EXPECT_EQ (floating->range.skew, 1.0f);
                break;
            }

            case Kind::choice:
            {
                auto* choice = dynamic_cast<juce::AudioParameterChoice*> (parameter);
                ASSERT_NE (choice, nullptr);
                EXPECT_EQ (choice->choices, juce::StringArray ({ "Classic", "Black Metal", "Grey Metal" }));
                EXPECT_EQ (choice->getCurrentChoiceName(), "Classic");
                break;
            }
        }

        const auto& range = parameter->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, row.minimum);
        EXPECT_FLOAT_EQ (range.end, row.maximum);
        EXPECT_FLOAT_EQ (parameter->convertFrom0to1 (parameter->getDefaultValue()), row.defaultValue);

        // A new processor sits at the defaults.
        EXPECT_FLOAT_EQ (raw (processor, row.id), row.defaultValue);
    }

    EXPECT_EQ (processor.parameters.state.getType().toString(), "PARAMETERS");
}

TEST (RackParameters, RawValuesFollowTheRanges)
{
    struct Row { const char* id; float set; float raw; };

    const Row rows[] = {
        { "master",     1.5f,  1.5f },  // above unity
        { "master",     2.0f,  1.5f },
        { "volume2",    1.3f,  1.0f },  // volumes stop at unity
        { "volume2",   -0.2f,  0.0f },
        { "pan1",      -1.0f, -1.0f },
        { "pan1",       0.25f, 0.25f },
        { "frameTheme", 2.0f,  2.0f },  // "Grey Metal"
        { "frameTheme", 1.0f,  1.0f },  // "Black Metal"
        { "mute3",      1.0f,  1.0f },
        { "bypass5",    1.0f,  1.0f },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (std::string (row.id) + " <- " + std::to_string (row.set));
        ChainProcessor processor;
        set (processor, row.id, row.set);
        EXPECT_FLOAT_EQ (raw (processor, row.id), row.raw);
    }

    ChainProcessor processor;
    set (processor, "frameTheme", 2.0f);
    EXPECT_EQ (dynamic_cast<juce::AudioParameterChoice*> (processor.parameters.getParameter ("frameTheme"))->getCurrentChoiceName(),
               "Grey Metal");
}

TEST (RackParameters, LevelFromBypassMuteSoloAndVolume)
{
    // Layer 1 is examined; "other solo" solos layer 3, so that a solo anywhere
    // else must silence an unsoloed layer 1.
    struct Row { bool bypass, mute, solo, otherSolo; float expected; };

    const Row rows[] = {
        { false, false, false, false, 0.8f },
        { true,  false, false, false, 0.0f },
        { false, true,  false, false, 0.0f },
        { false, false, true,  false, 0.8f },
        { false, false, false, true,  0.0f },
        { false, false, true,  true,  0.8f },
        { false, true,  true,  false, 0.0f },  // mute wins over solo
        { true,  false, true,  false, 0.0f },  // so does bypass
        { true,  true,  true,  true,  0.0f },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (::testing::Message() << "bypass " << row.bypass << " mute " << row.mute
                                           << " solo " << row.solo << " other solo " << row.otherSolo);
        ChainProcessor processor;
        set (processor, "volume1", 0.8f);
        set (processor, "bypass1", row.bypass ? 1.0f : 0.0f);
        set (processor, "mute1", row.mute ? 1.0f : 0.0f);
        set (processor, "solo1", row.solo ? 1.0f : 0.0f);
        set (processor, "solo3", row.otherSolo ? 1.0f : 0.0f);

        const bool soloed = processor.anySolo();
        EXPECT_EQ (soloed, row.solo || row.otherSolo);
        EXPECT_FLOAT_EQ (processor.level (1, soloed), row.expected);

        // The other layers keep their own settings: only a solo elsewhere reaches them.
        EXPECT_FLOAT_EQ (processor.level (0, soloed), soloed ? 0.0f : 0.5f);
        EXPECT_FLOAT_EQ (processor.level (3, soloed), row.otherSolo || ! soloed ? 0.5f : 0.0f);
    }
}

TEST (RackParameters, BypassOfAnEffectSlotLeavesTheLayersAlone)
{
    ChainProcessor processor;
    set (processor, "bypass4", 1.0f);
    set (processor, "bypass5", 1.0f);

    for (int layer = 0; layer < 4; ++layer)
        EXPECT_FLOAT_EQ (processor.level (layer, processor.anySolo()), 0.5f) << "layer " << layer;
}

TEST (RackParameters, PanLawIsALinearBalance)
{
    struct Row { float gain, pan, left, right; };

    const Row rows[] = {
        { 0.8f,  0.0f,  0.8f, 0.8f },   // centre: no attenuation
        { 0.8f,  1.0f,  0.0f, 0.8f },
        { 0.8f, -1.0f,  0.8f, 0.0f },
        { 0.8f,  0.5f,  0.4f, 0.8f },
        { 0.8f, -0.25f, 0.8f, 0.6f },
        { 0.0f,  0.7f,  0.0f, 0.0f },
        { 1.0f,  0.1f,  0.9f, 1.0f },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (::testing::Message() << "gain " << row.gain << " pan " << row.pan);
        EXPECT_FLOAT_EQ (ChainProcessor::panLeft (row.gain, row.pan), row.left);
        EXPECT_FLOAT_EQ (ChainProcessor::panRight (row.gain, row.pan), row.right);
    }
}
