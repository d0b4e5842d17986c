// The hosted plug-in's life in the rack: preparation and release, buffer
// sizes, latency followed while running, plug-ins that grow channels after
// preparation, the play head, and the delay line under the latency compensation.

#include "rack/LockHolder.h"
#include "rack/RackRendering.h"

#include <chrono>
#include <functional>

namespace
{
    juce::AudioBuffer<float> renderBlock (ChainProcessor& processor, int numSamples, std::vector<TimedMidi> events = {})
    {
        return renderRack (processor, numSamples, numSamples, events);
    }

    TimedMidi noteOn (juce::int64 at, int note)
    {
        return { at, juce::MidiMessage::noteOn (1, note, (juce::uint8) 100) };
    }

    class HostPlayHead : public juce::AudioPlayHead
    {
    public:
        juce::Optional<PositionInfo> getPosition() const override { return position; }
        juce::Optional<PositionInfo> position;
    };

    juce::AudioPlayHead::PositionInfo positionAt (juce::int64 sample, double bpm)
    {
        juce::AudioPlayHead::PositionInfo info;
        info.setTimeInSamples (sample);
        info.setBpm (bpm);
        info.setIsPlaying (true);
        return info;
    }
}

TEST (RackHosted, PreparingAgainReleasesEveryPluginOnceAndSizesItsBuffer)
{
    ChainProcessor processor;
    std::vector<InProcessPlugin*> plugins;
    plugins.push_back (&installInstrument (processor, 0));
    plugins.push_back (&installInstrument (processor, 1, { true, 40 }));

    auto sixOutputs = std::make_unique<ImpulseInstrument>();
    sixOutputs->acceptAnyLayout = true;
    ASSERT_TRUE (sixOutputs->setChannelLayoutOfBus (false, 0, juce::AudioChannelSet::create5point1()));
    plugins.push_back (&installPlugin (processor, 2, std::move (sixOutputs)));

    plugins.push_back (&installInstrument (processor, 3));
    plugins.push_back (&installEffect (processor, 4, { 24 }));
    plugins.push_back (&installEffect (processor, 5));

    // Installed into a rack that is not prepared: not prepared either, but
    // their latencies already count.
    for (auto* plugin : plugins)
        EXPECT_EQ (plugin->prepareCount.load(), 0) << plugin->getName();

    EXPECT_EQ (processor.getLatencySamples(), 40 + 24);

    struct Step
    {
        const char* name;
        std::function<void()> action;
        int prepares, releases, blockSize;
        double sampleRate;
    };

    const Step steps[] = {
        { "first prepare",              [&] { processor.prepareToPlay (44100.0, 256); },  1, 0, 256,  44100.0 },
        { "prepared again",             [&] { processor.prepareToPlay (96000.0, 1024); }, 2, 1, 1024, 96000.0 },
        { "released",                   [&] { processor.releaseResources(); },            2, 2, 1024, 96000.0 },
        { "prepared after the release", [&] { processor.prepareToPlay (48000.0, 64); },   3, 2, 64,   48000.0 },
    };

    const int channels[] = { 2, 2, 6, 2, 2, 2 };

    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.name);
        step.action();

        for (size_t slot = 0; slot < plugins.size(); ++slot)
        {
            auto* plugin = plugins[slot];
            SCOPED_TRACE (plugin->getName().toStdString() + " in slot " + std::to_string (slot));
            EXPECT_EQ (plugin->prepareCount.load(), step.prepares);
            EXPECT_EQ (plugin->releaseCount.load(), step.releases);
            EXPECT_EQ (plugin->preparedBlockSize, step.blockSize);
            EXPECT_EQ (plugin->preparedSampleRate, step.sampleRate);
            EXPECT_EQ (plugin->getBlockSize(), step.blockSize);

            const juce::ScopedLock sl (processor.lock);
            const auto& hosted = *processor.slots[slot].hosted;
            EXPECT_EQ (hosted.buffer.getNumChannels(), channels[slot]);
            EXPECT_EQ (hosted.buffer.getNumSamples(), step.blockSize);
            EXPECT_EQ (hosted.latencyDelay.blockSize, step.blockSize);
            EXPECT_EQ (hosted.latencyDelay.out.getNumSamples(), step.blockSize);

            if (slot < 4)
            {
                EXPECT_EQ (hosted.alignDelay.blockSize, step.blockSize);
            }
        }
    }
}

