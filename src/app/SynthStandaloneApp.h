#pragma once

#include "app/SettingsSaver.h"
#include "app/SynthStandaloneWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_data_structures/juce_data_structures.h>

/** The application object: settings, session recovery, the main window and
    the quit sequence. */
class SynthStandaloneApp : public juce::JUCEApplication
{
public:
    SynthStandaloneApp();
    ~SynthStandaloneApp() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void systemRequestedQuit() override;

    /** The options of the settings file, VELLIX.settings. */
    static juce::PropertiesFile::Options settingsOptions();

    /** Documents/VELLIX/Sounds in the user's home folder. */
    static juce::File soundsFolder();

private:
    juce::ApplicationProperties properties;
    std::unique_ptr<SettingsSaver> settingsSaver;
    std::unique_ptr<SynthStandaloneWindow> window;

    JUCE_DECLARE_NON_COPYABLE (SynthStandaloneApp)
};
