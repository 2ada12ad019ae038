// The diagnostic log's files on POSIX: open(2) with O_NOFOLLOW and mode 0600, write(2) straight
// to the descriptor (no user-space buffer to lose), readdir for the folder.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/log_files.h"

namespace qx::platform {
namespace {

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixAppendFile() override { close(fd_); }

  Status Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        return Status::Local(FileErrorText("write", path_, n < 0 ? std::strerror(errno) : "0"));
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return Status::Ok();
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
