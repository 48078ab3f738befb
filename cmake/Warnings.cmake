# Warnings for our own targets only; JUCE and the platform stand-in headers
# come in as system headers and stay quiet.
function(quor_enable_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
    if(QUOR_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
