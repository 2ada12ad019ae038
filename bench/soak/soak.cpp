// qx_soak: N business calls (default 100 000) in one process through the loaded library, as a
// hospital's system makes them all day, against the simulated center on loopback. Reports the
// resident memory after the first 1 000 calls and at the end, and fails (exit 1) when it grew by
// more than 1 MB in between, or when a call fails.
//
//   qx_soak [--count N] [--library PATH] [--center-sim PATH]
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "qx_interface.h"

#ifndef QX_SOAK_CENTER_SIM
#define QX_SOAK_CENTER_SIM "qx-center-sim"
#endif

namespace {

constexpr long kWarmUpCalls = 1000;
constexpr long kAllowedGrowthKb = 1024;

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The simulated center as a child process, stopped by its PID when this object goes.
class CenterSim {
 public:
  explicit CenterSim(const char* program) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execl(program, program, "--port", "0", "--idle-seconds", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    // The sim names its port at once; a bounded read of its first lines.
    while (text.find("second-port") == std::string::npos &&
           (n = read(out[0], buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (text.rfind("port ", 0) == 0) port_ = std::atoi(text.c_str() + 5);
  }
  ~CenterSim() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  CenterSim(const CenterSim&) = delete;
  CenterSim& operator=(const CenterSim&) = delete;
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  long count = 100000;
  std::string library = QX_SOAK_LIBRARY;
  std::string center_sim = QX_SOAK_CENTER_SIM;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--count") {
      count = std::strtol(argv[i + 1], nullptr, 10);
    } else if (option == "--library") {
      library = argv[i + 1];
    } else if (option == "--center-sim") {
      center_sim = argv[i + 1];
    } else {
      std::fprintf(stderr, "usage: qx_soak [--count N] [--library PATH] [--center-sim PATH]\n");
      return 2;
    }
  }
  if (count < kWarmUpCalls) count = kWarmUpCalls;

  CenterSim sim(center_sim.c_str());
  if (sim.port() == 0) {
    std::fprintf(stderr, "qx_soak: the simulated center did not start\n");
    return 2;
  }
  char directory[] = "/tmp/qx-soak-XXXXXX";
  if (mkdtemp(directory) == nullptr || chdir(directory) != 0) return 2;
  const std::string ini_path = std::string(directory) + "/qx_interface.ini";
  {
    std::ofstream ini(ini_path, std::ios::binary);
    ini << "[center]\r\nserver=127.0.0.1\r\nport=" << sim.port()
        << "\r\nservlet=/qx/servlet\r\ncom=1\r\n\r\n";
  }
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "qx_soak: %s\n", dlerror());
    return 2;
  }
  auto init = reinterpret_cast<int(QX_CALL*)(char*)>(dlsym(handle, "init_handle"));
  auto business =
      reinterpret_cast<int(QX_CALL*)(const char*, char*)>(dlsym(handle, "business_handle"));
  std::string buffer(256, ' ');
  int failures = 0;
  if (init == nullptr || business == nullptr || init(buffer.data()) != 1) {
    std::fprintf(stderr, "qx_soak: init_handle failed\n");
    failures = 1;
  }
  const char* const session[] = {
      "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
      "<password>123456</password></parameters></Program>",
      "<Program><FunctionID>8</FunctionID></Program>",
  };
  for (const char* request : session) {
    if (failures == 0) {
      buffer.assign(65536, ' ');
      failures += business(request, buffer.data()) < 0 ? 1 : 0;
    }
  }
  const char* const calls[] = {
      "<Program><FunctionID>11</FunctionID><parameters><indi_id>430102198001010012</indi_id>"
      "</parameters></Program>",
      "<Program><FunctionID>21</FunctionID><parameters><count>20</count></parameters></Program>",
      "<Program><FunctionID>51</FunctionID><parameters/></Program>",
      "<Program><FunctionID>99</FunctionID><parameters/></Program>",
  };
  long warm_kb = -1;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count && failures == 0; ++i) {
    buffer.assign(65536, ' ');
    if (business(calls[i % 4], buffer.data()) < 0) {
      std::fprintf(stderr, "qx_soak: call %ld failed: %.300s\n", i + 1, buffer.c_str());
      ++failures;
    }
    if (i + 1 == kWarmUpCalls) warm_kb = ResidentKb();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long end_kb = ResidentKb();
  dlclose(handle);
  unlink(ini_path.c_str());
  rmdir(directory);

  const long growth = end_kb - warm_kb;
  std::printf(
      "calls %ld in %.1f s; resident after %ld calls %ld kB, at the end %ld kB, growth %ld "
      "kB (limit %ld kB)\n",
      count, seconds, kWarmUpCalls, warm_kb, end_kb, growth, kAllowedGrowthKb);
  if (failures != 0) return 1;
  if (growth > kAllowedGrowthKb) {
    std::printf("qx_soak: FAILED, resident memory grew by more than 1 MB\n");
    return 1;
  }
  return 0;
}
