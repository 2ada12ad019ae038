// Files as the configuration store needs them: the process's current directory, whether a file
// exists, reading a whole file, and replacing a whole file so that a failure midway leaves the
// old content in place. A failure is a Status of kind kLocal whose words name the operation, the
// path and the system's own description.
#ifndef QX_PLATFORM_FILE_SYSTEM_H_
#define QX_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/status.h"

namespace qx::platform {

class FileSystem {
 public:
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  virtual ~FileSystem() = default;

  // The current directory, any length; empty when it cannot be had.
  virtual std::string CurrentDirectory() = 0;

  // The separator between a directory and a file name ("\\" on Windows, "/" on POSIX).
  virtual char PathSeparator() const = 0;

  // True when the status of path can be queried (the file exists).
  virtual bool Exists(const std::string& path) = 0;

  // The largest file ReadAll reads.
  static constexpr std::size_t kMaxReadBytes = std::size_t{1} << 20;

  // Reads the whole file as bytes; a failure when it cannot be opened or read, when it is not a
  // regular file once links are followed (a directory, a FIFO, a device: nothing is read from
  // it, and opening it does not wait), or when it holds more than kMaxReadBytes bytes.
  virtual Status ReadAll(const std::string& path, std::string* content) = 0;

  // Writes content to a new file beside path and, once it is complete and flushed, puts it in
  // the place of path. On failure path is as it was. Where no file may be made beside an
  // existing path that may be written (a folder the user may not write), path is rewritten in
  // place instead: emptied, written and flushed; a failure then may leave it part written.
  virtual Status ReplaceAll(const std::string& path, const std::string& content) = 0;
};

// The words of a failed file operation: "<operation> <path>: <the system's description>".
inline std::string FileErrorText(std::string_view operation, std::string_view path,
                                 std::string_view description) {
  std::string text(operation);
  text += " ";
  text += path;
  text += ": ";
  text += description;
  return text;
}

}  // namespace qx::platform

#endif  // QX_PLATFORM_FILE_SYSTEM_H_
