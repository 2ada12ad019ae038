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
