# Native (Linux) tree: portable code under sanitizers, with its unit tests.
if(UNPACK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL)

add_subdirectory(packer)
add_subdirectory(tests/support)
add_subdirectory(tests/packer)
add_subdirectory(tests/unit)
