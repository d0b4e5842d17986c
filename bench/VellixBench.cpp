// vellix-bench: what the rack costs against the plug-ins it hosts.
//
// The same six plug-ins (four instruments, two effects) play the same chords
// three ways, side by side, block by block on one rendering thread:
//   floor  the plug-ins called directly in a tight loop, their outputs summed:
//          what the plug-ins cost by themselves;
//   rack   ChainProcessor::processBlock;
//   graph  a juce::AudioProcessorGraph that does the rack's job the way a
//          JUCE developer would build it: a gain/pan node per layer smoothed
//          over 20 ms, the layers summed, two effects in series, a master
//          gain node, and the graph's own latency compensation.
// Once with trivial in-process plug-ins, once with Debian's LV2 plug-ins, at
// block sizes 64, 256 and 512. Allocations on the rendering thread are
// counted per way through a replaced global operator new.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"
#include "support/InProcessPlugins.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <vector>

//==============================================================================
// Allocation counting: only the thread that points `allocationCounter`
// somewhere counts, and only while it does.
namespace
{
    thread_local long* allocationCounter = nullptr;

    void* allocate (std::size_t size)
    {
        if (allocationCounter != nullptr)
            ++*allocationCounter;

        if (auto* p = std::malloc (size == 0 ? 1 : size))
            return p;

        throw std::bad_alloc();
    }
}

