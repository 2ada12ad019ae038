#include "support/center_sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace qx::test {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// Reads lines from fd until both ports are known or the deadline passes.
bool ReadPorts(int fd, uint16_t* port, uint16_t* second_port, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string text;
  while (std::chrono::steady_clock::now() < deadline) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (lines.eof()) {
        break;  // not yet complete
      }
      if (line.rfind("port ", 0) == 0) {
        *port = static_cast<uint16_t>(std::atoi(line.c_str() + 5));
      } else if (line.rfind("second-port ", 0) == 0) {
        *second_port = static_cast<uint16_t>(std::atoi(line.c_str() + 12));
      }
    }
    if (*port != 0 && *second_port != 0) {
      return true;
    }
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) {
      *error = std::string("poll: ") + std::strerror(errno);
      return false;
    }
    if (ready > 0) {
      char buffer[256];
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n == 0) {
        *error = "qx-center-sim ended before naming its ports: " + text;
        return false;
      }
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  *error = "qx-center-sim did not name its ports within 10 s: " + text;
  return false;
}

}  // namespace

std::string CenterSimRequest::Header(std::string_view name) const {
  const std::string wanted = Lower(name) + ":";
  std::istringstream lines(headers);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (Lower(line.substr(0, wanted.size())) == wanted) {
      std::string value = line.substr(wanted.size());
      value.erase(0, value.find_first_not_of(' '));
      return value;
    }
  }
  return std::string();
}

bool ReadCenterSimLog(const std::string& path, std::vector<CenterSimRequest>* requests) {
  requests->clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t eol = data.find('\n', at);
    if (eol == std::string::npos) {
      return true;  // header line still being written
    }
    std::istringstream head(data.substr(at, eol - at));
    std::string magic;
    CenterSimRequest request;
    std::size_t sizes[4] = {};
    head >> magic >> request.listener >> sizes[0] >> sizes[1] >> sizes[2] >> sizes[3];
    if (magic != "QXSIM1" || !head) {
      return false;
    }
    std::size_t total = sizes[0] + sizes[1] + sizes[2] + sizes[3];
    std::size_t start = eol + 1;
    if (data.size() < start + total + 1) {
      return true;  // record cut short
    }
    if (data[start + total] != '\n') {
      return false;
    }
    std::string* fields[4] = {&request.method, &request.path, &request.headers, &request.body};
    for (int i = 0; i < 4; ++i) {
      fields[i]->assign(data, start, sizes[i]);
      start += sizes[i];
    }
    requests->push_back(std::move(request));
    at = start + 1;
  }
  return true;
}

CenterSimProcess::CenterSimProcess(std::vector<std::string> extra_args) {
#ifdef QX_CENTER_SIM_FILE
  const std::string binary = QX_CENTER_SIM_FILE;
#else
  const std::string binary;
  error_ = "QX_CENTER_SIM_FILE is not defined: qx-center-sim is not built";
  return;
#endif
  std::string pattern = (std::filesystem::temp_directory_path() / "qx-center-sim-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error_ = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  directory_ = pattern;
  log_path_ = directory_ + "/requests.log";

  std::vector<std::string> args = {binary,    "--port",         "0",  "--log",
                                   log_path_, "--idle-seconds", "120"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  std::vector<char*> argv;
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    ::close(pipe_fds[0]);
    error_ = "posix_spawn " + binary + ": " + std::strerror(spawned);
    return;
  }
  pid_ = pid;
  uint16_t port = 0;
  uint16_t second_port = 0;
  bool named = ReadPorts(pipe_fds[0], &port, &second_port, &error_);
  // The sim writes nothing more to standard output; closing our end is safe.
  ::close(pipe_fds[0]);
  if (!named) {
    Stop();
    return;
  }
  port_ = port;
  second_port_ = second_port;
}

CenterSimProcess::~CenterSimProcess() {
  Stop();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

void CenterSimProcess::Stop() {
  if (pid_ <= 0) {
    return;
  }
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

std::vector<CenterSimRequest> CenterSimProcess::Requests() const {
  std::vector<CenterSimRequest> requests;
  if (!ReadCenterSimLog(log_path_, &requests)) {
    ADD_FAILURE() << "cannot read the center sim's log " << log_path_;
    requests.clear();
  }
  return requests;
}

}  // namespace qx::test
