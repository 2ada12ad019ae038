// An in-memory FileSystem for tests: files are byte strings by path; reads and replacements can
// be made to fail, on every call or from the Nth on, to check that nothing is lost.
#ifndef QX_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
#define QX_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_

#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace qx::platform::fake {

class FakeFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::string current_directory = "/hospital";
  std::set<std::string> unreadable;  // exist, but cannot be opened
  int replace_failures_after = -1;   // >= 0: that many replacements succeed, then all fail
  int replace_calls = 0;

  std::string CurrentDirectory() override { return current_directory; }
  char PathSeparator() const override { return '/'; }
  bool Exists(const std::string& path) override {
    return files.count(path) != 0 || unreadable.count(path) != 0;
  }
  Status ReadAll(const std::string& path, std::string* content) override {
    if (unreadable.count(path) != 0 || files.count(path) == 0) {
      return Status::Local("open " + path + ": Permission denied");
    }
    *content = files[path];
    return Status::Ok();
  }
  Status ReplaceAll(const std::string& path, const std::string& content) override {
    ++replace_calls;
    if (replace_failures_after >= 0 && replace_calls > replace_failures_after) {
      return Status::Local("write " + path + ": No space left on device");
    }
    files[path] = content;
    return Status::Ok();
  }
};

}  // namespace qx::platform::fake

#endif  // QX_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
