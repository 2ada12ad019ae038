// Win32 shared libraries: LoadLibraryA / GetProcAddress / FreeLibrary.
//
// Quirks handled here:
//  - LoadLibraryA("") would fail anyway, but a name is refused before the call so that the
//    system's search is never asked about nothing.
//  - A library that cannot be found must not make the system show a "missing DLL" box to the
//    clerk: the thread's error mode suppresses it around the load (SetThreadErrorMode).
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/win32/default_parts.h"

namespace qx::platform::win32 {
namespace {

class Win32DynamicLibrary final : public DynamicLibrary {
 public:
  explicit Win32DynamicLibrary(HMODULE module) : module_(module) {}
  ~Win32DynamicLibrary() override { FreeLibrary(module_); }

  void* FindEntryPoint(const std::string& name) override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name.c_str()));
  }

  std::string FilePath() const override {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module_, path, MAX_PATH);  // cut at MAX_PATH, ended
    return length == 0 ? std::string() : std::string(path, std::min<DWORD>(length, MAX_PATH));
  }

 private:
  HMODULE module_;
};

class Win32LibraryLoader final : public LibraryLoader {
 public:
  Status Load(const std::string& file_name, std::unique_ptr<DynamicLibrary>* library) override {
    library->reset();
    if (file_name.empty()) {
      return Status::NotFound("no file name");
    }
    DWORD old_mode = 0;
    bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
    HMODULE module = LoadLibraryA(file_name.c_str());
    const DWORD error = GetLastError();
    if (quiet) {
      SetThreadErrorMode(old_mode, nullptr);
    }
    if (module == nullptr) {
      return Status::NotFound(file_name + ": " + SystemErrorText(error));
    }
    *library = std::make_unique<Win32DynamicLibrary>(module);
    return Status::Ok();
  }
};

}  // namespace

LibraryLoader& DefaultLibraryLoader() { return ProcessWide<Win32LibraryLoader>(); }

}  // namespace qx::platform::win32
