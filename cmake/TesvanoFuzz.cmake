# Settings of the fuzzing build: every object carries libFuzzer's coverage instrumentation and
# the address and undefined-behaviour sanitizers, so a fault anywhere below a fuzz target stops
# the run. Only clang offers libFuzzer; the normal builds never include this file.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR CMAKE_CXX_COMPILER_VERSION VERSION_LESS 16)
    message(FATAL_ERROR
        "TESVANO_FUZZ needs clang 16 or later (found ${CMAKE_CXX_COMPILER_ID} "
        "${CMAKE_CXX_COMPILER_VERSION}); scripts/fuzz picks one")
endif()

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)

if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 19)
    # libstdc++ offers std::expected only to compilers that announce C++20 concepts in full.
    # Clang 16 to 18 implement what it relies on (conditionally trivial special members) but
    # announce an older level; clang 14 and 15 do not implement it.
    add_compile_options(-D__cpp_concepts=202002L -Wno-macro-redefined)
endif()
