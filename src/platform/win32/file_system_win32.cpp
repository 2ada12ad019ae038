// Files on Win32. The configuration file is replaced, never rewritten in place: the new content
// goes to a temporary file in the same directory (so the move stays on one volume), is flushed
// with FlushFileBuffers, and only then is moved over the old one with
// MoveFileExA(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Any failure deletes the
// temporary file and leaves the old file as it was.
//
// Quirks handled here:
//  - GetCurrentDirectoryA is asked for the size first, so a directory of any length (up to the
//    system's own limit) is returned whole; the directory may change between the two calls, so
//    the size is asked again when it grew.
//  - A read-only file is not replaced (Windows refuses the move; Wine would do it).
//  - Files are opened with FILE_SHARE_READ | FILE_SHARE_WRITE so that an editor holding the file
//    open does not make the configuration unreadable.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/file_system.h"
#include "platform/win32/default_parts.h"

namespace qx::platform::win32 {
namespace {

std::string ErrorText(const char* operation, const std::string& path, DWORD code) {
  return FileErrorText(operation, path, SystemErrorText(code));
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return true;
    }
    bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::string CurrentDirectory() override {
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD needed = GetCurrentDirectoryA(0, nullptr);  // with the terminating zero
      if (needed == 0) {
        return std::string();
      }
      std::vector<char> buffer(needed);
      DWORD length = GetCurrentDirectoryA(needed, buffer.data());
      if (length == 0) {
        return std::string();
      }
      if (length < needed) {
        return std::string(buffer.data(), length);
      }
    }
    return std::string();
  }

  char PathSeparator() const override { return '\\'; }

  bool Exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  Status ReadAll(const std::string& path, std::string* content) override {
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) {
      return Status::Local(ErrorText("open", path, GetLastError()));
    }
    // Only a file on disk, of at most kMaxReadBytes: not a pipe, a console or a device.
    LARGE_INTEGER size;
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
      return Status::Local(ErrorText("read", path, ERROR_INVALID_FUNCTION));
    }
    if (!GetFileSizeEx(file.get(), &size)) {
      return Status::Local(ErrorText("read", path, GetLastError()));
    }
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxReadBytes) {
      return Status::Local(ErrorText("read", path, ERROR_FILE_TOO_LARGE));
    }
    content->clear();
    std::vector<char> chunk(65536);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
        return Status::Local(ErrorText("read", path, GetLastError()));
      }
      if (got == 0) {
        break;
      }
      if (content->size() + got > kMaxReadBytes) {
        content->clear();
        return Status::Local(ErrorText("read", path, ERROR_FILE_TOO_LARGE));
      }
      content->append(chunk.data(), got);
    }
    return Status::Ok();
  }

  Status ReplaceAll(const std::string& path, const std::string& content) override {
    // Windows refuses to move a file over a read-only one; Wine does not. Refuse it here first,
    // before anything is written, so both keep a read-only file as it is.
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Status::Local(ErrorText("replace", path, ERROR_ACCESS_DENIED));
    }
    static std::atomic<unsigned> counter{0};
    std::string temp_path = path + "." + std::to_string(GetCurrentProcessId()) + "." +
                            std::to_string(counter.fetch_add(1)) + ".tmp";
    Handle file(CreateFileA(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) {
      return Status::Local(ErrorText("create a temporary file beside", path, GetLastError()));
    }
    const char* failed = nullptr;
    DWORD code = 0;
    std::size_t done = 0;
    while (done < content.size()) {
      DWORD piece = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
      DWORD written = 0;
      if (!WriteFile(file.get(), content.data() + done, piece, &written, nullptr) || written == 0) {
        code = GetLastError();
        failed = "write";
        break;
      }
      done += written;
    }
    if (failed == nullptr && !FlushFileBuffers(file.get())) {
      code = GetLastError();
      failed = "flush";
    }
    if (!file.Close() && failed == nullptr) {
      code = GetLastError();
      failed = "close";
    }
    if (failed == nullptr && !MoveFileExA(temp_path.c_str(), path.c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      code = GetLastError();
      failed = "replace";
    }
    if (failed != nullptr) {
      DeleteFileA(temp_path.c_str());
      return Status::Local(ErrorText(failed, path, code));
    }
    return Status::Ok();
  }
};

}  // namespace

FileSystem& DefaultFileSystem() { return ProcessWide<Win32FileSystem>(); }

}  // namespace qx::platform::win32
