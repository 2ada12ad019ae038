// A one-connection-at-a-time HTTP listener on 127.0.0.1 for wire-level tests: it records each
// request's exact bytes and answers with canned bytes (or a function writes the answer to the
// connection), then closes the connection. Every wait is
// bounded (10 s); the thread is joined in the destructor. Header-only: tests/platform compiles
// only its *_test.cpp files.
#ifndef QX_TESTS_PLATFORM_RAW_SERVER_H_
#define QX_TESTS_PLATFORM_RAW_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qx::test {

class RawServer {
 public:
  // Answers the n-th connection with responses[n] (the last one again for any later).
  explicit RawServer(std::vector<std::string> responses) : responses_(std::move(responses)) {
    Listen();
  }
  // Answers every connection by calling answer with it, once its request is read.
  explicit RawServer(std::function<void(int fd)> answer) : answer_(std::move(answer)) { Listen(); }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  ~RawServer() {
    if (wake_[1] >= 0) {
      (void)!::write(wake_[1], "x", 1);
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    for (int fd : {listener_, wake_[0], wake_[1]}) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
  }

  uint16_t port() const { return port_; }

  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Listen() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe(wake_) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }

  // Waits for fd to become readable, at most 10 s; false on time-out or when woken to stop.
  bool WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, 10000);
    return ready > 0 && (fds[1].revents & POLLIN) == 0 && (fds[0].revents & (POLLIN | POLLHUP));
  }

  // Reads one request: the header block and as many body bytes as Content-Length names.
  std::string ReadRequest(int fd) {
    std::string data;
    char buffer[65536];
    for (;;) {
      std::size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::size_t body = 0;
        std::size_t at = data.find("\r\nContent-Length: ");
        if (at != std::string::npos && at < end) {
          body = std::strtoul(data.c_str() + at + 18, nullptr, 10);
        }
        if (data.size() >= end + 4 + body) {
          return data;
        }
      }
      if (!WaitReadable(fd)) {
        return data;
      }
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) {
        return data;
      }
      data.append(buffer, static_cast<std::size_t>(n));
    }
  }

  void Run() {
    for (std::size_t index = 0;; ++index) {
      if (!WaitReadable(listener_)) {
        return;
      }
      int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        return;
      }
      std::string request = ReadRequest(client);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      if (answer_) {
        answer_(client);
        ::close(client);
        continue;
      }
      const std::string& response = responses_[std::min(index, responses_.size() - 1)];
      std::size_t sent = 0;
      while (sent < response.size()) {
        ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
          break;
        }
        sent += static_cast<std::size_t>(n);
      }
      // The whole request was read, so closing sends a clean FIN, not a reset.
      ::close(client);
    }
  }

  std::vector<std::string> responses_;
  std::function<void(int fd)> answer_;
  int listener_ = -1;
  uint16_t port_ = 0;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace qx::test

#endif  // QX_TESTS_PLATFORM_RAW_SERVER_H_
