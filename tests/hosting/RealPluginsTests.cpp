// Third-party LV2 plug-ins from Debian (scripts/install-deps.sh installs them
// when VELLIX_WITH_TEST_PLUGINS=1): loaded by URI, played, changed, saved and
// restored through the whole rack. Slow and dependent on what is installed.

#include "LoadingTestSupport.h"

#include <iostream>

using namespace loading;

namespace
{
    struct RealPlugIn
    {
        const char* uri;
        int slot;
    };

    const RealPlugIn jx10       { "http://drobilla.net/plugins/mda/JX10", 0 };
    const RealPlugIn mdaDelay   { "http://drobilla.net/plugins/mda/Delay", 4 };

    const RealPlugIn timed[] = {
        jx10,
        { "http://drobilla.net/plugins/mda/EPiano", 1 },
        { "http://calf.sourceforge.net/plugins/Monosynth", 2 },
        mdaDelay,
        { "http://calf.sourceforge.net/plugins/Reverb", 5 },
        { "https://github.com/michaelwillis/dragonfly-reverb", 4 },
        { "http://gareus.org/oss/lv2/fil4#stereo", 5 },
        { "http://lsp-plug.in/plugins/lv2/comp_delay_stereo", 4 },
    };

    /** Renders blocks through the whole rack, a note-on in the first; the peak. */
    float playNote (ChainProcessor& processor, int blocks, int blockSize)
    {
        float peak = 0.0f;

        for (int b = 0; b < blocks; ++b)
        {
            juce::AudioBuffer<float> buffer (2, blockSize);
            buffer.clear();
            juce::MidiBuffer midi;

            if (b == 0)
                midi.addEvent (juce::MidiMessage::noteOn (1, 60, 0.9f), 0);

            processor.processBlock (buffer, midi);
            peak = juce::jmax (peak, buffer.getMagnitude (0, blockSize));
        }

        return peak;
    }

    /** The first continuous parameter, so that a value survives a round trip
        without being rounded to a step. Looks at the first few only: some
        plug-ins expose thousands. */
    int continuousParameter (juce::AudioPluginInstance& instance)
    {
        const auto& parameters = instance.getParameters();

        for (int i = 0; i < juce::jmin (64, parameters.size()); ++i)
            if (! parameters[i]->isDiscrete() && ! parameters[i]->isBoolean()
                && parameters[i]->getNumSteps() > 1000)
                return i;

        return -1;
    }

    juce::PluginDescription describeLv2 (ChainProcessor& processor, const char* uri)
    {
        return describe (processor.formatManager, "LV2", uri);
    }
}

