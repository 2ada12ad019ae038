#include "request_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qx::sim {

RequestLog::~RequestLog() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool RequestLog::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    std::fprintf(stderr, "qx-center-sim: cannot open log %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

void RequestLog::Append(std::string_view listener, std::string_view method, std::string_view path,
                        std::string_view headers, std::string_view body) {
  if (fd_ < 0) {
    return;
  }
  std::string record = "QXSIM1 ";
  record.append(listener);
  for (std::size_t n : {method.size(), path.size(), headers.size(), body.size()}) {
    record += ' ';
    record += std::to_string(n);
  }
  record += '\n';
  record.append(method);
  record.append(path);
  record.append(headers);
  record.append(body);
  record += '\n';
  // One record leaves in one piece, so concurrent requests never interleave.
  std::lock_guard<std::mutex> lock(mutex_);
  const char* data = record.data();
  std::size_t left = record.size();
  while (left > 0) {
    ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      std::fprintf(stderr, "qx-center-sim: log write failed: %s\n", std::strerror(errno));
      return;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace qx::sim
