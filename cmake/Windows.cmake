# Cross tree: the stub for 32-bit Windows, Unicode, GUI subsystem, static runtime.
enable_language(RC)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_compile_options(-municode)
# Each function and object in a section of its own, so that the stub's link keeps only the code it
# reaches: the libraries it links serve the tests and the packing tool as well.
add_compile_options(-ffunction-sections -fdata-sections)
# No link time in the PE header: the same sources give the same bytes.
add_link_options(-municode -Wl,--no-insert-timestamp)

# Everything of the stub but its entry point and resources, so the tests can link it.
add_library(stubcore STATIC
    app/Dispose.cpp
    app/InheritedOutput.cpp
    app/InstallerTemp.cpp
    app/InstallerJob.cpp
    app/InstanceMutex.cpp
    app/Launch.cpp
    app/RunEndLog.cpp
    app/RunFailure.cpp
    app/LaunchBookkeeping.cpp
    app/MainSequence.cpp
    app/PreloadLibraries.cpp
    framework/Application.cpp
    util/File.cpp
    package/UnPackFiles.cpp
    package/HashThread.cpp
    package/ImageSettings.cpp
    package/UnPack.cpp
    package/EarlierRuns.cpp
    package/FolderDescriptor.cpp
    package/ExtractionFolder.cpp
    package/ExtractionRoot.cpp
    registry/DeploymentCode.cpp
    registry/FileAssociation.cpp
    registry/ProductKey.cpp
    registry/Registry.cpp
    util/Deletion.cpp
    util/FilesAt.cpp
    util/ImpersonateUser.cpp
    util/Log.cpp
    util/OsVersion.cpp
    util/Paths.cpp
    util/ProductMessage.cpp
    util/Processes.cpp
    util/RestartDeletion.cpp
    util/SameFile.cpp
    util/SystemCalls.cpp
    util/TempDirectory.cpp
    util/Time.cpp
    util/UserToken.cpp
    util/MachineEnvironment.cpp
    util/ProcessUser.cpp
)
# wtsapi32 is not linked: WTSQueryUserToken is bound at its first call (util/SystemCalls.cpp).
target_link_libraries(stubcore PUBLIC portable shell32 advapi32 user32)
# res/Version.h, written below: the run's closing line names the version.
target_include_directories(stubcore PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
unpack_warnings(stubcore)
# The stub's own code throws nothing and catches nothing: what the runtime would throw ends the run
# (app/RunFailure.h), so it carries no unwind tables or landing pads. Function-local statics need
# no lock: the stub's threads never run its logic at the same time (the main thread waits for the
# worker, and the hash thread only hashes), and the lock would bring the thread library in.
set(UNPACK_STUB_CODE_OPTIONS -fno-exceptions -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics)
target_compile_options(stubcore PRIVATE ${UNPACK_STUB_CODE_OPTIONS})
# Windows' headers cost most of each file's compile; parsed once, they give the same image.
target_precompile_headers(stubcore PRIVATE <windows.h> <string> <vector>)

# The string table, the manifest and the version resource; the tests link them too, for the
# message texts. The version is the project's, which `stubpack --version` reports too.
configure_file(res/Version.h.in ${CMAKE_CURRENT_BINARY_DIR}/generated/res/Version.h @ONLY)
add_library(stubresources OBJECT res/UnPackFile.rc)
target_include_directories(stubresources PRIVATE
    ${CMAKE_SOURCE_DIR}/res ${CMAKE_CURRENT_BINARY_DIR}/generated/res)
set_source_files_properties(res/UnPackFile.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_CURRENT_BINARY_DIR}/generated/res/Version.h;${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_SOURCE_DIR}/res/UnPackFile.manifest")

# The stub itself. -s leaves nothing after the image but what is appended to it later. The map
# beside it tells what makes up the image (bench/image_map.py sums it).
add_executable(UnPackFile WIN32
    app/Main.cpp
    app/UnPackFileApp.cpp
    framework/RuntimeHooks.cpp
    framework/WinMain.cpp
)
target_link_libraries(UnPackFile PRIVATE stubcore stubresources)
target_compile_options(UnPackFile PRIVATE ${UNPACK_STUB_CODE_OPTIONS})
target_link_options(UnPackFile PRIVATE -s -mwindows -Wl,--gc-sections
                   -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/UnPackFile.map)
unpack_warnings(UnPackFile)

# stubpack.exe, the packing tool for Windows build machines: a console program, static like the
# stub, so it needs nothing but system DLLs either.
add_subdirectory(packer)

if(NOT UNPACK_TESTS)
    return()
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests/win)
add_subdirectory(tests/release)

set(UNPACK_NATIVE_BUILD "${CMAKE_SOURCE_DIR}/build/native" CACHE PATH
    "The native tree, which holds the packing tool the end-to-end scenarios use")
add_subdirectory(tests/e2e)
# The benchmark's programs, built by `cmake --build TREE --target bench_programs` (scripts/build).
add_subdirectory(bench EXCLUDE_FROM_ALL)
