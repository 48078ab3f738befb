# The real sigslot library where it is installed; elsewhere our own
# compatible header for the part of its interface that we use.
find_package(PalSigslot CONFIG QUIET)
add_library(quor_sigslot INTERFACE)
if(PalSigslot_FOUND)
    target_link_libraries(quor_sigslot INTERFACE Pal::Sigslot)
else()
    target_include_directories(quor_sigslot SYSTEM INTERFACE
        ${PROJECT_SOURCE_DIR}/platform/sigslot/include)
endif()
