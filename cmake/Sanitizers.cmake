# Sanitizers apply to every translation unit, JUCE's modules included:
# ThreadSanitizer on an uninstrumented JUCE reports races that are not there.
if(QUOR_SANITIZE)
    set(_quor_sanitize_flags -fsanitize=${QUOR_SANITIZE} -fno-omit-frame-pointer -g)
    if(QUOR_SANITIZE MATCHES "undefined")
        list(APPEND _quor_sanitize_flags -fno-sanitize=vptr)
    endif()
    add_compile_options(${_quor_sanitize_flags})
    add_link_options(-fsanitize=${QUOR_SANITIZE})
endif()
