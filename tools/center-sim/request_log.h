// The request log of the simulated center: every request it receives, appended before it is
// answered, so a client holding the reply can already read its request in the log.
//
// Format (tests/support/center_sim_log.cpp reads it): one record per request,
//
//   "QXSIM1 " listener " " len(method) " " len(path) " " len(headers) " " len(body) "\n"
//   method path headers body "\n"
//
// listener is "main" or "second"; the lengths are decimal byte counts; headers are the request's
// header lines as "Name: value\r\n" each; the body is the raw bytes as received (GBK).
#ifndef QX_TOOLS_CENTER_SIM_REQUEST_LOG_H_
#define QX_TOOLS_CENTER_SIM_REQUEST_LOG_H_

#include <mutex>
#include <string>
#include <string_view>

namespace qx::sim {

class RequestLog {
 public:
  RequestLog() = default;
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  ~RequestLog();

  // Truncates or creates path. False with a message on stderr when it cannot be opened.
  bool Open(const std::string& path);

  // Appends one record; does nothing when no log was opened.
  void Append(std::string_view listener, std::string_view method, std::string_view path,
              std::string_view headers, std::string_view body);

 private:
  std::mutex mutex_;
  int fd_ = -1;
};

}  // namespace qx::sim

#endif  // QX_TOOLS_CENTER_SIM_REQUEST_LOG_H_
