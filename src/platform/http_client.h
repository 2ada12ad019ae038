// The HTTP client as the exchange needs it: post these bytes with these headers to
// server:port/path, hand the sink the status and headers of the answer, then the body piece by
// piece as it arrives, and let the sink ask for credentials after a 401 or a 407. Neutral between
// WinInet (win32/) and libcurl (posix/), each of which fits itself to this shape; what the exchange
// does with a 401 or a redirect is transport/'s (CenterConnection), not this client's.
//
// Every request is fetched from the center itself, never from a cache, and no redirect is ever
// followed by the client: a 3xx is handed to the sink like any other status. A request reaches
// the server at most once per post: when a connection breaks after the request may have gone out
// (a kept-alive connection closed or reset before the answer), Post fails with kNetwork and
// nothing is sent again. The server's cookies are kept in memory for the life of the client and
// sent back as a browser would; nothing is written to disk.
//
// Nothing here throws for a network or protocol failure: every operation that can fail returns a
// qx::Status, converted once where the failure is met: kNetwork for the network or the HTTP
// exchange itself (WinInet's "internet" failures), kLocal for a failure of this machine (memory,
// a session that cannot be opened, a server name that cannot be used). The words are those of
// WinInet or libcurl, and are what the clerk or host reads of the failure. std::bad_alloc may
// still escape. All calls block the calling thread; one client may serve several threads.
#ifndef QX_PLATFORM_HTTP_CLIENT_H_
#define QX_PLATFORM_HTTP_CLIENT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/status.h"

namespace qx::platform {

class Prompts;

// One request header, sent as "name: value".
struct HttpHeader {
  std::string_view name;
  std::string_view value;
};

// One POST: "POST <path> HTTP/1.1" to server:port (port 0 is the default port, 80, or 443 with
// tls), Host, Content-Length, then headers in the order given and nothing the client would add of
// its own; body is sent as it is, exactly body.size() bytes. The path's bytes a URL may not hold
// are escaped on POSIX.
//
// tls: the post goes over HTTPS, the server's certificate and its name verified against the
// system's trust store, or against the CA certificates of the PEM file ca_file when it is not
// empty (POSIX only: WinInet takes no file, see CaFileUsed). A certificate that fails is a
// kNetwork failure whose words say why (texts::CertificateFailure); nobody is asked to go on.
struct HttpPost {
  std::string_view server;
  uint16_t port = 0;
  std::string_view path;
  std::span<const HttpHeader> headers;
  std::string_view body;
  bool tls = false;
  std::string_view ca_file;
};

// The port a post to port goes to: port, or the scheme's default when it is 0 (80; 443 with tls).
constexpr uint16_t PortOrDefault(uint16_t port, bool tls) {
  return port != 0 ? port : tls ? 443 : 80;
}
// The URL scheme of a post, "https" with tls, else "http".
constexpr const char* SchemeOf(bool tls) { return tls ? "https" : "http"; }

// Whether this platform's client honours HttpPost::ca_file (libcurl does; WinInet trusts only the
// machine's store).
bool CaFileUsed();

// What the credential question led to: post again with credentials the clerk has just given
// (kRetry), post again with credentials kept from an earlier exchange for the same server (or
// proxy) and realm, nobody asked (kRetryKept), or give up (kCancel).
enum class CredentialAnswer { kRetry, kRetryKept, kCancel };

// The final response's head (a 1xx skipped), as the sink is handed it. Valid during OnHead only.
class HttpResponse {
 public:
  HttpResponse() = default;
  HttpResponse(const HttpResponse&) = delete;
  HttpResponse& operator=(const HttpResponse&) = delete;

  virtual uint32_t status() const = 0;

  // The value of the first header whose name is spelled exactly name (byte for byte: "location"
  // is not "Location"), without the blanks around it. None when there is none.
  virtual std::optional<std::string> Header(std::string_view name) = 0;

  // The status line and the header lines as the client received them (WinInet rebuilds them as
  // "Name: value"), each ended by CR LF: for a diagnostic record.
  virtual std::string Head() = 0;

  // After a 401 (the server) or a 407 (the proxy between): credentials for the post again. On
  // POSIX, credentials the clerk gave earlier for the same server or proxy and realm are taken
  // first, once per Post and kind (kRetryKept, nobody is asked); otherwise the clerk is asked
  // through prompts.AskCredentials. On Windows the system's credential dialog asks (modal) and
  // WinInet keeps the answer. kRetry when they were given, kCancel otherwise.
  virtual CredentialAnswer AskCredentials(Prompts& prompts) = 0;

 protected:
  ~HttpResponse() = default;
};

// What the sink wants after a head: its body (kBody), the same request posted again (kPostAgain,
// after AskCredentials gave credentials; this answer's body is skipped), or nothing more (kDone:
// the body is not read, and its connection may be closed).
enum class HeadAction { kBody, kPostAgain, kDone };

// Where the answer goes. Called on the thread that called Post, in this order: OnHead once per
// answer (again after each kPostAgain), then OnBody for each piece of that answer's body after a
// kBody, in order, never empty.
class HttpSink {
 public:
  virtual HeadAction OnHead(HttpResponse& response) = 0;
  // A failure ends the transfer, and Post returns it.
  virtual Status OnBody(std::string_view piece) = 0;

 protected:
  ~HttpSink() = default;
};

class HttpClient {
 public:
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  virtual ~HttpClient() = default;

  // Whether requests can go to server:port: kLocal when no session can be opened or the server
  // name cannot be used (empty, or not a host name); WinInet may answer kNetwork. No network I/O.
  virtual Status Check(const std::string& server, uint16_t port) = 0;

  // Posts post and hands the answer to sink, as above. Ok when an answer came and was taken as
  // far as the sink wanted (a body read to its end after kBody); a failure otherwise, after which
  // the sink may have had part of a body. A body that ends before its announced length is a
  // kNetwork failure, not an end.
  virtual Status Post(const HttpPost& post, HttpSink& sink) = 0;

  // How long to wait for a TCP connection, and for the next byte of a response once the request
  // is out (a stalled center). Both are 60 seconds unless changed; tests shorten them. There is
  // no limit on the whole exchange. Applies to posts started afterwards.
  virtual void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) = 0;

  // A limit on the whole exchange: past deadline, whatever is under way (connecting, sending,
  // waiting, reading) fails with kNetwork and words naming the limit of `limit` seconds, and
  // nothing is sent again. limit 0 lifts it. Off unless set; a client that cannot enforce it
  // ignores it.
  virtual void SetDeadline(std::chrono::steady_clock::time_point /*deadline*/,
                           std::chrono::seconds /*limit*/) {}
};

// The words of an exchange that ran past its limit, as both clients give them.
inline std::string DeadlineText(std::chrono::seconds limit) {
  return "the call ran past its limit of " + std::to_string(limit.count()) +
         " s (call_timeout in [log]); the request is not sent again";
}

// A fresh client of the real platform, for tools and tests that want one of their own.
std::unique_ptr<HttpClient> NewHttpClient();

}  // namespace qx::platform

#endif  // QX_PLATFORM_HTTP_CLIENT_H_
