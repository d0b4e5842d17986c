// One libFuzzer program per target; FUZZ_TARGET names the target and the
// program the build gives it. The fuzzed code runs on JUCE's message thread.

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    static juce::ScopedJuceInitialiser_GUI juce;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    for (const auto& target : fuzz::targets())
        if (juce::String (target.name) == FUZZ_TARGET)
            target.run (data, size);

    return 0;
}
