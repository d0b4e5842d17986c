#pragma once

// What each fuzz target does with one input. The libFuzzer programs of this
// folder call these, and so does the normal test suite over the seed corpus
// and every input that once broke a reader (tests/fuzz/corpus/<target>/).

#include "hosting/PluginCatalogue.h"
#include "hosting/PluginTrust.h"
#include "hosting/PropertyList.h"
#include "library/RackLibrary.h"
#include "rack/ChainProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fuzz
{
    /** A scratch folder of this process, removed at exit. */
    inline const juce::File& scratch()
    {
        struct Folder
        {
            Folder()  { file.createDirectory(); }
            ~Folder() { file.deleteRecursively(); }

            const juce::File file = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                        .getNonexistentChildFile ("vellix-fuzz", {}, false);
        };

        static const Folder folder;
        return folder.file;
    }

    /** Rack-state bytes straight into a rack on the message thread, then out
        again. No plug-in file outside the plug-in folders is ever opened, and
        approvals are read from a file that does not exist. */
    inline void rackState (const std::uint8_t* data, size_t size)
    {
        static const bool noApprovals = []
        {
            PluginTrust::setApprovalsFile (scratch().getChildFile ("no-approvals.txt"));
            return true;
        }();
        juce::ignoreUnused (noApprovals);

        // Never destroyed: it would outlive JUCE's message manager at exit.
        static auto* processor = new ChainProcessor();
        static int runs = 0;

        processor->setStateInformation (data, (int) size);

        juce::MemoryBlock saved;
        processor->getStateInformation (saved);

        // Lets the timer and any late completion run now and then.
        if (++runs % 256 == 0)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }

    /** The input is a library folder's index. */
    inline void libraryIndex (const std::uint8_t* data, size_t size)
    {
        const auto folder = scratch().getChildFile ("library");
        folder.createDirectory();
        folder.getChildFile (".library.xml").replaceWithData (data, size);

        RackLibrary library (folder);
        juce::ignoreUnused (library.folders.size() + library.files.size());
    }

    /** The input is a file that may or may not be a sound. */
    inline void soundCheck (const std::uint8_t* data, size_t size)
    {
        const auto file = scratch().getChildFile ("candidate.vellix");
        file.replaceWithData (data, size);
        juce::ignoreUnused (RackLibrary::valid (file));
    }

    inline void visit (const PropertyList& value, int depth)
    {
        juce::ignoreUnused (value.getText(), value.getUnsignedValue(), value["CFBundleIdentifier"].getText());

        if (depth < 64)
            for (const auto& element : value.getElements())
                visit (element, depth + 1);
    }

    /** The input is an Info.plist, XML or binary. */
    inline void propertyList (const std::uint8_t* data, size_t size)
    {
        visit (PropertyList::parse (data, size), 0);
    }

    /** The input is a VST3 bundle's moduleinfo.json. */
    inline void moduleInfo (const std::uint8_t* data, size_t size)
    {
        const auto text = juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size);

        if (const auto found = PluginCatalogue::readModuleInfo (text, juce::File ("/usr/lib/vst3/Fuzzed.vst3")))
            for (const auto& description : *found)
                juce::ignoreUnused (description.createXml());
    }

    struct Target
    {
        const char* name;
        std::function<void (const std::uint8_t*, size_t)> run;
    };

    inline const std::vector<Target>& targets()
    {
        static const std::vector<Target> all {
            { "rack_state", rackState },
            { "library_index", libraryIndex },
            { "sound_check", soundCheck },
            { "property_list", propertyList },
            { "module_info", moduleInfo },
        };

        return all;
    }
}
