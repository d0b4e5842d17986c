// One JUCE GUI initialiser for the whole run; tests that need the message
// loop pump it themselves (runDispatchLoopUntil).

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "hosting/PluginTrust.h"

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;

    // Bundles a test chooses from a file are recorded here, not in the user's home.
    const juce::TemporaryFile approvals (".txt");
    PluginTrust::setApprovalsFile (approvals.getFile());

    return RUN_ALL_TESTS();
}
