#include "support/host_library.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace qx::test {

HostLibrary::HostLibrary(const std::string& ini) {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) {
    saved_cwd_ = cwd;
  }
  char templ[] = "/tmp/qx-host-XXXXXX";
  if (mkdtemp(templ) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  dir_ = templ;
  if (!ini.empty()) {
    std::ofstream out(dir_ + "/qx_interface.ini", std::ios::binary);
    out << ini;
  }
  if (chdir(dir_.c_str()) != 0) {
    throw std::runtime_error("chdir failed");
  }
  handle_ = dlopen(QX_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    throw std::runtime_error(std::string("dlopen: ") + dlerror());
  }
  init_ = reinterpret_cast<decltype(init_)>(dlsym(handle_, "init_handle"));
  config_ = reinterpret_cast<decltype(config_)>(dlsym(handle_, "config_handle"));
  business_ = reinterpret_cast<decltype(business_)>(dlsym(handle_, "business_handle"));
  if (!init_ || !config_ || !business_) {
    throw std::runtime_error("a function is missing from the library");
  }
}

HostLibrary::~HostLibrary() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
  if (!saved_cwd_.empty()) {
    (void)chdir(saved_cwd_.c_str());
  }
  DIR* dir = opendir(dir_.c_str());
  if (dir != nullptr) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") {
        unlink((dir_ + "/" + name).c_str());
      }
    }
    closedir(dir);
  }
  rmdir(dir_.c_str());
}

std::string HostLibrary::IniFor(int port, const std::string& servlet, int com) {
  return "[center]\r\nserver=127.0.0.1\r\nport=" + std::to_string(port) + "\r\nservlet=" + servlet +
         "\r\ncom=" + std::to_string(com) + "\r\n\r\n";
}

int HostLibrary::Init() {
  std::string buffer(256, ' ');
  int rc = init_(buffer.data());
  message_ = buffer.c_str();
  return rc;
}

int HostLibrary::Config(const char* server, const char* port, const char* servlet,
                        const char* com) {
  return config_(server, port, servlet, com);
}

int HostLibrary::Business(const std::string& request, std::size_t spaces) {
  std::vector<char> buffer(spaces + 1, ' ');
  buffer[spaces] = '\0';
  return business_(request.c_str(), buffer.data());
}

}  // namespace qx::test
