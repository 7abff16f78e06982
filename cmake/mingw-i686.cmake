# Cross toolchain for the 32-bit Windows stub, the product itself.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
set(wine_loader wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
