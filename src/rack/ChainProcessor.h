#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

/** The rack: four synth layers played in parallel by the same MIDI, then two
    effects in series, then a master level.

    Slots 0-3 are the synth layers, 4 and 5 the effects. Every read and write of
    the slots, the sound name and the hosted plug-ins' buffers and delay lines
    happens under `lock`. The audio thread only ever tries that lock.

    Lock order: a pending load's gate lock, then `lock`, then a hosted
    plug-in's play-head lock.
*/
class ChainProcessor : public juce::AudioProcessor,
                       public juce::Timer
{
public:
    class Hosted;

    static constexpr int numSlots = 6;
    static constexpr int numLayers = 4;

    /** One rack slot. Moved, never copied. Every field is guarded by `lock`. */
    struct Slot
    {
        Slot() = default;
        Slot (Slot&&) = default;
        Slot& operator= (Slot&&) = default;
        Slot (const Slot&) = delete;
        Slot& operator= (const Slot&) = delete;

        std::shared_ptr<Hosted> hosted;
        juce::PluginDescription description;
        juce::MemoryBlock state;
        juce::MemoryBlock preview;
        bool showEditor = false;
        juce::String message;
        int generation = 0;
        bool loading = false;
    };

    /** Shared with pending asynchronous work, so that it can tell whether the
        processor still exists. `owner` becomes null when destruction begins. */
    struct Gate
    {
        juce::CriticalSection lock;
        ChainProcessor* owner = nullptr;
    };

    ChainProcessor();
    ~ChainProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    //==============================================================================
    // Parameters
    static juce::AudioProcessorValueTreeState::ParameterLayout layout();

    /** A layer's gain before panning: 0 when bypassed, muted or soloed out. */
    float level (int layer, bool anySoloed) const;

    /** Whether any synth layer is soloed. */
    bool anySolo() const;

    /** Linear balance: left = g (1 - p) for p > 0, right = g (1 + p) for p < 0. */
    static float panLeft (float gain, float pan) noexcept;
    static float panRight (float gain, float pan) noexcept;

    //==============================================================================
    // Latency compensation; the caller holds `lock`.
    void refreshLatency();

    //==============================================================================
    // Loading (message thread)
    void load (int slot, juce::PluginDescription description, juce::MemoryBlock state,
               bool showEditor, juce::MemoryBlock preview);
    void clear (int slot);
    void setPreview (int slot, const std::shared_ptr<Hosted>& expected, const juce::Image& image);

    //==============================================================================
    // Catalogue of the plug-ins the picker offers.
    std::vector<juce::PluginDescription> audioUnitCatalogue (const juce::File& folder, bool instruments);

    //==============================================================================
    // Data members, in this order; the rest of the rack uses these names.
    juce::MidiKeyboardState keyboardState;
    juce::MidiBuffer blockMidi;
    juce::MidiBuffer layerMidi;
    juce::MidiBuffer effectMidi;
    std::array<int, 16> pitchWheel;
    std::array<juce::LinearSmoothedValue<float>, numLayers> gainLeft;
    std::array<juce::LinearSmoothedValue<float>, numLayers> gainRight;
    juce::LinearSmoothedValue<float> masterGain;
    std::atomic<bool> panicRequest { false };
    juce::CriticalSection lock;
    std::array<Slot, numSlots> slots;
    juce::AudioPluginFormatManager formatManager;
    juce::AudioProcessorValueTreeState parameters;
    std::array<std::atomic<float>*, numSlots> bypassValues {};
    juce::String name { "Init sound" };
    std::atomic<double> sampleRate { 44100.0 };
    int blockSize = 512;
    bool prepared = false;
    std::atomic<float> viewScale { 0.6f };
    std::shared_ptr<Gate> gate;

    /** Follows latency changes of the hosted plug-ins, ten times a second. */
    void timerCallback() override;

private:

    void finishLoad (int slot, int ticket, std::unique_ptr<juce::AudioPluginInstance> instance,
                     const juce::MemoryBlock& state, const juce::String& error,
                     bool showEditor, const juce::MemoryBlock& preview);

    void applyState (const juce::XmlElement& document);

    /** The mixer parameters' values, looked up once: the render reads them
        every block, and a lookup by ID compares strings. */
    std::array<std::atomic<float>*, numLayers> volumeValues {}, panValues {}, muteValues {}, soloValues {};
    std::atomic<float>* masterValue = nullptr;

    /** Raw value of a parameter looked up by ID; 0 when the ID is unknown. */
    float rawValue (const juce::String& parameterID) const;

    /** Writes the gain targets of every layer and of the master from the
        current parameter values. */
    void updateGainTargets();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChainProcessor)
};
