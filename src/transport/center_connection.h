// CenterConnection: one HTTP POST of a request to the center's servlet per business call, and
// the reply's head and body handed on as they arrive. The exchange's rules live here: the
// retries after a 401 or a 407, the one redirect followed, what is refused. It sits on
// platform::HttpClient, which only posts; the message boxes it shows go through platform::Prompts.
#ifndef QX_TRANSPORT_CENTER_CONNECTION_H_
#define QX_TRANSPORT_CENTER_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"

namespace qx::platform {
class HttpClient;
class HttpSink;
class Prompts;
}  // namespace qx::platform

namespace qx::transport {

// The longest reply handed to the host: its length must fit the 32-bit signed results of
// business_handle and result_handle. A longer body, or a Content-Length over it, is a kNetwork
// failure.
inline constexpr std::size_t kMaxReplyBytes = 2147483647;

class CenterConnection {
 public:
  CenterConnection(platform::HttpClient& http, platform::Prompts& prompts);
  CenterConnection(const CenterConnection&) = delete;
  CenterConnection& operator=(const CenterConnection&) = delete;
  virtual ~CenterConnection();

  void SetServer(const std::string& server, uint16_t port);
  // tls on: every exchange goes over HTTPS to the same server and port, the certificate verified
  // (against ca_file's CA certificates when it is not empty, where the platform takes a file). A
  // redirect is then followed to https only, one to http refused; off, as before: to http only.
  void SetTls(bool on, const std::string& ca_file);

  // Whether requests can go to the server set: ok, or the failure (kLocal, or kNetwork from
  // WinInet) after a "系统错误" box showing its words.
  Status Connect();

  // Posts request (its bytes up to the first zero byte) to servlet and hands the reply's head and
  // body to reply: the answer that is neither a credential question nor a redirect followed. A
  // 401, 404 or 500 page, or a 307, is a reply like any other: ok. reply.OnHead is called once,
  // and only with an answer whose announced length a reply may have; the body pieces follow as
  // they arrive, never more than kMaxReplyBytes in all. On failure reply may have had part of a
  // body, which the caller drops, and the status's kind and words are what the -4 message needs:
  //   kLocal    the server cannot be used (after its box; no words), or a failure of this machine
  //   kNetwork  the network or the HTTP exchange, with WinInet's or libcurl's words; no box
  //   kRefused  the credentials not given, or a redirect that is not followed (after a box
  //             saying which; no words)
  Status Exchange(const std::string& servlet, const std::string& request,
                  platform::HttpSink& reply);

  const std::string& server() const { return server_; }
  uint16_t port() const { return port_; }
  bool tls() const { return tls_; }

 private:
  Status Refuse(const char* text);

  platform::HttpClient& http_;
  platform::Prompts& prompts_;
  uint16_t port_ = 0;
  std::string server_;
  bool tls_ = false;
  std::string ca_file_;
};

}  // namespace qx::transport

#endif  // QX_TRANSPORT_CENTER_CONNECTION_H_
