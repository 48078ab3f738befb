# JUCE's modules are compiled once, into one static library that every
# target of ours links.
add_library(juce_modules STATIC)
target_link_libraries(juce_modules
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
        juce::juce_gui_extra
        juce::juce_audio_basics
        juce::juce_audio_devices
    PUBLIC
        juce::juce_recommended_config_flags)
if(NOT APPLE)
    target_link_libraries(juce_modules PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()
target_compile_definitions(juce_modules PUBLIC
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_ALSA=0
    JUCE_JACK=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_STANDALONE_APPLICATION=1)
target_compile_definitions(juce_modules INTERFACE
    $<TARGET_PROPERTY:juce_modules,COMPILE_DEFINITIONS>)
target_include_directories(juce_modules SYSTEM INTERFACE
    $<TARGET_PROPERTY:juce_modules,INCLUDE_DIRECTORIES>)
