// Files as the diagnostic log needs them: a day's file opened for appending (created readable
// by its owner only, never through a symbolic link or another reparse point), the log files of
// a folder with their sizes, removing one, and the stamp of a record (local time, process,
// thread). posix/file_system_posix.cpp and win32/log_files_win32.cpp implement them.
#ifndef QX_PLATFORM_LOG_FILES_H_
#define QX_PLATFORM_LOG_FILES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace qx::platform {

class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  virtual ~AppendFile() = default;

  // Appends bytes whole, handed to the system before it returns (a killed process loses
  // nothing written); kLocal with the system's words otherwise.
  virtual Status Write(std::string_view bytes) = 0;
};

// Makes folder (one level) when missing, then opens path in it for appending: created with
// rights for its owner only; a symbolic link (or reparse point) in its place is refused.
Status OpenAppendFile(const std::string& folder, const std::string& path,
                      std::unique_ptr<AppendFile>* file);

struct FolderEntry {
  std::string name;
  uint64_t size = 0;
};

// The regular files of folder whose names start with prefix and end with suffix.
std::vector<FolderEntry> ListFiles(const std::string& folder, std::string_view prefix,
                                   std::string_view suffix);

// Removes the file at path; false when it could not be removed.
bool RemoveFile(const std::string& path);

struct LogStamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  unsigned long process = 0;
  unsigned long thread = 0;
};

// Now, in local time, with the calling process and thread.
LogStamp NowStamp();

}  // namespace qx::platform

#endif  // QX_PLATFORM_LOG_FILES_H_
