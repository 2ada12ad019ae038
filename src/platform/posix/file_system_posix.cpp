// Files on POSIX. The configuration file is replaced where its folder allows: the new content
// goes to a temporary file in the same directory (so rename stays on one file system), is
// flushed with fsync, takes the old file's owner, group and permission bits, and only then is
// renamed over the old one; the directory is synced afterwards. Any failure removes the
// temporary file and leaves the old file as it was. Where the folder may not be written but the
// file may, the file is rewritten in place instead (emptied, written, flushed).
//
// A path that is a symbolic link is followed to the file it names, and that file is the one
// replaced, beside itself: the link stays a link. A file the process may not write is refused
// before anything is written, as the Windows build refuses a read-only file.
//
// The diagnostic log's files: open(2) with O_NOFOLLOW and mode 0600, write(2) straight to the
// descriptor (no user-space buffer to lose), readdir for the folder.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "platform/default_parts.h"
#include "platform/file_system.h"
#include "platform/log_files.h"

namespace qx::platform::posix {
namespace {

std::string ErrorText(const char* operation, const std::string& path, int error_number) {
  return FileErrorText(operation, path, std::strerror(error_number));
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

// The file a path finally names: symbolic links in its last part are followed (a relative
// target is taken from the link's directory); the file itself need not exist. Fails with ELOOP
// after 40 links, as the system's own lookup does.
bool FollowLinks(const std::string& path, std::string* target, int* error_number) {
  *target = path;
  std::vector<char> buffer(4096);
  for (int links = 0; links < 40; ++links) {
    struct stat status;
    if (::lstat(target->c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      return true;  // not there yet (to be created) or not a link: this is the file
    }
    ssize_t length = ::readlink(target->c_str(), buffer.data(), buffer.size());
    while (length >= 0 && static_cast<std::size_t>(length) == buffer.size() &&
           buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      length = ::readlink(target->c_str(), buffer.data(), buffer.size());
    }
    if (length < 0 || static_cast<std::size_t>(length) == buffer.size()) {
      *error_number = length < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    std::string next(buffer.data(), static_cast<std::size_t>(length));
    if (next.empty() || next.front() != '/') {
      std::string::size_type slash = target->rfind('/');
      if (slash != std::string::npos) {
        next = target->substr(0, slash + 1) + next;
      }
    }
    *target = std::move(next);
  }
  *error_number = ELOOP;
  return false;
}

// Whether this process may write an existing file. access with the effective ids (AT_EACCESS)
// answers for an ordinary user; it says yes to root (or any holder of CAP_DAC_OVERRIDE) for every
// file, so a file without a single write bit in its mode is also refused: that is the read-only
// file an administrator protected, which the Windows build refuses whoever runs it.
bool MayWrite(const std::string& path, const struct stat& status) {
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return false;
  }
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Gives the new file the old one's owner and group (before its mode is set: a change of owner
// clears the set-id bits). A process that may not do so (a group member who is not the owner)
// fails here, with errno set, and the save is refused: the file never changes hands.
bool KeepOwner(int fd, const struct stat& old_status) {
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    return false;
  }
  if (status.st_uid == old_status.st_uid && status.st_gid == old_status.st_gid) {
    return true;
  }
  return ::fchown(fd, old_status.st_uid, old_status.st_gid) == 0;
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
    if (written == 0) {
      errno = EIO;  // no progress: a short write
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The first step of a write that failed, with its errno; step null when none did.
struct WriteFailure {
  const char* step = nullptr;
  int error = 0;
};

// Writes content whole to fd, then takes before_flush (owner and mode: the name of a step that
// failed, or null), flushes fd and closes it, whatever failed.
WriteFailure WriteFlushClose(int fd, const std::string& content,
                             const std::function<const char*(int)>& before_flush) {
  WriteFailure failure;
  const auto failed = [&failure](const char* step) {
    if (failure.step == nullptr) failure = {step, errno};
  };
  if (!WriteFully(fd, content.data(), content.size())) {
    failed("write");
  } else if (const char* step = before_flush ? before_flush(fd) : nullptr; step != nullptr) {
    failed(step);
  } else if (::fsync(fd) != 0) {
    failed("flush");
  }
  if (::close(fd) != 0) failed("close");
  return failure;
}

// Rewrites an existing file in place: emptied, written and flushed. Owner, group and mode stay
// the file's own. A failure after the emptying leaves the file part written.
Status RewriteInPlace(const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return Status::Local(ErrorText("rewrite", path, errno));
  }
  const WriteFailure failure = WriteFlushClose(fd, content, nullptr);
  return failure.step == nullptr ? Status::Ok()
                                 : Status::Local(ErrorText(failure.step, path, failure.error));
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

  Status ReadAll(const std::string& path, std::string* content) override {
    // O_NONBLOCK: opening a FIFO nobody writes does not wait; it is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      return Status::Local(ErrorText("open", path, errno));
    }
    struct stat status;
    int refused = 0;
    if (::fstat(fd, &status) != 0) {
      refused = errno;
    } else if (!S_ISREG(status.st_mode)) {
      refused = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    } else if (static_cast<std::uint64_t>(status.st_size) > kMaxReadBytes) {
      refused = EFBIG;
    }
    if (refused != 0) {
      ::close(fd);
      return Status::Local(ErrorText("read", path, refused));
    }
    content->clear();
    char chunk[65536];
    for (;;) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0) {
        if (errno == EINTR) {
          continue;
        }
        const int read_errno = errno;
        ::close(fd);
        return Status::Local(ErrorText("read", path, read_errno));
      }
      if (got == 0) {
        break;
      }
      if (content->size() + static_cast<std::size_t>(got) > kMaxReadBytes) {
        ::close(fd);  // grew while read
        content->clear();
        return Status::Local(ErrorText("read", path, EFBIG));
      }
      content->append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return Status::Ok();
  }

  Status ReplaceAll(const std::string& link_path, const std::string& content) override {
    std::string path;
    int link_errno = 0;
    if (!FollowLinks(link_path, &path, &link_errno)) {
      return Status::Local(ErrorText("follow the link", link_path, link_errno));
    }
    struct stat old_status;
    const bool existed = ::stat(path.c_str(), &old_status) == 0;
    if (existed && !MayWrite(path, old_status)) {
      return Status::Local(ErrorText("replace", path, EACCES));
    }
    std::string temp_path = path + ".XXXXXX";
    std::vector<char> name(temp_path.begin(), temp_path.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
      if (existed && (errno == EACCES || errno == EPERM)) {
        // The folder may not be written, the file may: rewritten in place, as a text-mode
        // write on Windows does.
        return RewriteInPlace(path, content);
      }
      return Status::Local(ErrorText("create a temporary file beside", path, errno));
    }
    temp_path.assign(name.data());
    mode_t mode = 0644;
    if (existed) {
      mode = old_status.st_mode & 07777;
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    WriteFailure failure = WriteFlushClose(fd, content, [&](int file) -> const char* {
      if (existed && !KeepOwner(file, old_status)) return "keep the owner of";
      if (::fchmod(file, mode) != 0) return "set the permissions of";
      return nullptr;
    });
    if (failure.step == nullptr && ::rename(temp_path.c_str(), path.c_str()) != 0) {
      failure = {"replace", errno};
    }
    if (failure.step != nullptr) {
      ::unlink(temp_path.c_str());
      return Status::Local(ErrorText(failure.step, path, failure.error));
    }
    int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return Status::Ok();
  }
};

}  // namespace

FileSystem& DefaultFileSystem() { return ProcessWide<PosixFileSystem>(); }

}  // namespace qx::platform::posix

// ---- the diagnostic log's files ----------------------------------------------------------------

namespace qx::platform {
namespace {

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixAppendFile() override { close(fd_); }