TEST (RackHosted, ALatencyChangeWhileRunningIsFollowedWithinATimerTick)
{
    ChainProcessor processor;
    processor.prepareToPlay (48000.0, 512);
    auto& steady = installInstrument (processor, 0, { false, 0, 0.0, 60 });
    auto& changing = installInstrument (processor, 1, { false, 0, 0.0, 61 });
    auto& effect = installEffect (processor, 4);
    renderBlock (processor, 512);
    ASSERT_EQ (processor.getLatencySamples(), 0);

    changing.setLatencySamples (256);
    effect.setLatencySamples (64);

    // The audio keeps running while the message loop turns.
    const auto started = juce::Time::getMillisecondCounterHiRes();
    double elapsed = 0.0;

    while (processor.getLatencySamples() != 320 && elapsed < 2000.0)
    {
        renderBlock (processor, 512);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        elapsed = juce::Time::getMillisecondCounterHiRes() - started;
    }

    ASSERT_EQ (processor.getLatencySamples(), 320);
    // One tick is 100 ms; the rest is slack for a busy machine.
    EXPECT_LT (elapsed, 500.0);

    {
        const juce::ScopedLock sl (processor.lock);
        EXPECT_EQ (processor.slots[1].hosted->latencyDelay.delay, 256);
        EXPECT_EQ (processor.slots[4].hosted->latencyDelay.delay, 64);
        EXPECT_EQ (processor.slots[0].hosted->alignDelay.delay, 256);
        EXPECT_EQ (processor.slots[1].hosted->alignDelay.delay, 0);
    }

    // Both layers are aligned again, behind the new total.
    setParameter (processor, "master", 1.0f);
    renderBlock (processor, 2048);
    auto output = renderRack (processor, 3000, 512, { noteOn (700, 60), noteOn (1500, 61) });
    expectPeaks (output, 0, { { 700 + 320, 0.5f }, { 1500 + 320, 0.5f } });

    // Clearing the slowest layer shortens the alignment and the reported latency.
    processor.clear (1);
    EXPECT_EQ (processor.getLatencySamples(), 64);

    {
        const juce::ScopedLock sl (processor.lock);
        EXPECT_EQ (processor.slots[0].hosted->alignDelay.delay, 0);
    }

    renderBlock (processor, 2048);
    output = renderRack (processor, 2000, 512, { noteOn (100, 60) });
    expectPeaks (output, 0, { { 164, 0.5f } });
    EXPECT_GT (steady.blocksProcessed.load(), 0);
}

TEST (RackHosted, APluginThatNowNeedsMoreChannelsThanItsBufferIsSkipped)
{
    {
        SCOPED_TRACE ("a layer: silent, and a reset is requested");
        ChainProcessor processor;
        setParameter (processor, "master", 1.0f);
        processor.prepareToPlay (44100.0, 256);
        auto& grower = installInstrument (processor, 0, { false, 0, 0.0, 60 });
        installInstrument (processor, 1, { false, 0, 0.0, 61 });
        renderBlock (processor, 256);
        const int blocksBefore = grower.blocksProcessed;

        grower.acceptAnyLayout = true;
        ASSERT_TRUE (grower.setChannelLayoutOfBus (false, 0, juce::AudioChannelSet::create5point1()));

        const auto output = renderBlock (processor, 256, { noteOn (10, 60), noteOn (20, 61) });
        expectPeaks (output, 0, { { 20, 0.5f } });
        EXPECT_EQ (grower.blocksProcessed.load(), blocksBefore);
        EXPECT_TRUE (processor.panicRequest.load());

        // Every skipped block asks again.
        renderBlock (processor, 256);
        EXPECT_TRUE (processor.panicRequest.load());
    }

    {
        SCOPED_TRACE ("an effect: the signal passes it unprocessed, until the next prepare");
        ChainProcessor processor;
        setParameter (processor, "master", 1.0f);
        processor.prepareToPlay (44100.0, 256);
        installInstrument (processor, 0);
        auto& grower = installEffect (processor, 4, { 64, 0.5f });
        renderBlock (processor, 256);
        const int blocksBefore = grower.blocksProcessed;

        grower.acceptAnyLayout = true;
        ASSERT_TRUE (grower.setChannelLayoutOfBus (false, 0, juce::AudioChannelSet::create5point1()));

        auto output = renderBlock (processor, 256, { noteOn (10, 60) });
        expectPeaks (output, 1, { { 10, 0.5f } });
        EXPECT_EQ (grower.blocksProcessed.load(), blocksBefore);
        EXPECT_FALSE (processor.panicRequest.load());

        processor.prepareToPlay (44100.0, 256);
        output = renderBlock (processor, 256, { noteOn (10, 60) });
        expectPeaks (output, 1, { { 10 + 64, 0.25f } });

        const juce::ScopedLock sl (processor.lock);
        EXPECT_EQ (processor.slots[4].hosted->buffer.getNumChannels(), 6);
    }
}

