# The 64-bit Windows DLL (preset mingw64): x86_64-w64-mingw32, run under Wine's 64-bit loader
# itself (the bare `wine` wrapper would look for the i386 loader first on some machines).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QX_MINGW_PREFIX x86_64-w64-mingw32)
set(QX_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
