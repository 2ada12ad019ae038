// Shared libraries loaded at run time by file name: today only the vendor's card-reader library.
// Win32 wraps LoadLibraryA / GetProcAddress / FreeLibrary, POSIX dlopen / dlsym / dlclose.
// A DynamicLibrary unloads its library when it is destroyed; function pointers looked up from it
// are valid only while it lives.
#ifndef QX_PLATFORM_DYNAMIC_LIBRARY_H_
#define QX_PLATFORM_DYNAMIC_LIBRARY_H_

#include <memory>
#include <string>

#include "base/status.h"

namespace qx::platform {

// The card-reader library's entry points use the Windows API convention on 32-bit Windows (the
// called function removes its arguments) and the C convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define QX_CARD_CALL __stdcall
#else
#define QX_CARD_CALL
#endif

// The six entry points of the card-reader library the system calls. All texts are zero-terminated
// ANSI (GBK) byte strings; a negative result is a failure.
extern "C" {
using ICResetFunction = int(QX_CARD_CALL*)(void);
using ICStartFunction = int(QX_CARD_CALL*)(int port);
// value: a 100-byte buffer filled with zeros by the caller; the library writes at most 99 bytes.
using ICGetFunction = int(QX_CARD_CALL*)(const char* name, char* value);
using ICPutFunction = int(QX_CARD_CALL*)(const char* name, const char* value);
using ICExecuteFunction = int(QX_CARD_CALL*)(int port);
// text: a 1024-byte buffer for the description of the library's last failure.
using ICGeterrMsgFunction = int(QX_CARD_CALL*)(char* text);
}

// File name of the card-reader library, found by the platform's usual library search (on POSIX
// the interface library carries RUNPATH $ORIGIN, so one placed beside it is found).
#if defined(_WIN32)
inline constexpr char kCardLibraryName[] = "qxic.dll";
#else
inline constexpr char kCardLibraryName[] = "libqxic.so";
#endif

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  // Unloads the library.
  virtual ~DynamicLibrary() = default;

  // The exported function of that exact name; null when the library exports none.
  virtual void* FindEntryPoint(const std::string& name) = 0;

  // The file the system loaded, for the diagnostic log; empty where it cannot tell.
  virtual std::string FilePath() const { return {}; }
};

class LibraryLoader {
 public:
  LibraryLoader() = default;
  LibraryLoader(const LibraryLoader&) = delete;
  LibraryLoader& operator=(const LibraryLoader&) = delete;
  virtual ~LibraryLoader() = default;

  // Loads the library by file name with the platform's usual search (a name with a directory
  // separator is taken as a path) into *library. When it cannot be loaded, *library is null and
  // the result is kNotFound with the loader's own words (dlerror, the system's message).
  virtual Status Load(const std::string& file_name, std::unique_ptr<DynamicLibrary>* library) = 0;
};

// Turns a looked-up entry point into its function type.
template <typename Function>
Function EntryPointAs(void* entry_point) {
  return reinterpret_cast<Function>(entry_point);
}

}  // namespace qx::platform

#endif  // QX_PLATFORM_DYNAMIC_LIBRARY_H_
