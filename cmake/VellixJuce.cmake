# JUCE's modules are INTERFACE targets that add their sources to whoever links
# them. To compile them exactly once, they are linked PRIVATE into one static
# library (vellix_core), and that library re-exports the include paths and
# definitions the modules would otherwise have propagated.

set(VELLIX_JUCE_MODULES
    juce::juce_core
    juce::juce_events
    juce::juce_data_structures
    juce::juce_graphics
    juce::juce_gui_basics
    juce::juce_gui_extra
    juce::juce_audio_basics
    juce::juce_audio_devices
    juce::juce_audio_formats
    juce::juce_audio_processors
    juce::juce_audio_utils)

set(VELLIX_JUCE_DEFINITIONS
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    JUCE_PLUGINHOST_VST3=1
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_USE_MP3AUDIOFORMAT=0
    JUCE_USE_LAME_AUDIO_FORMAT=0
    JUCE_USE_WINDOWS_MEDIA_FORMAT=0
    JUCE_APPLICATION_NAME_STRING="VELLIX"
    JUCE_APPLICATION_VERSION_STRING="0.2.2")

if(APPLE)
    list(APPEND VELLIX_JUCE_DEFINITIONS JUCE_PLUGINHOST_AU=1)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND VELLIX_JUCE_DEFINITIONS JUCE_PLUGINHOST_LV2=1 JUCE_ALSA=1 JUCE_JACK=1)
endif()
