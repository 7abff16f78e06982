# Initial cache of the Linux release tree (cmake -C): the packing tool alone, optimized, without
# sanitizers, with the C++ runtime linked in so that it runs on other distributions too.
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
set(UNPACK_SANITIZE OFF CACHE BOOL "")
set(UNPACK_TESTS OFF CACHE BOOL "")
set(CMAKE_EXE_LINKER_FLAGS "-static-libstdc++ -static-libgcc" CACHE STRING "")
