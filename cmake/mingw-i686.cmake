# Cross-building the 32-bit Windows DLL on Debian with mingw-w64 (packages g++-mingw-w64-i686 and
# mingw-w64-i686-dev). The posix-threads variant of the compiler is used because the library and
# the tests rely on std::mutex and std::thread. The compiler's own runtime (libgcc, libstdc++,
# winpthread) is linked statically, so the DLL and the test programs need nothing beside the
# system DLLs of Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QX_MINGW_PREFIX i686-w64-mingw32)
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

# Tests run the built programs under Wine (scripts/test-windows prepares the prefix).
find_program(QX_WINE_PROGRAM NAMES wine)
if(QX_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_WINE_PROGRAM})
endif()
