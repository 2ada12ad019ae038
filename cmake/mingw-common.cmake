# What the two Windows toolchains (mingw-i686.cmake, mingw-x86_64.cmake) share. The including
# file sets CMAKE_SYSTEM_PROCESSOR, QX_MINGW_PREFIX (the mingw-w64 target triple) and
# QX_WINE_LOADER (the Wine loader that runs programs of that bitness) first.
#
# Cross-building the Windows DLL on Debian with mingw-w64 (packages g++-mingw-w64-<arch> and
# mingw-w64-<arch>-dev). The posix-threads variant of the compiler is used because the library
# and the tests rely on std::mutex and std::thread. The compiler's own runtime (libgcc,
# libstdc++, winpthread) is linked statically, so the DLL and the test programs need nothing
# beside the system DLLs of Windows.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${QX_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QX_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 APIs at most; no min/max macros from windows.h.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DNOMINMAX")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DNOMINMAX")

# No runtime DLLs of the compiler: -static pulls in winpthread's static archive as well.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The objdump that reads this target's PE files (tests/windows: the export and import tables).
set(QX_MINGW_OBJDUMP_NAME ${QX_MINGW_PREFIX}-objdump)

# Tests run the built programs under Wine (scripts/test-windows prepares a prefix per bitness
# and names the loader with -DCMAKE_CROSSCOMPILING_EMULATOR=..., which wins over this default).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  if(EXISTS ${QX_WINE_LOADER})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_WINE_LOADER})
  endif()
endif()
