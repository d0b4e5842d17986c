#pragma once

// What the vellix-render tests share: running the built tool as a child
// process, sound files made from racks built in this process, MIDI files
// written note by note, and reading back the WAV the tool wrote.

#include "LoadingTestSupport.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <vector>

namespace offline
{
    /** A fresh folder for one test, removed afterwards. */
    struct Scratch
    {
        Scratch()  { folder.createDirectory(); }
        ~Scratch() { folder.deleteRecursively(); }

        juce::File file (const juce::String& name) const { return folder.getChildFile (name); }

        const juce::File folder { juce::File::getSpecialLocation (juce::File::tempDirectory)
                                      .getNonexistentChildFile ("vellix-render-test", "", false) };
    };

    inline juce::File renderTool()
    {
       #ifdef VELLIX_RENDER_PATH
        return juce::File (VELLIX_RENDER_PATH);
       #else
        return {};
       #endif
    }

    struct RunResult
    {
        int exitCode = -1;
        juce::String output; // standard output and standard error together
    };

    /** Runs vellix-render with the given arguments. `home` becomes HOME, so
        that the tool reads its plug-in approvals from there, as the
        application would from the user's home folder. */
    inline RunResult runRender (const juce::StringArray& arguments, const juce::File& home)
    {
        juce::StringArray command { "/usr/bin/env", "HOME=" + home.getFullPathName(), renderTool().getFullPathName() };
        command.addArray (arguments);

        juce::ChildProcess child;
        RunResult result;

        if (! child.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        {
            ADD_FAILURE() << "cannot start " << renderTool().getFullPathName();
            return result;
        }

        result.output = child.readAllProcessOutput();

        if (! child.waitForProcessToFinish (120000))
        {
            child.kill();
            ADD_FAILURE() << "vellix-render did not finish";
            return result;
        }

        result.exitCode = (int) child.getExitCode();
        return result;
    }

    /** One plug-in of a sound: the slot and the plug-in's own state. */
    struct SlotContent
    {
        int slot;
        juce::PluginDescription description;
        juce::MemoryBlock state;
    };

    /** Builds a rack holding the given plug-ins and writes its state to `file`,
        as saving a sound does. */
    inline void writeSound (const juce::File& file, const std::vector<SlotContent>& contents)
    {
        ChainProcessor rack;

        for (const auto& content : contents)
            rack.load (content.slot, content.description, content.state, false, {});

        ASSERT_TRUE (loading::settle (rack));

        for (const auto& content : contents)
            ASSERT_NE (loading::viewSlot (rack, content.slot).hosted, nullptr)
                << content.description.name << " did not load: " << loading::viewSlot (rack, content.slot).message;

        juce::MemoryBlock bytes;
        rack.getStateInformation (bytes);
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
    }

    struct Note
    {
        int track;
        double start, end; // seconds
        int key;
        float velocity;
    };

    /** A MIDI file at 120 beats a minute (960 ticks a quarter note, so 1920
        ticks a second), a track per distinct track number. */
    inline void writeMidi (const juce::File& file, const std::vector<Note>& notes)
    {
        int numTracks = 1;

        for (const auto& note : notes)
            numTracks = juce::jmax (numTracks, note.track + 1);

        std::vector<juce::MidiMessageSequence> tracks ((size_t) numTracks);
        tracks[0].addEvent (juce::MidiMessage::tempoMetaEvent (500000), 0.0);

        for (const auto& note : notes)
        {
            auto& track = tracks[(size_t) note.track];
            track.addEvent (juce::MidiMessage::noteOn (1, note.key, note.velocity), note.start * 1920.0);
            track.addEvent (juce::MidiMessage::noteOff (1, note.key), note.end * 1920.0);
        }

        juce::MidiFile midi;
        midi.setTicksPerQuarterNote (960);

        for (auto& track : tracks)
        {
            track.updateMatchedPairs();
            midi.addTrack (track);
        }

        file.deleteFile();
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        ASSERT_TRUE (midi.writeTo (out));
    }

    struct Wav
    {
        juce::AudioBuffer<float> audio;
        double sampleRate = 0.0;
        unsigned int bitsPerSample = 0;
    };

    inline Wav readWav (const juce::File& file)
    {
        Wav wav;
        juce::WavAudioFormat format;
        std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (new juce::FileInputStream (file), true));

        if (reader == nullptr)
        {
            ADD_FAILURE() << "not a WAV file: " << file.getFullPathName();
            return wav;
        }

        wav.sampleRate = reader->sampleRate;
        wav.bitsPerSample = reader->bitsPerSample;
        wav.audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
        reader->read (&wav.audio, 0, (int) reader->lengthInSamples, 0, true, true);
        return wav;
    }

    /** The sample ranges [start, end) in which channel 0 is not silent. */
    inline std::vector<std::pair<int, int>> soundingRanges (const juce::AudioBuffer<float>& audio)
    {
        std::vector<std::pair<int, int>> ranges;
        const auto* data = audio.getReadPointer (0);

        for (int i = 0; i < audio.getNumSamples(); ++i)
        {
            if (data[i] == 0.0f)
                continue;

            if (ranges.empty() || ranges.back().second != i)
                ranges.push_back ({ i, i + 1 });
            else
                ranges.back().second = i + 1;
        }

        return ranges;
    }

    /** Names of the files in a folder, hidden ones included. */
    inline juce::StringArray filesIn (const juce::File& folder)
    {
        juce::StringArray names;

        for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFilesAndDirectories))
            names.add (entry.getFile().getFileName());

        names.sort (false);
        return names;
    }
}
