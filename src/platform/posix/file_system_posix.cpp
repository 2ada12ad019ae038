// Files on POSIX. The configuration file is replaced, never rewritten in place: the new content
// goes to a temporary file in the same directory (so rename stays on one file system), is
// flushed with fsync, takes the old file's permission bits, and only then is renamed over the
// old one; the directory is synced afterwards. Any failure removes the temporary file and leaves
// the old file as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/default_parts.h"

namespace qx::platform::posix {
namespace {

std::string ErrorText(const char* operation, const std::string& path, int error_number) {
  std::string text(operation);
  text += " ";
  text += path;
  text += ": ";
  text += std::strerror(error_number);
  return text;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return path.substr(0, slash);
}

bool WriteFully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::string CurrentDirectory() override {
    std::vector<char> buffer(512);
    // getcwd fails with ERANGE until the buffer holds the whole path, however long it is.
    for (int attempt = 0; attempt < 16; ++attempt) {
      if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
        return std::string(buffer.data());
      }
      if (errno != ERANGE) {
        return std::string();
      }
      buffer.resize(buffer.size() * 2);
    }
    return std::string();
  }

  char PathSeparator() const override { return '/'; }

  bool Exists(const std::string& path) override {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
  }

  bool ReadAll(const std::string& path, std::string* content, std::string* error) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *error = ErrorText("open", path, errno);
      return false;
    }
    content->clear();
    char chunk[65536];
    for (;;) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0) {
        if (errno == EINTR) {
          continue;
        }
        *error = ErrorText("read", path, errno);
        ::close(fd);
        return false;
      }
      if (got == 0) {
        break;
      }
      content->append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
  }

  bool ReplaceAll(const std::string& path, const std::string& content,
                  std::string* error) override {
    std::string temp_path = path + ".XXXXXX";
    std::vector<char> name(temp_path.begin(), temp_path.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
      *error = ErrorText("create a temporary file beside", path, errno);
      return false;
    }
    temp_path.assign(name.data());
    struct stat old_status;
    mode_t mode = 0644;
    if (::stat(path.c_str(), &old_status) == 0) {
      mode = old_status.st_mode & 07777;
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    int saved_errno = 0;
    const char* failed = nullptr;
    if (!WriteFully(fd, content.data(), content.size())) {
      saved_errno = errno;
      failed = "write";
    } else if (::fchmod(fd, mode) != 0) {
      saved_errno = errno;
      failed = "set the permissions of";
    } else if (::fsync(fd) != 0) {
      saved_errno = errno;
      failed = "flush";
    }
    if (::close(fd) != 0 && failed == nullptr) {
      saved_errno = errno;
      failed = "close";
    }
    if (failed == nullptr && ::rename(temp_path.c_str(), path.c_str()) != 0) {
      saved_errno = errno;
      failed = "replace";
    }
    if (failed != nullptr) {
      ::unlink(temp_path.c_str());
      *error = ErrorText(failed, path, saved_errno);
      return false;
    }
    int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }
};

}  // namespace

FileSystem& DefaultFileSystem() {
  static PosixFileSystem files;
  return files;
}

}  // namespace qx::platform::posix