TEST (RackHosted, PlayHeadAlwaysAnswersWithTheHostsLatestPosition)
{
    HostPlayHead host;
    ChainProcessor processor;
    auto& plugin = installInstrument (processor, 0);
    auto* playHead = plugin.getPlayHead();
    ASSERT_NE (playHead, nullptr);

    // Never rendered: a present, default position.
    auto position = playHead->getPosition();
    ASSERT_TRUE (position.hasValue());
    EXPECT_FALSE (position->getTimeInSamples().hasValue());
    EXPECT_FALSE (position->getBpm().hasValue());
    EXPECT_FALSE (position->getIsPlaying());

    processor.setPlayHead (&host);
    processor.prepareToPlay (44100.0, 256);
    host.position = positionAt (4800, 97.0);
    renderBlock (processor, 256);
    EXPECT_EQ (playHead->getPosition()->getTimeInSamples().orFallback (0), 4800);
    EXPECT_EQ (playHead->getPosition()->getBpm().orFallback (0.0), 97.0);

    // A plug-in reading its position holds the play-head lock: the render
    // neither waits nor overwrites, and the plug-in keeps the previous position.
    host.position = positionAt (9600, 97.0);

    {
        std::shared_ptr<ChainProcessor::Hosted> hosted;

        {
            const juce::ScopedLock sl (processor.lock);
            hosted = processor.slots[0].hosted;
        }

        const LockHolder reader (hosted->playHead.lock);
        const auto started = std::chrono::steady_clock::now();
        renderBlock (processor, 256);
        EXPECT_LT (std::chrono::steady_clock::now() - started, std::chrono::milliseconds (100));
    }

    EXPECT_EQ (playHead->getPosition()->getTimeInSamples().orFallback (0), 4800);
    renderBlock (processor, 256);
    EXPECT_EQ (playHead->getPosition()->getTimeInSamples().orFallback (0), 9600);

    // A host without a position: the default again.
    host.position = juce::nullopt;
    renderBlock (processor, 256);
    ASSERT_TRUE (playHead->getPosition().hasValue());
    EXPECT_FALSE (playHead->getPosition()->getTimeInSamples().hasValue());

    processor.setPlayHead (nullptr);
}

TEST (RackDelayLine, DelaysBothChannelsByExactlyItsDelayAcrossPasses)
{
    struct Row
    {
        int delay, blockSize;
        std::vector<int> passes;
        int expectedDelay;
    };

    const Row rows[] = {
        { 0,  8,  { 8, 3, 1, 8 },          0 },
        { 1,  4,  { 4, 4, 1, 3 },          1 },
        { 5,  8,  { 3, 8, 2, 8, 8 },       5 },
        { 64, 64, { 64, 1, 63, 64, 64 },   64 },
        { 7,  1,  std::vector<int> (20, 1), 7 },
        { -3, 16, { 16, 5 },               0 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (::testing::Message() << "delay " << row.delay << ", block size " << row.blockSize);
        DelayLine line;
        line.prepare (row.delay, row.blockSize);
        EXPECT_EQ (line.delay, row.expectedDelay);
        EXPECT_EQ (line.ring.getNumSamples(), row.expectedDelay + 1);

        auto input = [] (int k, int channel) { return channel == 0 ? (float) (k + 1) : -0.5f * (float) (k + 1); };
        int k = 0;

        for (int length : row.passes)
        {
            std::vector<float> left, right;

            for (int i = 0; i < length; ++i)
            {
                left.push_back (input (k + i, 0));
                right.push_back (input (k + i, 1));
            }

            line.process (left.data(), right.data(), length);

            for (int i = 0; i < length; ++i, ++k)
            {
                for (int channel = 0; channel < 2; ++channel)
                {
                    const float expected = k >= row.expectedDelay ? input (k - row.expectedDelay, channel) : 0.0f;
                    ASSERT_EQ (line.out.getSample (channel, i), expected) << "sample " << k << ", channel " << channel;
                }
            }
        }

        // Preparing again drops what was in flight, even with unchanged sizes.
        line.prepare (row.delay, row.blockSize);
        const float one = 1.0f;
        line.process (&one, &one, 1);
        EXPECT_EQ (line.out.getSample (0, 0), row.expectedDelay == 0 ? 1.0f : 0.0f);
        EXPECT_EQ (line.out.getSample (1, 0), row.expectedDelay == 0 ? 1.0f : 0.0f);
    }
}
