# Cross tree: the stub for 32-bit Windows, Unicode, GUI subsystem, static runtime.
enable_language(RC)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_compile_options(-municode)
add_link_options(-municode)

# Everything of the stub but its entry point and resources, so the tests can link it.
add_library(stubcore STATIC
    framework/Application.cpp
    framework/File.cpp
    package/UnpackDir.cpp
    util/Deletion.cpp
    util/Log.cpp
    util/Paths.cpp
    util/SystemCalls.cpp
    util/Time.cpp
)
target_link_libraries(stubcore PUBLIC portable shell32)
unpack_warnings(stubcore)

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests/win)
