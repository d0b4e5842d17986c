#include <juce_gui_basics/juce_gui_basics.h>

juce::JUCEApplicationBase* juce_CreateApplication();

JUCE_MAIN_FUNCTION_DEFINITION