  Status Write(std::string_view bytes) override {
    return posix::WriteFully(fd_, bytes.data(), bytes.size())
               ? Status::Ok()
               : Status::Local(FileErrorText("write", path_, std::strerror(errno)));
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

Status OpenAppendFile(const std::string& folder, const std::string& path,
                      std::unique_ptr<AppendFile>* file) {
  file->reset();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return Status::Local(FileErrorText("mkdir", folder, std::strerror(errno)));
  }
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    return Status::Local(FileErrorText("open", path, std::strerror(errno)));
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return Status::Local(FileErrorText("open", path, "not a regular file"));
  }
  *file = std::make_unique<PosixAppendFile>(fd, path);
  return Status::Ok();
}

std::vector<FolderEntry> ListFiles(const std::string& folder, std::string_view prefix,
                                   std::string_view suffix) {
  std::vector<FolderEntry> entries;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() < prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix) {
      continue;
    }
    struct stat info;
    const std::string path = folder + "/" + std::string(name);
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      entries.push_back({std::string(name), static_cast<uint64_t>(info.st_size)});
    }
  }
  closedir(dir);
  return entries;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

LogStamp NowStamp() {
  LogStamp stamp;
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  stamp.year = local.tm_year + 1900;
  stamp.month = local.tm_mon + 1;
  stamp.day = local.tm_mday;
  stamp.hour = local.tm_hour;
  stamp.minute = local.tm_min;
  stamp.second = local.tm_sec;
  stamp.millisecond = static_cast<int>(now.tv_usec / 1000);
  stamp.process = static_cast<unsigned long>(getpid());
#ifdef SYS_gettid
  stamp.thread = static_cast<unsigned long>(syscall(SYS_gettid));
#else
  stamp.thread = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pthread_self()));
#endif
  return stamp;
}

}  // namespace qx::platform
