// The INI store on arbitrary file bytes: loading never fails for a readable file, and what it
// writes back loads to the same store.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/ini_file.h"
#include "support/fake_file_system.h"
#include "support/fake_prompts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qx::platform::fake::FakeFileSystem files;
  qx::platform::fake::FakePrompts prompts;
  const std::string path = "/h/qx_interface.ini";
  files.files[path] = std::string(reinterpret_cast<const char*>(data), size);
  qx::config::IniFile ini(files, prompts, path);
  if (!ini.Load().ok()) {
    std::abort();
  }
  (void)ini.GetValue("center", "server", false);
  const std::string written = ini.Serialise(false);
  files.files[path] = written;
  qx::config::IniFile again(files, prompts, path);
  if (!again.Load().ok() || again.Serialise(false) != written) {
    std::abort();
  }
  return 0;
}
