# The 32-bit Windows DLL (preset mingw): i686-w64-mingw32, run under Wine's i386 loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QX_MINGW_PREFIX i686-w64-mingw32)
set(QX_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
