// A loopback HTTP listener for fault tests: each connection is read up to the end of its request
// and then handed to a scripted answer that may send anything, stall, drop the connection with a
// reset, or answer again and again. Binds 127.0.0.1 only; every wait is bounded (10 s) and ends
// at once when the server goes; the thread is joined in the destructor.
#ifndef QX_TESTS_FAULTS_FAULT_SERVER_H_
#define QX_TESTS_FAULTS_FAULT_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qx::test {

class FaultServer {
 public:
  // One answer: the connection's socket; the server gives Send, Stall and Reset to work with.
  using Answer = std::function<void(FaultServer& server, int fd)>;

  // The n-th connection gets answers[n], the last one again for any later connection.
  explicit FaultServer(std::vector<Answer> answers) : answers_(std::move(answers)) {
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
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;
  ~FaultServer() {
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

  // Sends all of bytes (as far as the peer takes them); false when the peer went away.
  static bool Send(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Waits up to milliseconds (at most 10 s) without sending; returns early when the peer
  // closes the connection or the server goes.
  void Stall(int fd, int milliseconds) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    ::poll(fds, 2, std::min(milliseconds, 10000));
  }

  // Closes with a reset instead of an orderly end.
  static void Reset(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }

  // An answer that sends response and closes.
  static Answer Canned(std::string response) {
    return [response = std::move(response)](FaultServer&, int fd) { Send(fd, response); };
  }

  // A 200 response with Content-Length and the given body.
  static std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=GBK\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }

 private:
  bool WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, 10000);
    return ready > 0 && (fds[1].revents & POLLIN) == 0 && (fds[0].revents & (POLLIN | POLLHUP));
  }

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
      answers_[std::min(index, answers_.size() - 1)](*this, client);
      ::close(client);
    }
  }

  std::vector<Answer> answers_;
  int listener_ = -1;
  uint16_t port_ = 0;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace qx::test

#endif  // QX_TESTS_FAULTS_FAULT_SERVER_H_
