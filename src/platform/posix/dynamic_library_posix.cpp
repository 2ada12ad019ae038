// POSIX shared libraries: dlopen / dlsym / dlclose.
//
// Quirks handled here:
//  - RTLD_NOW so that a library with unresolved symbols fails at load rather than in the middle
//    of a card run; RTLD_LOCAL so its symbols never satisfy anyone else's.
//  - dlsym can legitimately return null for a symbol that exists (an absolute symbol of value
//    0); a card-reader entry point never is one, so null means "absent".
//  - dlerror() is cleared before the lookup so a stale error never leaks into a later call.
//  - A plain file name is looked for by the system's search (LD_LIBRARY_PATH, the folders of
//    ldconfig); the interface library has no RUNPATH, so glibc never looks beside it. Only a name
//    that search does not find is tried once more beside this library, explicitly.
#include <dlfcn.h>
#include <link.h>

#include <memory>
#include <string>

#include "platform/default_parts.h"
#include "platform/dynamic_library.h"

namespace qx::platform::posix {
namespace {

class PosixDynamicLibrary final : public DynamicLibrary {
 public:
  explicit PosixDynamicLibrary(void* handle) : handle_(handle) {}
  ~PosixDynamicLibrary() override { dlclose(handle_); }

  void* FindEntryPoint(const std::string& name) override {
    dlerror();
    return dlsym(handle_, name.c_str());
  }

  std::string FilePath() const override {
    struct link_map* map = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
      return std::string();
    }
    return map->l_name;
  }

 private:
  void* handle_;
};

// The folder of the file this code was loaded from (the interface library, or a program).
std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) == 0 || info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path(info.dli_fname);
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

class PosixLibraryLoader final : public LibraryLoader {
 public:
  Status Load(const std::string& file_name, std::unique_ptr<DynamicLibrary>* library) override {
    library->reset();
    if (file_name.empty()) {
      return Status::NotFound("no file name");  // dlopen("") would hand back the main program
    }
    void* handle = dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && file_name.find('/') == std::string::npos) {
      dlerror();
      const std::string beside = OwnDirectory();
      if (!beside.empty()) {
        handle = dlopen((beside + "/" + file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
      }
    }
    if (handle == nullptr) {
      const char* words = dlerror();
      return Status::NotFound(words != nullptr ? words : file_name);
    }
    *library = std::make_unique<PosixDynamicLibrary>(handle);
    return Status::Ok();
  }
};

}  // namespace

LibraryLoader& DefaultLibraryLoader() { return ProcessWide<PosixLibraryLoader>(); }

}  // namespace qx::platform::posix
