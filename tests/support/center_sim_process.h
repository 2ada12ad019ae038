// Starting the simulated center (qx-center-sim) for a test, and reading what it received.
//
//   qx::test::CenterSimProcess sim;           // starts it on 127.0.0.1, port picked by the system
//   ASSERT_TRUE(sim.ok()) << sim.error();
//   ... post to 127.0.0.1:sim.port() at sim.servlet() ...
//   std::vector<qx::test::CenterSimRequest> seen = sim.Requests();
//
// The destructor stops the process by its PID (SIGTERM, up to 5 s of waitpid, then SIGKILL) and
// removes its scratch directory, also when the test fails. The binary is QX_CENTER_SIM_FILE.
// The sim's business functions and /scenario/ paths are described in docs/center-sim.md.
#ifndef QX_TESTS_SUPPORT_CENTER_SIM_PROCESS_H_
#define QX_TESTS_SUPPORT_CENTER_SIM_PROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx::test {

// One request as the sim logged it, bytes as received.
struct CenterSimRequest {
  std::string listener;  // "main" or "second" (the redirect target)
  std::string method;
  std::string path;
  std::string headers;  // "Name: value\r\n" lines; the sim sorts them by name
  std::string body;

  // The value of the first header called name (case-insensitive); empty when absent.
  std::string Header(std::string_view name) const;
};

// Parses a log file written by qx-center-sim --log. A record cut short at the end of the file
// (the sim still writing it) is left out. False when the file cannot be read or is malformed.
bool ReadCenterSimLog(const std::string& path, std::vector<CenterSimRequest>* requests);

class CenterSimProcess {
 public:
  // Known to the sim unless overridden through extra_args.
  static constexpr const char* kServlet = "/qx/servlet";
  static constexpr const char* kAuthUser = "clerk";  // Basic auth of /scenario/401
  static constexpr const char* kAuthPassword = "s3cret";
  static constexpr const char* kLoginUser = "admin";  // parameters of function "0"
  static constexpr const char* kLoginPassword = "123456";
  static constexpr const char* kToken = "QXTOKEN-20240001";

  // Starts the sim with --port 0, --log in a scratch directory and --idle-seconds 120, plus
  // extra_args. Waits at most 10 s for it to name its ports.
  explicit CenterSimProcess(std::vector<std::string> extra_args = {});
  CenterSimProcess(const CenterSimProcess&) = delete;
  CenterSimProcess& operator=(const CenterSimProcess&) = delete;
  ~CenterSimProcess();

  bool ok() const { return port_ != 0; }
  const std::string& error() const { return error_; }
  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }
  uint16_t second_port() const { return second_port_; }
  const std::string& log_path() const { return log_path_; }

  // Everything logged so far; empty (with a test failure added) when the log cannot be read.
  std::vector<CenterSimRequest> Requests() const;

  // Stops the process now (as the destructor does); later calls do nothing.
  void Stop();

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  uint16_t second_port_ = 0;
  std::string directory_;
  std::string log_path_;
  std::string error_;
};

}  // namespace qx::test

#endif  // QX_TESTS_SUPPORT_CENTER_SIM_PROCESS_H_
