#include "app/SynthStandaloneApp.h"
#include "app/SessionRecovery.h"

SynthStandaloneApp::SynthStandaloneApp()
{
    properties.setStorageParameters (settingsOptions());
}

SynthStandaloneApp::~SynthStandaloneApp() = default;

juce::PropertiesFile::Options SynthStandaloneApp::settingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "VELLIX";
    options.filenameSuffix = ".settings";
    options.osxLibrarySubFolder = "Application Support";
    options.folderName = {};
    return options;
}

juce::File SynthStandaloneApp::soundsFolder()
{
    return juce::File::getSpecialLocation (juce::File::userDocumentsDirectory).getChildFile ("VELLIX/Sounds");
}

const juce::String SynthStandaloneApp::getApplicationName()    { return "VELLIX"; }
const juce::String SynthStandaloneApp::getApplicationVersion() { return "0.2.2"; }
bool SynthStandaloneApp::moreThanOneInstanceAllowed()          { return false; }

void SynthStandaloneApp::initialise (const juce::String&)
{
    auto* settings = properties.getUserSettings();

    // Every write of the settings goes through this one, whole or not at all.
    settingsSaver = std::make_unique<SettingsSaver> (*settings, settingsOptions());

    preserveRackBeforeEmptyStartup (*settings, soundsFolder());

    // The removal of "filterState" reaches the disk before any plug-in exists.
    settingsSaver->saveIfNeeded();

    window = std::make_unique<SynthStandaloneWindow> (settings);
}

void SynthStandaloneApp::shutdown()
{
    window = nullptr;

    if (settingsSaver != nullptr)
        settingsSaver->saveIfNeeded();
}

void SynthStandaloneApp::systemRequestedQuit()
{
    if (window != nullptr)
        window->savePluginState();

    if (juce::ModalComponentManager::getInstance()->cancelAllModalComponents())
    {
        // Dismissed dialogs finish on the message loop; try again shortly.
        juce::Timer::callAfterDelay (100, []
        {
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
        });
        return;
    }

    quit();
}

juce::JUCEApplicationBase* juce_CreateApplication();
juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new SynthStandaloneApp();
}
