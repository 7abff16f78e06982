# Cross toolchain for a 64-bit build of the same sources. It is never shipped: it exists so the
# Windows tests can run under Wine on a Linux host that cannot execute 32-bit x86 code at all
# (Wine's 32-bit loader is itself a 32-bit Linux program). The 64-bit loader is named directly,
# since the `wine` wrapper prefers the 32-bit one whenever it is installed.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(wine_loader /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
