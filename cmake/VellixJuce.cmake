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

# JUCE 7.0.5's LV2 host cuts a plug-in's URI at its '#' before it reaches the
# plug-in's interface, then calls into an interface that refused to start:
# opening an x42 editor took the whole application down. Its VST3 host kept a
# pointer to a deleted instance for a restart the plug-in had queued, so
# clearing a plug-in right after loading it could crash the next message-loop
# pump. The module's main source is compiled from a copy in the build tree
# with cmake/patches/juce-lv2-ui-hosting.patch and
# cmake/patches/juce-vst3-host-lifetime.patch applied, in that order; the
# installed sources stay untouched. Only juce_audio_processors.cpp is
# redirected, and only the .cpp part of the module changes, so every other
# unit may keep including the installed headers.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND TARGET juce_audio_processors)
    set(VELLIX_JUCE_PATCHES
        ${CMAKE_CURRENT_LIST_DIR}/patches/juce-lv2-ui-hosting.patch
        ${CMAKE_CURRENT_LIST_DIR}/patches/juce-vst3-host-lifetime.patch)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELLIX_JUCE_PATCHES})

    get_target_property(vellix_modules_dir juce_audio_processors INTERFACE_JUCE_MODULE_PATH)
    set(vellix_original_module ${vellix_modules_dir}/juce_audio_processors)
    set(vellix_patched_root ${PROJECT_BINARY_DIR}/juce-patched)
    set(vellix_patched_module ${vellix_patched_root}/juce_audio_processors)

    # Any changed, added or removed patch re-copies the module.
    set(vellix_patch_stamp "${vellix_original_module} ${JUCE_VERSION}")
    foreach(vellix_patch IN LISTS VELLIX_JUCE_PATCHES)
        file(MD5 ${vellix_patch} vellix_patch_hash)
        string(APPEND vellix_patch_stamp " ${vellix_patch_hash}")
    endforeach()
    set(vellix_old_stamp "")
    if(EXISTS ${vellix_patched_root}/stamp)
        file(READ ${vellix_patched_root}/stamp vellix_old_stamp)
    endif()

    if(NOT vellix_old_stamp STREQUAL vellix_patch_stamp)
        find_program(VELLIX_PATCH_PROGRAM patch REQUIRED)
        file(REMOVE_RECURSE ${vellix_patched_root})
        file(COPY ${vellix_original_module} DESTINATION ${vellix_patched_root})
        foreach(vellix_patch IN LISTS VELLIX_JUCE_PATCHES)
            execute_process(
                COMMAND ${VELLIX_PATCH_PROGRAM} --binary --forward --batch -p1
                        -d ${vellix_patched_module} -i ${vellix_patch}
                RESULT_VARIABLE vellix_patch_result
                OUTPUT_VARIABLE vellix_patch_output
                ERROR_VARIABLE vellix_patch_output)
            if(NOT vellix_patch_result EQUAL 0)
                file(REMOVE_RECURSE ${vellix_patched_root})
                message(FATAL_ERROR "${vellix_patch} does not apply to ${vellix_original_module}:\n${vellix_patch_output}")
            endif()
        endforeach()
        file(WRITE ${vellix_patched_root}/stamp "${vellix_patch_stamp}")
    endif()

    get_target_property(vellix_processor_sources juce_audio_processors INTERFACE_SOURCES)
    list(TRANSFORM vellix_processor_sources
        REPLACE "^${vellix_original_module}/juce_audio_processors\\.cpp$"
                "${vellix_patched_module}/juce_audio_processors.cpp")
    set_property(TARGET juce_audio_processors PROPERTY INTERFACE_SOURCES ${vellix_processor_sources})
endif()
