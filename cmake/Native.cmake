# Native (Linux) tree: portable code under sanitizers, with its unit tests.
if(UNPACK_SANITIZE)
    set(sanitizer_options -fsanitize=address,undefined -fno-omit-frame-pointer
                          -fno-sanitize-recover=undefined)
    add_compile_options(${sanitizer_options})
    add_link_options(-fsanitize=address,undefined)
    # The directory options reach only targets made after this point; the portable library,
    # which the tests are chiefly about, was made before.
    target_compile_options(portable PRIVATE ${sanitizer_options})
endif()

if(UNPACK_FUZZ)
    include(cmake/Fuzz.cmake)
elseif(NOT UNPACK_TESTS)
    add_subdirectory(packer)
else()
    # Debian's prebuilt GoogleTest (libgtest-dev), under the names the cross trees build it as.
    find_package(GTest 1.12 REQUIRED)
    add_library(gtest ALIAS GTest::gtest)
    add_library(gtest_main ALIAS GTest::gtest_main)

    add_subdirectory(packer)
    add_subdirectory(tests/support)
    add_subdirectory(tests/packer)
    add_subdirectory(tests/setup)
    add_subdirectory(tests/unit)

    # The package hash's speed, beside the Windows figure (bench/CMakeLists.txt): built on request
    # only, and worth reading only from a tree without sanitizers (-DUNPACK_SANITIZE=OFF).
    add_executable(sha256speed EXCLUDE_FROM_ALL bench/programs/sha256speed.cpp)
    target_link_libraries(sha256speed PRIVATE portable)
    unpack_warnings(sha256speed)
    # The LZMA codec's speed and ratio on the files given, likewise on request.
    add_executable(lzmaspeed EXCLUDE_FROM_ALL bench/programs/lzmaspeed.cpp)
    target_link_libraries(lzmaspeed PRIVATE packer_core)
    unpack_warnings(lzmaspeed)
endif()
