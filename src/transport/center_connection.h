// CenterConnection: one HTTP POST of a request to the center's servlet per business call, and
// the whole response body back as the reply. The exchange's rules live here: the one retry after
// a 401, the one redirect followed, what is refused. It sits on platform::HttpClient, which only
// posts and reads; the message boxes it shows go through platform::Prompts.
#ifndef QX_TRANSPORT_CENTER_CONNECTION_H_
#define QX_TRANSPORT_CENTER_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace qx::platform {
class HttpClient;
class HttpConnection;
class HttpRequest;
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

  // Replaces the connection object with a new one to server:port. Ok when one exists afterwards;
  // otherwise the failure (kLocal, or kNetwork from WinInet), after a "系统错误" box showing its
  // words.
  Status Connect();

  // Posts request (its bytes up to the first zero byte) to servlet and appends the response body
  // to reply (which the caller has emptied). A 401, 404 or 500 page, or a 307, is a reply like
  // any other: ok. On failure reply is as the caller gave it, and the status's kind and words
  // are what the -4 message needs:
  //   kLocal    no connection object (after its box; no words), or a failure of this machine
  //   kNetwork  the network or the HTTP exchange, with WinInet's or libcurl's words; no box
  //   kRefused  the credentials not given, or a redirect that is not followed (after a box
  //             saying which; no words)
  Status Exchange(const std::string& servlet, const std::string& request, std::string& reply);

  // The same, calling on_piece after each piece of the body is appended to reply, with the
  // reply so far and the offset where that piece starts (for work best done while the bytes are
  // fresh in the cache). Not called for the bodies of 401 or redirect answers, nor for a failure.
  using PieceObserver = std::function<void(std::string_view reply, std::size_t from)>;
  Status Exchange(const std::string& servlet, const std::string& request, std::string& reply,
                  const PieceObserver& on_piece);

  const std::string& server() const { return server_; }
  uint16_t port() const { return port_; }

 private:
  Status Post(platform::HttpConnection& connection, std::string_view path, std::string_view body,
              std::unique_ptr<platform::HttpRequest>* request);
  Status Send(const std::string& servlet, std::string_view body,
              std::unique_ptr<platform::HttpRequest>* request);
  Status Redirect(std::unique_ptr<platform::HttpRequest>* request, std::string_view body);
  Status ReadBody(platform::HttpRequest& request, std::string& reply,
                  const PieceObserver& on_piece);
  Status Refuse(const char* text);

  int32_t read_size_ = 500000;  // bytes asked for per read of the response body
  platform::HttpClient& http_;
  platform::Prompts& prompts_;
  std::unique_ptr<platform::HttpConnection> connection_;
  uint16_t port_ = 0;
  std::string server_;
};

}  // namespace qx::transport

#endif  // QX_TRANSPORT_CENTER_CONNECTION_H_
