#pragma once

// What the loading, state and real-plug-in tests share: pumping the message
// loop until loads settle, the built fixture bundles, reading what a fixture
// plug-in saw, and an in-process plug-in format whose completions the test
// can hold back and release in any order.

#include "rack/ChainProcessor.h"
#include "rack/Hosted.h"
#include "hosting/PluginTrust.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace loading
{
    //==============================================================================
    /** Runs the message loop until the predicate holds; false on time-out. */
    inline bool pumpUntil (const std::function<bool()>& done, int timeoutMs = 10000)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! done())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;

            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    inline void pumpFor (int ms)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
    }

    /** A copy of what the tile would read from a slot, taken under the rack lock. */
    struct SlotView
    {
        std::shared_ptr<ChainProcessor::Hosted> hosted;
        juce::PluginDescription description;
        juce::MemoryBlock state, preview;
        bool showEditor = false, loading = false;
        juce::String message;
        int generation = 0;
    };

    inline SlotView viewSlot (ChainProcessor& processor, int index)
    {
        const juce::ScopedLock sl (processor.lock);
        const auto& slot = processor.slots[(size_t) index];
        return { slot.hosted, slot.description, slot.state, slot.preview,
                 slot.showEditor, slot.loading, slot.message, slot.generation };
    }

    inline bool isLoading (ChainProcessor& processor, int index)
    {
        return viewSlot (processor, index).loading;
    }

    /** Pumps until no slot of the processor is loading. */
    inline bool settle (ChainProcessor& processor, int timeoutMs = 20000)
    {
        return pumpUntil ([&]
        {
            for (int i = 0; i < ChainProcessor::numSlots; ++i)
                if (isLoading (processor, i))
                    return false;

            return true;
        }, timeoutMs);
    }

    //==============================================================================
    // The fixture plug-ins built from tests/fixtures.

    inline juce::File fixtureFolder()
    {
        return juce::File (VELLIX_TEST_BINARY_DIR).getParentDirectory().getChildFile ("fixtures");
    }

    inline juce::File fixtureVst3 (const juce::String& product)
    {
        return fixtureFolder().getChildFile ("vst3").getChildFile (product + ".vst3");
    }

    /** The fixture bundles are built outside the plug-in folders, so a sound
        naming them would not open; a test that restores one installs them. */
    inline void installFixtureVst3Folder()
    {
        PluginTrust::addPluginFolder (fixtureFolder().getChildFile ("vst3"));
    }

    inline juce::String fixtureLv2Uri (const juce::String& product)
    {
        return "https://fixtures.example/plugins/" + product;
    }

    inline juce::AudioPluginFormat* findFormat (juce::AudioPluginFormatManager& manager, const juce::String& name)
    {
        for (int i = 0; i < manager.getNumFormats(); ++i)
            if (manager.getFormat (i)->getName() == name)
                return manager.getFormat (i);

        return nullptr;
    }

    /** The LV2 format only searches the standard folders; the fixture bundles
        live in the build folder, so a test adds them to a format's world. */
    inline void addFixtureLv2Folder (juce::AudioPluginFormatManager& manager)
    {
        if (auto* lv2 = findFormat (manager, "LV2"))
            lv2->searchPathsForPlugins (juce::FileSearchPath (fixtureFolder().getChildFile ("lv2").getFullPathName()),
                                        false, false);
    }

    /** The description a format reports for a bundle file or an LV2 URI, as
        the tile gets it from a chosen file. */
    inline juce::PluginDescription describe (juce::AudioPluginFormatManager& manager, const juce::String& formatName,
                                             const juce::String& fileOrIdentifier)
    {
        juce::OwnedArray<juce::PluginDescription> found;

        if (auto* format = findFormat (manager, formatName))
            format->findAllTypesForFile (found, fileOrIdentifier);

        return found.isEmpty() ? juce::PluginDescription() : *found.getFirst();
    }

    /** A fixture's own settings, in the form its setStateInformation reads. */
    inline juce::MemoryBlock fixtureSettings (const juce::String& attributes)
    {
        const auto text = "<FIXTURE " + attributes + "/>";
        return { text.toRawUTF8(), text.getNumBytesAsUTF8() };
    }

    /** Finds the fixture's <FIXTURE .../> report inside a host-side state, which
        wraps it differently per format: raw, inside binary XML, or in JUCE's
        base-64 form inside XML or Turtle text. */
    inline std::unique_ptr<juce::XmlElement> findFixtureReport (const juce::MemoryBlock& block, int depth = 0)
    {
        const std::string bytes (static_cast<const char*> (block.getData()), block.getSize());

        if (const auto start = bytes.find ("<FIXTURE "); start != std::string::npos)
        {
            const auto end = bytes.find ("/>", start);

            if (end != std::string::npos)
                return juce::parseXML (juce::String (bytes.substr (start, end + 2 - start)));
        }

        if (depth > 3)
            return nullptr;

        std::vector<juce::String> candidates;

        if (auto xml = juce::AudioProcessor::getXmlFromBinary (block.getData(), (int) block.getSize()))
        {
            for (auto* element : xml->getChildIterator())
                candidates.push_back (element->getAllSubText().trim());
        }
        else
        {
            static const std::regex token ("[0-9]+\\.[.A-Za-z0-9+]+");

            for (std::sregex_iterator it (bytes.begin(), bytes.end(), token), end; it != end; ++it)
                candidates.push_back (juce::String (it->str()));
        }

        for (const auto& text : candidates)
        {
            juce::MemoryBlock decoded;

            if (decoded.fromBase64Encoding (text))
                if (auto found = findFixtureReport (decoded, depth + 1))
                    return found;
        }

        return nullptr;
    }

    /** Replaces, inside a host-side state, the base-64 block that holds the
        fixture's own state with the given one. */
    inline juce::MemoryBlock replaceFixtureState (const juce::MemoryBlock& hostState, const juce::MemoryBlock& fixtureState)
    {
        const auto holdsReport = [] (const juce::String& text)
        {
            juce::MemoryBlock decoded;
            return decoded.fromBase64Encoding (text) && findFixtureReport (decoded) != nullptr;
        };

        if (auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
        {
            for (auto* element : xml->getChildIterator())
            {
                if (holdsReport (element->getAllSubText().trim()))
                {
                    element->deleteAllTextElements();
                    element->addTextElement (fixtureState.toBase64Encoding());
                }
            }

            juce::MemoryBlock result;
            juce::AudioProcessor::copyXmlToBinary (*xml, result);
            return result;
        }

        std::string text (static_cast<const char*> (hostState.getData()), hostState.getSize());
        static const std::regex token ("[0-9]+\\.[.A-Za-z0-9+]+");
        std::smatch match;

        for (auto from = text.cbegin(); std::regex_search (from, text.cend(), match, token); from = match.suffix().first)
        {
            if (holdsReport (juce::String (match.str())))
            {
                const auto position = (size_t) (match[0].first - text.cbegin());
                text.replace (position, (size_t) match.length(), fixtureState.toBase64Encoding().toStdString());
                break;
            }
        }

        return { text.data(), text.size() };
    }

    /** The state that a fixture plug-in's host-side instance produces, as the
        rack stores it, carrying the given fixture settings: a fresh instance's
        state with its own block swapped. */
    inline juce::MemoryBlock fixtureHostState (juce::AudioPluginFormatManager& manager,
                                               const juce::PluginDescription& description,
                                               const juce::String& attributes)
    {
        juce::String error;
        auto instance = manager.createPluginInstance (description, 44100.0, 512, error);

        if (instance == nullptr)
        {
            ADD_FAILURE() << "cannot create " << description.name << ": " << error;
            return {};
        }

        juce::MemoryBlock state;
        instance->getStateInformation (state);
        return replaceFixtureState (state, fixtureSettings (attributes));
    }

    inline std::unique_ptr<juce::XmlElement> fixtureReport (juce::AudioPluginInstance& instance)
    {
        juce::MemoryBlock state;
        instance.getStateInformation (state);
        return findFixtureReport (state);
    }

    /** Live instances of a fixture plug-in in this process, read from its own
        counter; 0 when its library is not loaded at all. */
    inline int liveFixtureInstances (const juce::File& library)
    {
        auto* handle = dlopen (library.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_NOLOAD);

        if (handle == nullptr)
            return 0;

        int count = 0;

        if (auto* function = reinterpret_cast<int (*)()> (dlsym (handle, "fixtureLiveInstances")))
            count = function();

        dlclose (handle);
        return count;
    }

    inline juce::File fixtureVst3Library (const juce::String& product)
    {
        return fixtureVst3 (product).getChildFile ("Contents/x86_64-linux/" + product + ".so");
    }

    //==============================================================================
    // The in-process format. A description's fileOrIdentifier "fake:<kind>"
    // picks the behaviour of the instance; see FakeInstance.

    inline std::atomic<int>& fakeLiveInstances()
    {
        static std::atomic<int> count { 0 };
        return count;
    }

    class FakeInstance : public juce::AudioPluginInstance
    {
    public:
        /** Kinds: "synth" (stereo or mono out, MIDI), "synthMonoOnly",
            "synthNoLayout" (quadraphonic only), "synthDiscrete" and
            "effectDiscrete" (two discrete channels only), "synthNoOutput", "effect"
            (stereo in/out, no MIDI), "effectMonoOnly", "effectNoInput",
            "effectInstrument" (an effect's buses but reports an instrument),
            "latency:<n>" (a synth with n samples latency). */
        explicit FakeInstance (const juce::String& kindToUse)
            : juce::AudioPluginInstance (propertiesFor (kindToUse)), kind (kindToUse)
        {
            ++fakeLiveInstances();

            if (kind.startsWith ("latency:"))
                setLatencySamples (kind.fromFirstOccurrenceOf (":", false, false).getIntValue());
        }

        ~FakeInstance() override { --fakeLiveInstances(); }

        static BusesProperties propertiesFor (const juce::String& kind)
        {
            if (kind == "synthNoOutput")
                return BusesProperties();

            if (kind == "effectNoInput")
                return BusesProperties().withOutput ("Out", juce::AudioChannelSet::stereo(), true);

            // A plug-in starts in a layout it supports; JUCE accepts a request
            // for the current layout without asking.
            if (kind == "synthNoLayout")
                return BusesProperties().withOutput ("Out", juce::AudioChannelSet::quadraphonic(), true);

            if (kind == "synthMonoOnly")
                return BusesProperties().withOutput ("Out", juce::AudioChannelSet::mono(), true);

            if (kind == "synthDiscrete")
                return BusesProperties().withOutput ("Out", juce::AudioChannelSet::discreteChannels (2), true);

            if (kind == "effectDiscrete")
                return BusesProperties().withInput ("In", juce::AudioChannelSet::discreteChannels (2), true)
                                        .withOutput ("Out", juce::AudioChannelSet::discreteChannels (2), true);

            if (kind == "effectMonoOnly")
                return BusesProperties().withInput ("In", juce::AudioChannelSet::mono(), true)
                                        .withOutput ("Out", juce::AudioChannelSet::mono(), true);

            if (kind.startsWith ("effect"))
                return BusesProperties().withInput ("In", juce::AudioChannelSet::stereo(), true)
                                        .withOutput ("Out", juce::AudioChannelSet::stereo(), true);

            return BusesProperties().withOutput ("Out", juce::AudioChannelSet::stereo(), true);
        }

        bool isEffect() const { return kind.startsWith ("effect") && kind != "effectInstrument"; }

        void fillInPluginDescription (juce::PluginDescription& d) const override
        {
            d.name = "Fake " + kind;
            d.descriptiveName = d.name;
            d.pluginFormatName = "Fake";
            d.manufacturerName = "Fakes";
            d.fileOrIdentifier = "fake:" + kind;
            d.uniqueId = kind.hashCode();
            d.isInstrument = ! isEffect();
            d.numInputChannels = getTotalNumInputChannels();
            d.numOutputChannels = getTotalNumOutputChannels();
        }

        bool isBusesLayoutSupported (const BusesLayout& layouts) const override
        {
            const auto out = layouts.getMainOutputChannelSet();

            if (kind == "synthNoLayout")
                return out == juce::AudioChannelSet::quadraphonic();

            // Like an LV2 plug-in without port groups: only its declared layout.
            if (kind.endsWith ("Discrete"))
                return out == juce::AudioChannelSet::discreteChannels (2);

            if (kind == "synthMonoOnly" || kind == "effectMonoOnly")
                return out == juce::AudioChannelSet::mono() || out.isDisabled();

            return out == juce::AudioChannelSet::stereo() || out == juce::AudioChannelSet::mono() || out.isDisabled();
        }

        const juce::String getName() const override { return "Fake " + kind; }
        void prepareToPlay (double, int) override { ++prepares; }
        void releaseResources() override { ++releases; }
        void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
        {
            if (! isEffect())
                buffer.clear();
        }
        using juce::AudioPluginInstance::processBlock;
        double getTailLengthSeconds() const override { return 0.0; }
        bool acceptsMidi() const override { return ! kind.startsWith ("effect"); }
        bool producesMidi() const override { return false; }
        juce::AudioProcessorEditor* createEditor() override { return nullptr; }
        bool hasEditor() const override { return false; }
        int getNumPrograms() override { return 1; }
        int getCurrentProgram() override { return 0; }
        void setCurrentProgram (int) override {}
        const juce::String getProgramName (int) override { return {}; }
        void changeProgramName (int, const juce::String&) override {}
        void getStateInformation (juce::MemoryBlock& dest) override { dest = state; }
        void setStateInformation (const void* data, int size) override
        {
            state.replaceAll (data, (size_t) size);
            ++stateCalls;

            if (duringSetState() != nullptr)
                std::exchange (duringSetState(), nullptr)();
        }

        /** Run once from inside the next setStateInformation: a plug-in that
            lets the message loop run there lets other work reach the rack. */
        static std::function<void()>& duringSetState()
        {
            static std::function<void()> hook;
            return hook;
        }

        const juce::String kind;
        juce::MemoryBlock state;
        int stateCalls = 0, prepares = 0, releases = 0;
    };

    /** Completions held back by the fake format; they outlive any processor. */
    struct HeldCompletion
    {
        juce::PluginDescription description;
        juce::AudioPluginFormat::PluginCreationCallback callback;
    };

    inline std::vector<HeldCompletion>& heldCompletions()
    {
        static std::vector<HeldCompletion> held;
        return held;
    }

    inline bool& holdCompletions()
    {
        static bool hold = false;
        return hold;
    }

    /** Completes a held creation the way the fake format would have done it. */
    inline void completeNow (HeldCompletion& request)
    {
        const auto kind = request.description.fileOrIdentifier.fromFirstOccurrenceOf ("fake:", false, false);

        if (kind == "fail")
            request.callback (nullptr, {});
        else if (kind == "failText")
            request.callback (nullptr, "Plug-in crashed while loading");
        else if (kind == "synthWithError")
            request.callback (std::make_unique<FakeInstance> ("synth"), "Loaded with complaints");
        else
            request.callback (std::make_unique<FakeInstance> (kind), {});
    }

    inline void releaseHeld (size_t index)
    {
        auto request = std::move (heldCompletions()[index]);
        heldCompletions()[index].callback = nullptr;
        completeNow (request);
    }

    /** A plug-in format whose plug-ins live in the test process; its
        identifiers are "<prefix>:<kind>". Nothing to scan, nothing on disk. */
    class InProcessFormat : public juce::AudioPluginFormat
    {
    public:
        InProcessFormat (const juce::String& formatName, const juce::String& identifierPrefix)
            : name (formatName), prefix (identifierPrefix + ":")
        {
        }

        juce::String getName() const override { return name; }
        void findAllTypesForFile (juce::OwnedArray<juce::PluginDescription>&, const juce::String&) override {}
        bool fileMightContainThisPluginType (const juce::String& id) override { return id.startsWith (prefix); }
        juce::String getNameOfPluginFromIdentifier (const juce::String& id) override { return id; }
        bool pluginNeedsRescanning (const juce::PluginDescription&) override { return false; }
        bool doesPluginStillExist (const juce::PluginDescription&) override { return true; }
        bool canScanForPlugins() const override { return false; }
        bool isTrivialToScan() const override { return true; }
        juce::StringArray searchPathsForPlugins (const juce::FileSearchPath&, bool, bool) override { return {}; }
        juce::FileSearchPath getDefaultLocationsToSearch() override { return {}; }
        bool requiresUnblockedMessageThreadDuringCreation (const juce::PluginDescription&) const override { return false; }

    private:
        const juce::String name, prefix;
    };

    class FakeFormat : public InProcessFormat
    {
    public:
        FakeFormat() : InProcessFormat ("Fake", "fake") {}

    protected:
        void createPluginInstance (const juce::PluginDescription& description, double, int,
                                   PluginCreationCallback callback) override
        {
            HeldCompletion request { description, std::move (callback) };

            if (holdCompletions())
                heldCompletions().push_back (std::move (request));
            else
                completeNow (request);
        }
    };

    inline juce::PluginDescription fake (const juce::String& kind)
    {
        juce::PluginDescription d;
        d.name = "Fake " + kind;
        d.pluginFormatName = "Fake";
        d.fileOrIdentifier = "fake:" + kind;
        d.isInstrument = ! kind.startsWith ("effect");
        return d;
    }

    inline juce::MemoryBlock bytes (const juce::String& text)
    {
        return { text.toRawUTF8(), text.getNumBytesAsUTF8() };
    }

    /** A processor that can also create fake plug-ins. */
    inline std::unique_ptr<ChainProcessor> fakeRack()
    {
        auto processor = std::make_unique<ChainProcessor>();
        processor->formatManager.addFormat (new FakeFormat());
        return processor;
    }

    /** A processor with the fake format added; completions run at once unless
        the test holds them. Resets the held queue for each test. */
    struct FakeRackTest : public ::testing::Test
    {
        FakeRackTest()
        {
            heldCompletions().clear();
            holdCompletions() = false;
            processor = fakeRack();
        }

        ~FakeRackTest() override
        {
            processor = nullptr;
            heldCompletions().clear();
            holdCompletions() = false;
        }

        SlotView slot (int index) { return viewSlot (*processor, index); }

        std::unique_ptr<ChainProcessor> processor;
    };
}
