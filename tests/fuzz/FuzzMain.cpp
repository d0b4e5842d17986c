// One libFuzzer program per target; FUZZ_TARGET names the target and the
// program the build gives it. The fuzzed code runs on JUCE's message thread.

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Never shut down: JUCE's list of objects to delete at shutdown is a
    // static made after this one, so at exit it would already be gone when
    // the shutdown walked it. The rack of the rack_state target lives on too.
    static auto* juce = new juce::ScopedJuceInitialiser_GUI();
    juce::ignoreUnused (juce);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    for (const auto& target : fuzz::targets())
        if (juce::String (target.name) == FUZZ_TARGET)
            target.run (data, size);

    return 0;
}
