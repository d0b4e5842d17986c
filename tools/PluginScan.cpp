// vellix-plugin-scan BUNDLE
//
// Loads one VST3 bundle through JUCE's VST3 format and prints the
// descriptions of its plug-ins as one line of XML on standard output. The
// application runs it in a child process with a time limit and takes only a
// complete answer; a crash or a hang here costs it nothing but that bundle.

#include "hosting/PluginCatalogue.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace
{
    bool writeAll (int fd, const char* data, size_t size)
    {
        while (size > 0)
        {
            const auto written = ::write (fd, data, size);

            if (written <= 0)
                return false;

            data += written;
            size -= (size_t) written;
        }

        return true;
    }
}

int main (int argc, char* argv[])
{
    if (argc != 2)
    {
        std::fputs ("usage: vellix-plugin-scan BUNDLE\n", stderr);
        return 2;
    }

    // The answer keeps the real standard output; whatever the plug-in prints
    // goes to standard error, so it can never spoil the answer.
    // Close-on-exec: a process the plug-in starts must not hold the answer's
    // pipe open after the helper is gone.
    const int answer = ::fcntl (STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);

    if (answer < 0 || ::dup2 (STDERR_FILENO, STDOUT_FILENO) < 0)
        return 3;

    juce::ScopedJuceInitialiser_GUI juce;
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, juce::String::fromUTF8 (argv[1]));

    const auto text = PluginCatalogue::writeScanOutput (found) + "\n";
    const bool written = writeAll (answer, text.toRawUTF8(), text.getNumBytesAsUTF8());

    // Leaves without unloading the plug-in's module: some misbehave on the
    // way out, and the answer is already given.
    std::_Exit (written ? 0 : 4);
}
