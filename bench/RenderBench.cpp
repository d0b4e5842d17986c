// What the rack costs on top of its plug-ins: the time processBlock takes per
// 512-sample block with six trivial in-process plug-ins (four instruments,
// two effects), against calling six such plug-ins directly and summing them
// by hand, measured block by block in the same run.
//
//   vellix-render-bench [blocks]      (default 20000 blocks per row)

#include "support/InProcessPlugins.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;
    constexpr int warmUpBlocks = 500;

    using Clock = std::chrono::steady_clock;

    struct Figures
    {
        double median, p99, worst;
    };

    Figures summarise (std::vector<double> microseconds)
    {
        std::sort (microseconds.begin(), microseconds.end());
        const auto at = [&] (double fraction) { return microseconds[(size_t) (fraction * (double) (microseconds.size() - 1))]; };
        return { at (0.5), at (0.99), microseconds.back() };
    }

    /** The same work without the rack: four instruments into their own
        buffers, summed, then two effects in series. */
    class DirectChain
    {
    public:
        DirectChain()
        {
            for (int i = 0; i < 4; ++i)
                instruments.push_back (std::make_unique<ImpulseInstrument> (ImpulseInstrument::Options { i == 3 }));

            for (int i = 0; i < 2; ++i)
                effects.push_back (std::make_unique<DelayEffect>());

            for (auto& instrument : instruments)
            {
                instrument->setRateAndBufferSizeDetails (sampleRate, blockSize);
                instrument->prepareToPlay (sampleRate, blockSize);
            }

            for (auto& effect : effects)
            {
                effect->setRateAndBufferSizeDetails (sampleRate, blockSize);
                effect->prepareToPlay (sampleRate, blockSize);
            }

            layerBuffer.setSize (2, blockSize);
            effectMidi.ensureSize (4096);
        }

        void process (juce::AudioBuffer<float>& output, juce::MidiBuffer& midi)
        {
            output.clear();

            for (auto& instrument : instruments)
            {
                layerBuffer.clear();
                instrument->processBlock (layerBuffer, midi);

                for (int channel = 0; channel < 2; ++channel)
                    output.addFrom (channel, 0, layerBuffer, channel, 0, blockSize, 0.5f);
            }

            for (auto& effect : effects)
            {
                effectMidi.clear();
                effect->processBlock (output, effectMidi);
            }

            output.applyGain (0.7f);
            midi.clear();
        }

    private:
        std::vector<std::unique_ptr<ImpulseInstrument>> instruments;
        std::vector<std::unique_ptr<DelayEffect>> effects;
        juce::AudioBuffer<float> layerBuffer;
        juce::MidiBuffer effectMidi;
    };

    void fillMidi (juce::MidiBuffer& midi, int block)
    {
        midi.clear();

        if (block % 4 == 0)
            midi.addEvent (juce::MidiMessage::noteOn (1, 48 + block % 24, (juce::uint8) 100), block % blockSize);

        if (block % 4 == 2)
            midi.addEvent (juce::MidiMessage::noteOff (1, 48 + (block - 2) % 24), 0);
    }
}

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const int numBlocks = argc > 1 ? juce::jmax (100, juce::String (argv[1]).getIntValue()) : 20000;

    // Four instruments (the last one mono) and two effects.
    auto fill = [] (ChainProcessor& r)
    {
        r.prepareToPlay (sampleRate, blockSize);

        for (int slot = 0; slot < 4; ++slot)
            installInstrument (r, slot, { slot == 3 });

        installEffect (r, 4);
        installEffect (r, 5);
    };

    ChainProcessor rack, movingRack;
    fill (rack);
    fill (movingRack);
    auto* movingVolume = movingRack.parameters.getParameter ("volume0");

    DirectChain direct;

    juce::AudioBuffer<float> output (2, blockSize);
    juce::MidiBuffer midi;
    midi.ensureSize (65536);

    std::vector<double> directTimes, rackTimes, movingTimes;
    directTimes.reserve ((size_t) numBlocks);
    rackTimes.reserve ((size_t) numBlocks);
    movingTimes.reserve ((size_t) numBlocks);

    const auto timeOne = [&] (int block, std::vector<double>* times, const std::function<void()>& render)
    {
        fillMidi (midi, block);
        const auto started = Clock::now();
        render();
        const auto took = std::chrono::duration<double, std::micro> (Clock::now() - started).count();

        if (times != nullptr)
            times->push_back (took);
    };

    // The three take turns block by block, so that the machine's moods fall on all of them alike.
    for (int block = -warmUpBlocks; block < numBlocks; ++block)
    {
        const bool measured = block >= 0;
        const int index = block + warmUpBlocks;

        timeOne (index, measured ? &directTimes : nullptr, [&] { direct.process (output, midi); });
        timeOne (index, measured ? &rackTimes : nullptr, [&] { rack.processBlock (output, midi); });

        // The mixer moves every tenth block, so the gains are ramping about half the time.
        if (index % 10 == 0)
            movingVolume->setValueNotifyingHost ((index / 10) % 2 == 0 ? 0.2f : 0.9f);

        timeOne (index, measured ? &movingTimes : nullptr, [&] { movingRack.processBlock (output, midi); });
    }

    const auto baseline = summarise (directTimes);
    const double blockMicroseconds = 1.0e6 * blockSize / sampleRate;

    std::printf ("Render cost per %d-sample block at %.0f Hz, six in-process plug-ins (4 instruments, 2 effects), %d blocks per row\n\n",
                 blockSize, sampleRate, numBlocks);
    std::printf ("%-30s %10s %10s %10s   %s\n", "microseconds per block", "median", "p99", "worst", "median share of the block's time");

    const auto row = [&] (const char* name, const Figures& figures)
    {
        std::printf ("%-30s %10.2f %10.2f %10.2f   %.3f %%\n", name, figures.median, figures.p99, figures.worst,
                     100.0 * figures.median / blockMicroseconds);
    };

    const auto ratio = [&] (const char* name, const Figures& figures)
    {
        std::printf ("%-30s %10.2f %10.2f %10.2f\n", name, figures.median / baseline.median,
                     figures.p99 / baseline.p99, figures.worst / baseline.worst);
    };

    const auto steady = summarise (rackTimes);
    const auto moving = summarise (movingTimes);
    row ("plug-ins called directly", baseline);
    row ("rack, mixer still", steady);
    row ("rack, mixer moving", moving);
    std::printf ("\n");
    ratio ("ratio rack / direct", steady);
    ratio ("ratio moving rack / direct", moving);
    return 0;
}
