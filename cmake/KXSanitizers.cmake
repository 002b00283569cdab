# Sanitizer and fuzzing builds. The flags go on everything compiled in this tree, JUCE
# included, so that its containers, threads and locks are seen by the sanitizer as well.
set(KX_SANITIZE "" CACHE STRING "Sanitizers for the whole tree, e.g. address;undefined or thread")
option(KX_BUILD_FUZZERS "Build the libFuzzer targets (clang only)" OFF)

if(KX_SANITIZE)
    list(JOIN KX_SANITIZE "," kx_sanitizers)
    add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=${kx_sanitizers};-fno-omit-frame-pointer;-fno-sanitize-recover=all>")
    add_link_options(-fsanitize=${kx_sanitizers})
endif()

if(KX_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "The fuzz targets need clang's libFuzzer (configure with CXX=clang++)")
    endif()
    # Coverage feedback for the fuzzer from all code of the tree; only the fuzz targets link
    # libFuzzer's main.
    add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=fuzzer-no-link>")
endif()