void* operator new (std::size_t size)                                  { return allocate (size); }
void* operator new[] (std::size_t size)                                { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept  { try { return allocate (size); } catch (...) { return nullptr; } }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { try { return allocate (size); } catch (...) { return nullptr; } }
void operator delete (void* p) noexcept                                { std::free (p); }
void operator delete[] (void* p) noexcept                              { std::free (p); }
void operator delete (void* p, std::size_t) noexcept                   { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept                 { std::free (p); }

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr double secondsPerRun = 20.0;
    constexpr int blockSizes[] = { 64, 256, 512 };

    // The rack's defaults, which the graph copies.
    constexpr float layerVolume = 0.5f;
    constexpr float masterLevel = 0.7f;

    enum Way { floorWay, rackWay, graphWay, numWays };
    const char* const wayNames[] = { "floor", "rack", "graph" };

    //==============================================================================
    /** Chords on every layer: four notes every half second, held 0.4 s,
        walking through a few roots. Events in absolute samples. */
    struct Chords
    {
        struct Event { juce::int64 sample; juce::MidiMessage message; };

        Chords()
        {
            const int roots[] = { 48, 53, 55, 50, 57, 52 };
            const auto total = (juce::int64) (secondsPerRun * sampleRate);

            for (int k = 0; (juce::int64) (k * 0.5 * sampleRate) < total; ++k)
            {
                const auto on = (juce::int64) (k * 0.5 * sampleRate);
                const auto off = on + (juce::int64) (0.4 * sampleRate);
                const int root = roots[k % 6];

                for (const int interval : { 0, 4, 7, 12 })
                {
                    events.push_back ({ on, juce::MidiMessage::noteOn (1, root + interval, 0.8f) });
                    events.push_back ({ off, juce::MidiMessage::noteOff (1, root + interval) });
                }
            }

            std::stable_sort (events.begin(), events.end(), [] (const Event& a, const Event& b) { return a.sample < b.sample; });
        }

        /** Fills `midi` with the events of [start, start + length). */
        void fill (juce::MidiBuffer& midi, juce::int64 start, int length, size_t& next) const
        {
            midi.clear();

            for (; next < events.size() && events[next].sample < start + length; ++next)
                midi.addEvent (events[next].message, (int) (events[next].sample - start));
        }

        std::vector<Event> events;
    };

    //==============================================================================
    /** What a graph node of the benchmark answers a host: no MIDI, editor,
        programs, state or tail. */
    class Node : public juce::AudioProcessor
    {
    public:
        Node (const BusesProperties& buses, const juce::String& nodeName)
            : juce::AudioProcessor (buses), name (nodeName)
        {
        }

        void releaseResources() override {}
        const juce::String getName() const override { return name; }
        double getTailLengthSeconds() const override { return 0.0; }
        bool acceptsMidi() const override { return false; }
        bool producesMidi() const override { return false; }
        juce::AudioProcessorEditor* createEditor() override { return nullptr; }
        bool hasEditor() const override { return false; }
        int getNumPrograms() override { return 1; }
        int getCurrentProgram() override { return 0; }
        void setCurrentProgram (int) override {}
        const juce::String getProgramName (int) override { return {}; }
        void changeProgramName (int, const juce::String&) override {}
        void getStateInformation (juce::MemoryBlock&) override {}
        void setStateInformation (const void*, int) override {}

    private:
        const juce::String name;
    };

    //==============================================================================
    /** The gains a JUCE developer would put after each layer and before the
        output: left and right factors smoothed over 20 ms. */
    class GainNode : public Node
    {
    public:
        GainNode (float left, float right)
            : Node (BusesProperties().withInput ("In", juce::AudioChannelSet::stereo(), true)
                                     .withOutput ("Out", juce::AudioChannelSet::stereo(), true), "Gain"),
              targetLeft (left), targetRight (right)
        {
        }

        void prepareToPlay (double rate, int) override
        {
            gainLeft.reset (rate, 0.02);
            gainRight.reset (rate, 0.02);
            gainLeft.setCurrentAndTargetValue (targetLeft.load());
            gainRight.setCurrentAndTargetValue (targetRight.load());
        }

        void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
        {
            gainLeft.setTargetValue (targetLeft.load (std::memory_order_relaxed));
            gainRight.setTargetValue (targetRight.load (std::memory_order_relaxed));
            gainLeft.applyGain (buffer.getWritePointer (0), buffer.getNumSamples());
            gainRight.applyGain (buffer.getWritePointer (1), buffer.getNumSamples());
        }

        using juce::AudioProcessor::processBlock;

        std::atomic<float> targetLeft, targetRight;

    private:
        juce::SmoothedValue<float> gainLeft, gainRight;
    };

    //==============================================================================
    /** Sums the four layers (eight channels in, two out). JUCE 7.0.5's graph
        cannot delay a buffer that several connections sum into, so layers
        of different latency summed by connections alone come out of step. */
    class SumNode : public Node
    {
    public:
        SumNode()
            : Node (BusesProperties().withInput ("In", juce::AudioChannelSet::discreteChannels (8), true)
                                     .withOutput ("Out", juce::AudioChannelSet::stereo(), true), "Sum")
        {
        }

        void prepareToPlay (double, int) override {}

        void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
        {
            const int n = buffer.getNumSamples();

            for (int layer = 1; layer < 4; ++layer)
            {
                buffer.addFrom (0, 0, buffer, layer * 2, 0, n);
                buffer.addFrom (1, 0, buffer, layer * 2 + 1, 0, n);
            }
        }

        using juce::AudioProcessor::processBlock;

    };

    //==============================================================================
    /** The host's transport, the same for the three ways: playing at 120
        beats a minute from the start of the current block. */
    class Transport : public juce::AudioPlayHead
    {
    public:
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo position;
            position.setIsPlaying (true);
            position.setBpm (120.0);
            position.setTimeInSamples (time);
            position.setTimeInSeconds ((double) time / sampleRate);
            position.setPpqPosition ((double) time / sampleRate * 2.0);
            return position;
        }

        juce::int64 time = 0;
    };

    //==============================================================================
    /** Makes the plug-ins of one set; each way gets instances of its own. */
    struct PlugInSet
    {
        juce::String name;
        std::function<std::unique_ptr<juce::AudioPluginInstance> (int slot)> create;
        std::vector<juce::PluginDescription> descriptions; // for the rack's own loading, when real
    };

    /** What the rack's loading does to an instance before it plays it. */
    bool negotiateBuses (juce::AudioPluginInstance& plugin, bool effect)
    {
        plugin.disableNonMainBuses();
        auto layout = plugin.getBusesLayout();

        if (layout.outputBuses.isEmpty() || (effect && layout.inputBuses.isEmpty()))
            return false;

        for (auto& input : layout.inputBuses)
            input = effect ? juce::AudioChannelSet::stereo() : juce::AudioChannelSet::disabled();

        layout.outputBuses.getReference (0) = juce::AudioChannelSet::stereo();
        return plugin.setBusesLayout (layout);
    }

    //==============================================================================
    /** The floor: the plug-ins called directly, the layers summed, the two
        effects applied in place. */
    struct Floor
    {
        Floor (const PlugInSet& set, int blockSize, Transport& transport)
        {
            for (int i = 0; i < 6; ++i)
            {
                plugins.push_back (set.create (i));
                plugins.back()->setPlayHead (&transport);
                negotiateBuses (*plugins.back(), i >= 4);
                plugins.back()->setRateAndBufferSizeDetails (sampleRate, blockSize);
                plugins.back()->prepareToPlay (sampleRate, blockSize);
                buffers.emplace_back (juce::jmax (2, plugins.back()->getTotalNumOutputChannels(), plugins.back()->getTotalNumInputChannels()), blockSize);
            }

            layerMidi.ensureSize (65536);
            effectMidi.ensureSize (4096);
        }

        void process (juce::AudioBuffer<float>& output, const juce::MidiBuffer& midi)
        {
            const int n = output.getNumSamples();
            output.clear();

            for (int i = 0; i < 4; ++i)
            {
                juce::AudioBuffer<float> view (buffers[(size_t) i].getArrayOfWritePointers(), buffers[(size_t) i].getNumChannels(), n);
                view.clear();
                layerMidi.clear();
                layerMidi.addEvents (midi, 0, -1, 0);
                plugins[(size_t) i]->processBlock (view, layerMidi);
                output.addFrom (0, 0, view, 0, 0, n);
                output.addFrom (1, 0, view, 1, 0, n);
            }

            for (int i = 4; i < 6; ++i)
            {
                juce::AudioBuffer<float> view (buffers[(size_t) i].getArrayOfWritePointers(), buffers[(size_t) i].getNumChannels(), n);
                view.clear();
                view.copyFrom (0, 0, output, 0, 0, n);
                view.copyFrom (1, 0, output, 1, 0, n);
                effectMidi.clear();
                plugins[(size_t) i]->processBlock (view, effectMidi);
                output.copyFrom (0, 0, view, 0, 0, n);
                output.copyFrom (1, 0, view, 1, 0, n);
            }
        }

        std::vector<std::unique_ptr<juce::AudioPluginInstance>> plugins;
        std::vector<juce::AudioBuffer<float>> buffers;
        juce::MidiBuffer layerMidi, effectMidi;
    };

    //==============================================================================
    struct Graph
    {
        using Node = juce::AudioProcessorGraph::Node;
        using IOProcessor = juce::AudioProcessorGraph::AudioGraphIOProcessor;

        Graph (const PlugInSet& set, int blockSize, Transport& transport)
        {
            graph.setPlayHead (&transport);
            graph.setPlayConfigDetails (0, 2, sampleRate, blockSize);

            const auto midiIn = graph.addNode (std::make_unique<IOProcessor> (IOProcessor::midiInputNode));
            const auto audioOut = graph.addNode (std::make_unique<IOProcessor> (IOProcessor::audioOutputNode));
            const auto fx1 = addPlugin (set, 4);
            const auto fx2 = addPlugin (set, 5);
            const auto master = graph.addNode (std::make_unique<GainNode> (masterLevel, masterLevel));
            const auto sum = graph.addNode (std::make_unique<SumNode>());

            for (int i = 0; i < 4; ++i)
            {
                const auto instrument = addPlugin (set, i);
                const auto gain = graph.addNode (std::make_unique<GainNode> (layerVolume, layerVolume));
                connect (midiIn, juce::AudioProcessorGraph::midiChannelIndex, instrument, juce::AudioProcessorGraph::midiChannelIndex);
                connectStereo (instrument, gain);
                connect (gain, 0, sum, i * 2);
                connect (gain, 1, sum, i * 2 + 1);
            }

            connectStereo (sum, fx1);
            connectStereo (fx1, fx2);
            connectStereo (fx2, master);
            connectStereo (master, audioOut);
            graph.prepareToPlay (sampleRate, blockSize);
        }

        Node::Ptr addPlugin (const PlugInSet& set, int slot)
        {
            auto plugin = set.create (slot);
            negotiateBuses (*plugin, slot >= 4);
            return graph.addNode (std::move (plugin));
        }

        void connect (const Node::Ptr& from, int fromChannel, const Node::Ptr& to, int toChannel)
        {
            if (! graph.addConnection ({ { from->nodeID, fromChannel }, { to->nodeID, toChannel } }))
                std::fprintf (stderr, "graph: cannot connect %s to %s\n",
                              from->getProcessor()->getName().toRawUTF8(), to->getProcessor()->getName().toRawUTF8());
        }

        void connectStereo (const Node::Ptr& from, const Node::Ptr& to)
        {
            connect (from, 0, to, 0);
            connect (from, 1, to, 1);
        }

        void process (juce::AudioBuffer<float>& output, juce::MidiBuffer& midi)
        {
            graph.processBlock (output, midi);
        }

        juce::AudioProcessorGraph graph;
    };

    //==============================================================================
    struct Rack
    {
        Rack (const PlugInSet& set, int blockSize, Transport& transport)
        {
            rack.setPlayHead (&transport);

            if (set.descriptions.empty())
            {
                for (int i = 0; i < 6; ++i)
                    installPlugin (rack, i, set.create (i));
            }
            else
            {
                // Real plug-ins go through the rack's own loading.
                for (int i = 0; i < 6; ++i)
                    rack.load (i, set.descriptions[(size_t) i], {}, false, {});

                const auto end = juce::Time::getMillisecondCounter() + 30000;

                while (loading() && juce::Time::getMillisecondCounter() < end)
                    juce::MessageManager::getInstance()->runDispatchLoopUntil (5);

                const juce::ScopedLock sl (rack.lock);

                for (int i = 0; i < 6; ++i)
                    if (rack.slots[(size_t) i].hosted == nullptr)
                        std::fprintf (stderr, "rack: slot %d did not load: %s\n", i, rack.slots[(size_t) i].message.toRawUTF8());
            }

            rack.prepareToPlay (sampleRate, blockSize);
        }

        bool loading()
        {
            const juce::ScopedLock sl (rack.lock);

            for (const auto& slot : rack.slots)
                if (slot.loading)
                    return true;

            return false;
        }

        void process (juce::AudioBuffer<float>& output, juce::MidiBuffer& midi)
        {
            rack.processBlock (output, midi);
        }

        ChainProcessor rack;
    };

    //==============================================================================
    /** Audio threads run at real-time priority, so that other processes on
        the machine do not preempt them; the figures are taken the same way.
        Needs the right to do so (root, or an rtprio limit); without it the
        thread runs at normal priority and the report says so. */
    bool makeRealTime()
    {
        sched_param parameters {};
        parameters.sched_priority = 70;
        return pthread_setschedparam (pthread_self(), SCHED_FIFO, &parameters) == 0;
    }

    bool realTimePriority = false;

    //==============================================================================
    struct Timings
    {
        std::vector<double> blockMicros;
        long allocations = 0;
        double peakDifference = 0.0; // against the rack, for the graph

        double percentile (double p) const
        {
            auto sorted = blockMicros;
            std::sort (sorted.begin(), sorted.end());
            return sorted[(size_t) juce::jlimit (0.0, (double) sorted.size() - 1.0, std::ceil (p * (double) sorted.size()) - 1.0)];
        }

        double median() const { return percentile (0.5); }
        double worst() const { return *std::max_element (blockMicros.begin(), blockMicros.end()); }
        double total() const { double t = 0; for (auto m : blockMicros) t += m; return t; }
    };

    /** Runs the three ways block by block on one thread, rotating which goes
        first so that none profits from the others warming the caches. */
    std::array<Timings, numWays> measure (const PlugInSet& set, int blockSize, const Chords& chords)
    {
        Transport transport;
        Floor floor (set, blockSize, transport);
        Rack rack (set, blockSize, transport);
        Graph graph (set, blockSize, transport);

        const auto numBlocks = (int) (secondsPerRun * sampleRate) / blockSize;
        std::array<Timings, numWays> timings;
        std::array<juce::AudioBuffer<float>, numWays> outputs;
        std::array<juce::MidiBuffer, numWays> midi;
        juce::MidiBuffer blockMidi;
        blockMidi.ensureSize (65536);

        for (int w = 0; w < numWays; ++w)
        {
            timings[(size_t) w].blockMicros.reserve ((size_t) numBlocks);
            outputs[(size_t) w].setSize (2, blockSize);
            midi[(size_t) w].ensureSize (65536);
        }

        std::thread audio ([&]
        {
            realTimePriority = makeRealTime();
            size_t next = 0;

            for (int b = 0; b < numBlocks; ++b)
            {
                chords.fill (blockMidi, (juce::int64) b * blockSize, blockSize, next);
                transport.time = (juce::int64) b * blockSize;

                for (int k = 0; k < numWays; ++k)
                {
                    const int w = (b + k) % numWays;
                    auto& out = outputs[(size_t) w];
                    auto& events = midi[(size_t) w];
                    events.clear();
                    events.addEvents (blockMidi, 0, -1, 0);

                    allocationCounter = &timings[(size_t) w].allocations;
                    const auto start = std::chrono::steady_clock::now();

                    if (w == floorWay)      floor.process (out, events);
                    else if (w == rackWay)  rack.process (out, events);
                    else                    graph.process (out, events);

                    const auto end = std::chrono::steady_clock::now();
                    allocationCounter = nullptr;
                    timings[(size_t) w].blockMicros.push_back (std::chrono::duration<double, std::micro> (end - start).count());
                }

                // The graph does the rack's job: their outputs should agree.
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockSize; ++i)
                        timings[graphWay].peakDifference = juce::jmax (timings[graphWay].peakDifference,
                            (double) std::abs (outputs[rackWay].getSample (c, i) - outputs[graphWay].getSample (c, i)));
            }
        });

        audio.join();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        return timings;
    }

    //==============================================================================
    /** The trivial instrument only adds its impulses, trusting the host to
        clear its buffer, as the rack and the floor do. A graph hands a node
        a buffer that may hold an earlier block, so every way gets one that
        writes its whole output, as real instruments do. */
    class TrivialInstrument : public ImpulseInstrument
    {
    public:
        using ImpulseInstrument::ImpulseInstrument;

        void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override
        {
            buffer.clear();
            ImpulseInstrument::processBlock (buffer, midiMessages);
        }

        using ImpulseInstrument::processBlock;
    };

    PlugInSet trivialSet()
    {
        PlugInSet set;
        set.name = "trivial";
        set.create = [] (int slot) -> std::unique_ptr<juce::AudioPluginInstance>
        {
            // Different latencies, so that both the rack and the graph align.
            const int instrumentLatency[] = { 0, 64, 128, 32 };

            if (slot < 4)
            {
                ImpulseInstrument::Options options;
                options.latency = instrumentLatency[slot];
                options.height = 0.25f;
                return std::make_unique<TrivialInstrument> (options);
            }

            DelayEffect::Options options;
            options.latency = slot == 4 ? 16 : 48;
            return std::make_unique<DelayEffect> (options);
        };
        return set;
    }

    juce::AudioPluginFormatManager& lv2Formats()
    {
        static juce::AudioPluginFormatManager manager;

        if (manager.getNumFormats() == 0)
            manager.addDefaultFormats();

        return manager;
    }

    juce::PluginDescription describeLv2 (const juce::String& uri)
    {
        for (int i = 0; i < lv2Formats().getNumFormats(); ++i)
        {
            auto* format = lv2Formats().getFormat (i);

            if (format->getName() != "LV2")
                continue;

            juce::OwnedArray<juce::PluginDescription> found;
            format->findAllTypesForFile (found, uri);

            if (! found.isEmpty())
                return *found.getFirst();
        }

        return {};
    }

    bool realSet (PlugInSet& set)
    {
        const juce::String reverb = describeLv2 ("urn:dragonfly:room").fileOrIdentifier.isNotEmpty()
                                        ? "urn:dragonfly:room" : "http://calf.sourceforge.net/plugins/Reverb";
        const juce::String uris[] = { "http://drobilla.net/plugins/mda/JX10", "http://drobilla.net/plugins/mda/EPiano",
                                      "http://drobilla.net/plugins/mda/JX10", "http://drobilla.net/plugins/mda/EPiano",
                                      "http://drobilla.net/plugins/mda/Delay", reverb };
        set.name = "real";

        for (const auto& uri : uris)
        {
            const auto description = describeLv2 (uri);

            if (description.fileOrIdentifier.isEmpty())
            {
                std::fprintf (stderr, "LV2 plug-in %s not installed (scripts/install-deps.sh with VELLIX_WITH_TEST_PLUGINS=1)\n",
                              uri.toRawUTF8());
                return false;
            }

            set.descriptions.push_back (description);
        }

        set.create = [descriptions = set.descriptions] (int slot)
        {
            juce::String error;
            auto instance = lv2Formats().createPluginInstance (descriptions[(size_t) slot], sampleRate, 512, error);

            if (instance == nullptr)
            {
                std::fprintf (stderr, "cannot create %s: %s\n", descriptions[(size_t) slot].name.toRawUTF8(), error.toRawUTF8());
                std::exit (1);
            }

            return instance;
        };

        std::printf ("real plug-ins: %s, %s, %s, %s; effects %s, %s\n",
                     set.descriptions[0].name.toRawUTF8(), set.descriptions[1].name.toRawUTF8(),
                     set.descriptions[2].name.toRawUTF8(), set.descriptions[3].name.toRawUTF8(),
                     set.descriptions[4].name.toRawUTF8(), set.descriptions[5].name.toRawUTF8());
        return true;
    }

    juce::String cpuModel()
    {
        juce::StringArray lines;
        lines.addLines (juce::File ("/proc/cpuinfo").loadFileAsString());

        for (const auto& line : lines)
            if (line.startsWith ("model name"))
                return line.fromFirstOccurrenceOf (":", false, false).trim();

        return "unknown";
    }
}

