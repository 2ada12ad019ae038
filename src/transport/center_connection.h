// CenterConnection: one HTTP POST of a request to the center's servlet per business call, and
// the whole response body back as the reply. Sits on platform::HttpClient; the message boxes it
// shows go through platform::Prompts.
#ifndef QX_TRANSPORT_CENTER_CONNECTION_H_
#define QX_TRANSPORT_CENTER_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qx::platform {
class HttpClient;
class HttpConnection;
class HttpError;
class HttpRequest;
class Prompts;
}  // namespace qx::platform

namespace qx::transport {

class CenterConnection {
 public:
  // Results of Exchange.
  static constexpr int32_t kOk = 0;
  static constexpr int32_t kFailed = -1;          // no connection, or a failure of our own
  static constexpr int32_t kInternetFailed = -2;  // the network, or a refused credential/redirect

  CenterConnection(platform::HttpClient& http, platform::Prompts& prompts);
  CenterConnection(const CenterConnection&) = delete;
  CenterConnection& operator=(const CenterConnection&) = delete;
  virtual ~CenterConnection();

  void SetServer(const std::string& server, uint16_t port);

  // 0 when a connection object exists afterwards; -1 (after the "系统错误" box) when not.
  int32_t Connect();

  // Posts request to servlet and appends the response body to reply (which the caller has
  // emptied). On an internet failure reply is replaced by the failure's description.
  int32_t Exchange(const std::string& servlet, const std::string& request, std::string& reply);

  // The same, calling on_piece after each piece of the body is appended to reply, with the
  // reply so far and the offset where that piece starts (for work best done while the bytes are
  // fresh in the cache). Not called for the bodies of 401 or redirect answers, nor for a failure.
  using PieceObserver = std::function<void(std::string_view reply, std::size_t from)>;
  int32_t Exchange(const std::string& servlet, const std::string& request, std::string& reply,
                   const PieceObserver& on_piece);

  const std::string& server() const { return server_; }
  uint16_t port() const { return port_; }

 private:
  int32_t Post(platform::HttpConnection& connection, std::string_view object, std::string_view body,
               std::unique_ptr<platform::HttpRequest>* request, uint32_t* status,
               std::string& reply);
  int32_t Redirect(std::unique_ptr<platform::HttpRequest>* request, std::string_view body,
                   std::string& reply);
  void ReserveAnnounced(platform::HttpRequest& request, std::string& reply);
  int32_t ReadBody(platform::HttpRequest& request, std::string& reply,
                   const PieceObserver& on_piece);
  static int32_t Fail(const platform::HttpError& error, std::string& reply);
  int32_t Refuse(const char* text);

  int32_t read_size_ = 500000;  // bytes asked for per read of the response body
  uint32_t request_flags_;      // no cache, no automatic redirect
  platform::HttpClient& http_;
  platform::Prompts& prompts_;
  std::unique_ptr<platform::HttpConnection> connection_;
  uint16_t port_ = 0;
  std::string server_;
};

}  // namespace qx::transport

#endif  // QX_TRANSPORT_CENTER_CONNECTION_H_
