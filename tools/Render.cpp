// vellix-render SOUND.vellix INPUT.mid OUTPUT.wav [--rate 48000] [--block 512] [--tail SECONDS]
//
// Renders a MIDI file through a saved sound, faster than real time, into a
// 24-bit stereo WAV file. The sound opens exactly as the application opens
// it, with the same rules about which plug-in files it may load; a slot whose
// plug-in cannot be loaded is reported and left silent.
//
// Exit status: 0 rendered, 1 a file could not be read or written, 2 usage.

#include "hosting/OfflineRenderer.h"
#include "library/RackLibrary.h"
#include "rack/ChainProcessor.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace
{
    constexpr const char* usage =
        "usage: vellix-render SOUND.vellix INPUT.mid OUTPUT.wav [--rate 48000] [--block 512] [--tail SECONDS]\n";

    /** A plug-in that never answers must not hang the render. */
    constexpr int loadTimeoutMs = 120000;

    void fail (const juce::String& text)
    {
        std::fprintf (stderr, "vellix-render: %s\n", text.toRawUTF8());
    }

    struct Arguments
    {
        juce::File sound, midi, output;
        double rate = 48000.0;
        int block = 512;
        double tail = -1.0;
    };

    bool parseNumber (const juce::String& text, double& value)
    {
        const auto trimmed = text.trim();

        if (trimmed.isEmpty() || ! trimmed.containsOnly ("0123456789.eE+-"))
            return false;

        value = trimmed.getDoubleValue();
        return std::isfinite (value);
    }

    bool parseArguments (const juce::StringArray& args, Arguments& result)
    {
        juce::StringArray files;

        for (int i = 0; i < args.size(); ++i)
        {
            const auto& arg = args[i];

            if (arg == "--rate" || arg == "--block" || arg == "--tail")
            {
                double value = 0.0;

                if (i + 1 >= args.size() || ! parseNumber (args[++i], value))
                {
                    fail (arg + " needs a number");
                    return false;
                }

                if (arg == "--rate")
                {
                    if (value < 8000.0 || value > 768000.0)
                    {
                        fail ("--rate must lie between 8000 and 768000");
                        return false;
                    }

                    result.rate = value;
                }
                else if (arg == "--block")
                {
                    if (value != std::floor (value) || value < 1.0 || value > 8192.0)
                    {
                        fail ("--block must be a whole number from 1 to 8192");
                        return false;
                    }

                    result.block = (int) value;
                }
                else
                {
                    if (value < 0.0 || value > 3600.0)
                    {
                        fail ("--tail must lie between 0 and 3600 seconds");
                        return false;
                    }

                    result.tail = value;
                }
            }
            else if (arg.startsWith ("--"))
            {
                fail ("unknown option " + arg);
                return false;
            }
            else
            {
                files.add (arg);
            }
        }

        if (files.size() != 3)
            return false;

        // Relative paths are taken from the current folder, as a shell user expects.
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        result.sound = cwd.getChildFile (files[0]);
        result.midi = cwd.getChildFile (files[1]);
        result.output = cwd.getChildFile (files[2]);
        return true;
    }

    juce::String slotName (int index)
    {
        return index < ChainProcessor::numLayers ? "SYNTH " + juce::String (index + 1)
                                                 : "FX " + juce::String (index - ChainProcessor::numLayers + 1);
    }

    bool anyLoading (ChainProcessor& rack)
    {
        const juce::ScopedLock sl (rack.lock);

        for (const auto& slot : rack.slots)
            if (slot.loading)
                return true;

        return false;
    }

    /** Opens the sound the way the application does and waits for its
        plug-ins; reports each stored plug-in that is not playing. */
    void openSound (ChainProcessor& rack, const juce::MemoryBlock& bytes)
    {
        rack.setStateInformation (bytes.getData(), (int) bytes.getSize());

        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) loadTimeoutMs;

        while (anyLoading (rack) && juce::Time::getMillisecondCounter() < end)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);

        // JUCE-built VST3 plug-ins tell the host about latency changes from
        // their own message queue; let that arrive before the render reads it.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

        const juce::ScopedLock sl (rack.lock);

        for (int i = 0; i < ChainProcessor::numSlots; ++i)
        {
            const auto& slot = rack.slots[(size_t) i];

            if (slot.hosted != nullptr || slot.description.fileOrIdentifier.isEmpty())
                continue;

            const auto why = slot.loading ? juce::String ("did not finish loading")
                                          : (slot.message.isNotEmpty() ? slot.message : juce::String ("not loaded"));
            fail (slotName (i) + " (" + slot.description.name + "): " + why + "; rendering without it");
        }
    }

    /** A progress bar on a terminal; nothing when standard error is a file or a pipe. */
    class Progress
    {
    public:
        Progress() : shown (::isatty (STDERR_FILENO) == 1) {}

        void update (double fraction)
        {
            if (! shown)
                return;

            const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));

            if (percent == lastPercent)
                return;

            lastPercent = percent;
            constexpr int width = 40;
            const int filled = percent * width / 100;
            const auto bar = juce::String::repeatedString ("#", filled) + juce::String::repeatedString (" ", width - filled);
            std::fprintf (stderr, "\rRendering [%s] %3d%%", bar.toRawUTF8(), percent);
            std::fflush (stderr);
        }

        void finish()
        {
            if (shown && lastPercent >= 0)
                std::fputs ("\n", stderr);
        }

    private:
        const bool shown;
        int lastPercent = -1;
    };

    juce::String decibels (float peak)
    {
        return peak > 0.0f ? juce::String (juce::Decibels::gainToDecibels (peak, -1000.0f), 1) : juce::String ("-inf");
    }

    int run (const Arguments& args)
    {
        if (! args.sound.existsAsFile())
        {
            fail ("cannot open sound " + args.sound.getFullPathName() + ": no such file");
            return 1;
        }

        if (! RackLibrary::valid (args.sound))
        {
            fail (args.sound.getFullPathName() + " is not a valid sound");
            return 1;
        }

        juce::MemoryBlock soundBytes;

        if (! args.sound.loadFileAsData (soundBytes))
        {
            fail ("cannot read sound " + args.sound.getFullPathName());
            return 1;
        }

        juce::MidiMessageSequence events;
        double bpm = 120.0;

        if (! OfflineRenderer::readMidiFile (args.midi, events, bpm))
        {
            fail ("cannot read MIDI file " + args.midi.getFullPathName());
            return 1;
        }

        if (args.output.isDirectory())
        {
            fail ("cannot write " + args.output.getFullPathName() + ": it is a folder");
            return 1;
        }

        // The WAV grows beside the target and replaces it only when complete;
        // the temporary file is deleted on every other way out.
        juce::TemporaryFile temporary (args.output, juce::TemporaryFile::useHiddenFile);
        auto stream = std::make_unique<juce::FileOutputStream> (temporary.getFile());

        if (! stream->openedOk())
        {
            fail ("cannot write " + args.output.getFullPathName() + ": " + stream->getStatus().getErrorMessage());
            return 1;
        }

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), args.rate, 2, 24, {}, 0));

        if (writer == nullptr)
        {
            fail ("cannot write " + args.output.getFullPathName());
            return 1;
        }

        stream.release(); // the writer owns it now

        ChainProcessor rack;
        openSound (rack, soundBytes);

        bool writtenOk = true;
        float peak = 0.0f;
        juce::int64 totalSamples = 0;
        const auto started = juce::Time::getMillisecondCounterHiRes();

        {
            OfflineRenderer renderer (rack, events, args.rate, args.block, args.tail);
            renderer.bpm = bpm;
            totalSamples = renderer.getTotalSamples();

            juce::AudioBuffer<float> block (2, args.block);
            Progress progress;

            while (const int count = renderer.renderNext (block))
            {
                peak = juce::jmax (peak, block.getMagnitude (0, count));

                if (! writer->writeFromAudioSampleBuffer (block, 0, count))
                {
                    writtenOk = false;
                    break;
                }

                progress.update ((double) renderer.getSamplesRendered() / (double) juce::jmax ((juce::int64) 1, totalSamples));
            }

            progress.finish();
        }

        // A VST3 plug-in may still post to its host from preparing or
        // releasing; that must arrive while the plug-in exists.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (30);

        const auto seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;

        // The header gets its final sizes when the writer closes the file.
        writer.reset();

        // A full disk shows only now: the file must hold every frame.
        if (writtenOk)
        {
            std::unique_ptr<juce::AudioFormatReader> check (wav.createReaderFor (new juce::FileInputStream (temporary.getFile()), true));
            writtenOk = check != nullptr && check->lengthInSamples == totalSamples;
        }

        if (! writtenOk || ! temporary.overwriteTargetFileWithTemporary())
        {
            fail ("cannot write " + args.output.getFullPathName());
            return 1;
        }

        const auto duration = (double) totalSamples / args.rate;
        const auto speed = seconds > 0.0 ? duration / seconds : 0.0;
        std::printf ("Rendered %.3f s in %.3f s (%.1fx real time), peak %s dBFS: %s\n",
                     duration, seconds, speed, decibels (peak).toRawUTF8(),
                     args.output.getFullPathName().toRawUTF8());
        return 0;
    }
}

int main (int argc, char* argv[])
{
    juce::StringArray argList;

    for (int i = 1; i < argc; ++i)
        argList.add (juce::String::fromUTF8 (argv[i]));

    Arguments args;

    if (! parseArguments (argList, args))
    {
        std::fputs (usage, stderr);
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    return run (args);
}