TEST (RealPlugins, AnInstrumentAndAnEffectPlayAndComeBackWithTheirParameters)
{
    juce::MemoryBlock saved;
    juce::PluginDescription instrument, effect;
    int instrumentParameter = -1, effectParameter = -1;
    float instrumentValue = 0.0f, effectValue = 0.0f;

    {
        ChainProcessor processor;
        instrument = describeLv2 (processor, jx10.uri);
        effect = describeLv2 (processor, mdaDelay.uri);
        ASSERT_TRUE (instrument.fileOrIdentifier.isNotEmpty()) << "mda-lv2 is not installed";
        ASSERT_TRUE (effect.fileOrIdentifier.isNotEmpty()) << "mda-lv2 is not installed";
        EXPECT_TRUE (instrument.isInstrument);
        EXPECT_FALSE (effect.isInstrument);

        processor.prepareToPlay (48000.0, 512);
        processor.load (jx10.slot, instrument, {}, true, {});
        processor.load (mdaDelay.slot, effect, {}, true, {});
        ASSERT_TRUE (settle (processor));

        const auto layer = viewSlot (processor, jx10.slot);
        const auto fx = viewSlot (processor, mdaDelay.slot);
        ASSERT_NE (layer.hosted, nullptr) << layer.message;
        ASSERT_NE (fx.hosted, nullptr) << fx.message;
        EXPECT_TRUE (layer.showEditor);

        instrumentParameter = continuousParameter (*layer.hosted->instance);
        effectParameter = continuousParameter (*fx.hosted->instance);
        ASSERT_GE (instrumentParameter, 0);
        ASSERT_GE (effectParameter, 0);

        auto* p = layer.hosted->instance->getParameters()[instrumentParameter];
        instrumentValue = p->getValue() > 0.5f ? 0.23f : 0.77f;
        p->setValueNotifyingHost (instrumentValue);

        auto* q = fx.hosted->instance->getParameters()[effectParameter];
        effectValue = q->getValue() > 0.5f ? 0.31f : 0.69f;
        q->setValueNotifyingHost (effectValue);

        // Through the layer, its gain, the delay and the master: not silent.
        EXPECT_GT (playNote (processor, 20, 512), 1.0e-3f);

        processor.changeProgramName (0, "Real sound");
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        saved = block;
        processor.releaseResources();
    }

    ChainProcessor restored;
    restored.setStateInformation (saved.getData(), (int) saved.getSize());
    ASSERT_TRUE (settle (restored));

    EXPECT_EQ (restored.getProgramName (0), "Real sound");
    const auto layer = viewSlot (restored, jx10.slot);
    const auto fx = viewSlot (restored, mdaDelay.slot);
    ASSERT_NE (layer.hosted, nullptr) << layer.message;
    ASSERT_NE (fx.hosted, nullptr) << fx.message;
    EXPECT_FALSE (layer.showEditor);

    EXPECT_EQ (layer.description.fileOrIdentifier, instrument.fileOrIdentifier);
    EXPECT_EQ (layer.description.name, instrument.name);
    EXPECT_EQ (layer.description.pluginFormatName, "LV2");
    EXPECT_EQ (fx.description.fileOrIdentifier, effect.fileOrIdentifier);
    EXPECT_EQ (fx.description.name, effect.name);

    EXPECT_NEAR (layer.hosted->instance->getParameters()[instrumentParameter]->getValue(), instrumentValue, 1.0e-3f);
    EXPECT_NEAR (fx.hosted->instance->getParameters()[effectParameter]->getValue(), effectValue, 1.0e-3f);

    restored.prepareToPlay (44100.0, 256);
    EXPECT_GT (playNote (restored, 40, 256), 1.0e-3f);
    restored.releaseResources();
}

TEST (RealPlugins, EachInstalledPlugInLoadsIntoItsSlotInMeasuredTime)
{
    const auto constructionStart = juce::Time::getMillisecondCounterHiRes();
    ChainProcessor processor;
    const auto construction = juce::Time::getMillisecondCounterHiRes() - constructionStart;
    std::cout << "[ timing ] rack construction (formats, LV2 world): " << juce::String (construction, 1) << " ms\n";

    processor.prepareToPlay (48000.0, 512);

    for (const auto& plugIn : timed)
    {
        SCOPED_TRACE (plugIn.uri);
        const auto description = describeLv2 (processor, plugIn.uri);

        if (description.fileOrIdentifier.isEmpty())
        {
            ADD_FAILURE() << "not installed: " << plugIn.uri;
            continue;
        }

        // The first load includes opening the plug-in's library; the second
        // shows the cost of creating and installing an instance alone.
        double times[2] = {};

        for (auto& elapsed : times)
        {
            const auto start = juce::Time::getMillisecondCounterHiRes();
            processor.load (plugIn.slot, description, {}, false, {});

            while (isLoading (processor, plugIn.slot)
                   && juce::Time::getMillisecondCounterHiRes() - start < 20000.0)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

            elapsed = juce::Time::getMillisecondCounterHiRes() - start;
            ASSERT_FALSE (isLoading (processor, plugIn.slot));
        }

        const auto view = viewSlot (processor, plugIn.slot);
        EXPECT_NE (view.hosted, nullptr) << view.message;
        EXPECT_TRUE (view.message.isEmpty()) << view.message;

        std::cout << "[ timing ] " << description.name << " (" << plugIn.uri << ") into slot " << plugIn.slot
                  << ": first " << juce::String (times[0], 1) << " ms, again " << juce::String (times[1], 1) << " ms\n";
        ::testing::Test::RecordProperty (description.name.toStdString(), juce::String (times[0], 1).toStdString());

        // An instrument sounds through the rack; an effect on its own only has
        // to survive rendering.
        const auto peak = playNote (processor, 8, 512);

        if (plugIn.slot < ChainProcessor::numLayers)
        {
            EXPECT_GT (peak, 1.0e-4f);
        }

        processor.clear (plugIn.slot);
        pumpFor (20);
    }

    processor.releaseResources();
}