int main (int argc, char* argv[])
{
    // "trivial" or "real" runs one set only, e.g. under callgrind.
    const juce::String only = argc > 1 ? juce::String (argv[1]) : juce::String();

    if (only.isNotEmpty() && only != "trivial" && only != "real")
    {
        std::fputs ("usage: vellix-bench [trivial|real]\n", stderr);
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    const Chords chords;

    std::printf ("vellix-bench: %.0f Hz, %.0f s of chords on every layer per run; times per block in microseconds\n",
                 sampleRate, secondsPerRun);
    std::printf ("machine: %d cores, %s\n\n", juce::SystemStats::getNumCpus(), cpuModel().toRawUTF8());

    std::vector<PlugInSet> sets;
    PlugInSet real;

    if (only != "real")
        sets.push_back (trivialSet());

    if (only != "trivial" && realSet (real))
        sets.push_back (real);

    struct Row { juce::String set; int block; std::array<Timings, numWays> timings; };
    std::vector<Row> rows;

    std::printf ("\n%-8s %5s  %-5s %9s %9s %9s %10s %7s\n", "plug-ins", "block", "way", "median", "p99", "worst", "total ms", "allocs");

    for (const auto& set : sets)
    {
        for (const int blockSize : blockSizes)
        {
            rows.push_back ({ set.name, blockSize, measure (set, blockSize, chords) });
            const auto& row = rows.back();

            for (int w = 0; w < numWays; ++w)
            {
                const auto& t = row.timings[(size_t) w];
                std::printf ("%-8s %5d  %-5s %9.2f %9.2f %9.2f %10.1f %7ld\n", set.name.toRawUTF8(), blockSize, wayNames[w],
                             t.median(), t.percentile (0.99), t.worst(), t.total() / 1000.0, t.allocations);
            }

            std::fflush (stdout);
        }
    }

    std::printf ("\nrendering thread: %s\n", realTimePriority ? "real-time priority (SCHED_FIFO)" : "normal priority (no right to real-time)");
    std::printf ("allocations counted on the rendering thread inside each way's block; those of the floor are the plug-ins' own\n");
    std::printf ("\nratios (median per block; total time in brackets)\n");
    std::printf ("%-8s %5s  %-19s %-19s %-13s %s\n", "plug-ins", "block", "rack / graph", "rack / floor", "rack p99/med", "|rack - graph|");

    juce::StringArray missed;

    for (const auto& row : rows)
    {
        const auto& floor = row.timings[floorWay];
        const auto& rack = row.timings[rackWay];
        const auto& graph = row.timings[graphWay];
        const auto rackGraph = rack.median() / graph.median();
        const auto rackFloor = rack.median() / floor.median();
        const auto spread = rack.percentile (0.99) / rack.median();
        const auto where = row.set + " at " + juce::String (row.block);

        std::printf ("%-8s %5d  %5.3f (%5.3f)       %5.3f (%5.3f)       %5.2f         %.2g\n", row.set.toRawUTF8(), row.block,
                     rackGraph, rack.total() / graph.total(), rackFloor, rack.total() / floor.total(), spread,
                     graph.peakDifference);

        if (rackGraph > 1.0)
            missed.add ("rack/graph " + juce::String (rackGraph, 4) + " " + where);

        if (rack.allocations > floor.allocations)
            missed.add ("rack allocated " + juce::String (rack.allocations - floor.allocations) + " " + where);

        if (row.set == "real" && row.block == 512 && rackFloor > 1.03)
            missed.add ("rack/floor " + juce::String (rackFloor, 3) + " " + where);

        if (row.set == "trivial" && spread > 2.0)
            missed.add ("rack p99/median " + juce::String (spread, 2) + " " + where);
    }

    std::printf ("\ntargets (rack/graph <= 1 everywhere; real rack/floor <= 1.03 at 512; trivial rack p99 <= 2 x median; "
                 "no allocation beyond the plug-ins' own): %s\n",
                 missed.isEmpty() ? "met" : ("missed: " + missed.joinIntoString ("; ")).toRawUTF8());
    return 0;
}
