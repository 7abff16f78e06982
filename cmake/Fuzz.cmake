# Fuzz tree (native, clang): the package readers under libFuzzer, with the packing tool to make
# the seed corpus. Configure it apart from the test tree:
#   CC=clang CXX=clang++ cmake -S . -B build/fuzz -DUNPACK_FUZZ=ON
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "UNPACK_FUZZ needs clang's libFuzzer: configure with CC=clang CXX=clang++")
endif()

# Coverage feedback for every library the fuzzer reaches; only the fuzzer itself links libFuzzer.
set(fuzz_coverage -fsanitize=fuzzer-no-link)
add_compile_options(${fuzz_coverage})
target_compile_options(portable PRIVATE ${fuzz_coverage})

add_subdirectory(packer)
add_subdirectory(tests/fuzz)
