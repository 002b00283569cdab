# Warnings for our own code only; JUCE's headers come in as system headers.
function(kx_enable_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wconversion-null
                                                 -Wno-missing-field-initializers)
        if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
            # GCC 12 mistakes JUCE's ListenerList iterator bookkeeping for a dangling pointer.
            target_compile_options(${target} PRIVATE -Wno-dangling-pointer)
        endif()
        if(KX_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4)
    endif()
endfunction()
