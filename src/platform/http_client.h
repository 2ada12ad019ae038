// The HTTP client as the transport needs it: post these bytes with these headers to
// server:port/path, then the status, one header by name, the body in pieces, and one question
// for credentials after a 401 or a 407. Neutral between WinInet (win32/) and libcurl (posix/); what
// the exchange does with a 401 or a redirect is transport/'s (CenterConnection), not this client's.
//
//   HttpClient      the session: opened lazily by the first Connect, closed with the object;
//                   owns the time-outs.
//   HttpConnection  server:port over plain HTTP. Making one checks the name and does no network
//                   I/O on POSIX; the first request opens the TCP connection.
//   HttpRequest     one POST to one path on a connection: post, status, header, read, ask for
//                   credentials and post again.
//
// Every request is fetched from the center itself, never from a cache, and no redirect is ever
// followed by the client: a 3xx is handed back like any other status. A request reaches the
// server at most once per Post: when a connection breaks after the request may have gone out
// (a kept-alive connection closed or reset before the answer), Post fails with kNetwork and
// nothing is sent again. The server's cookies are kept in memory for the life of the client
// and sent back as a browser would; nothing is written to disk.
//
// Nothing here throws for a network or protocol failure: every operation that can fail returns a
// qx::Status, converted once where the failure is met: kNetwork for the network or the HTTP
// exchange itself (WinInet's "internet" failures), kLocal for a failure of this machine (memory,
// a session that cannot be opened, a server name that cannot be used). The words are those of
// WinInet or libcurl, and are what the clerk or host reads of the failure. std::bad_alloc may
// still escape. All calls block the calling thread; one object is used by one thread at a time.
// Connections and requests must not outlive the HttpClient that made them.
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

// What the credential question led to: post again with credentials the clerk has just given
// (kRetry), post again with credentials kept from an earlier exchange for the same server (or
// proxy) and realm, nobody asked (kRetryKept), or give up (kCancel).
enum class CredentialAnswer { kRetry, kRetryKept, kCancel };

class HttpRequest {
 public:
  HttpRequest() = default;
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;
  virtual ~HttpRequest() = default;

  // Sends "POST <path> HTTP/1.1", Host, Content-Length, then headers in the order given and
  // nothing the client would add of its own; body is sent as it is, exactly body.size() bytes.
  // Returns once the final response's status and headers are in (a 1xx is skipped); the body is
  // left for Read. Ok means a status was received (status() holds it), whatever it is. Calling
  // Post again sends the request anew (after AskCredentials) and forgets the earlier response.
  virtual Status Post(std::span<const HttpHeader> headers, std::string_view body) = 0;

  // The status code of the response to the last successful Post; 0 before one.
  virtual uint32_t status() const = 0;

  // The value of the first header of that response whose name is spelled exactly name (byte for
  // byte: "location" is not "Location"), without the blanks around it. Empty when there is none.
  virtual std::optional<std::string> Header(std::string_view name) = 0;

  // Reads up to size bytes of the body into buffer; *read is 0 once the body is complete. A body
  // that ends before its announced length is a kNetwork failure, not an end.
  virtual Status Read(char* buffer, std::size_t size, std::size_t* read) = 0;

  // After a 401 (the server) or a 407 (the proxy between): credentials for the next Post. On
  // POSIX, credentials the clerk gave earlier for the same server or proxy and realm are taken
  // first, once per request and kind (kRetryKept, nobody is asked); otherwise the clerk is asked
  // through prompts.AskCredentials. On Windows the system's credential dialog asks (modal) and
  // WinInet keeps the answer. kRetry when they were given, kCancel otherwise.
  virtual CredentialAnswer AskCredentials(Prompts& prompts) = 0;

  // The status line and header lines of that response as received, each ended by CR LF, for
  // the diagnostic log; empty where the client cannot tell.
  virtual std::string Head() { return {}; }
};

class HttpConnection {
 public:
  HttpConnection() = default;
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;
  virtual ~HttpConnection() = default;

  // A request for path (sent on the request line; bytes a URL may not hold are escaped on
  // POSIX). No network I/O.
  virtual Status OpenRequest(std::string_view path, std::unique_ptr<HttpRequest>* request) = 0;
};

class HttpClient {
 public:
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  virtual ~HttpClient() = default;

  // A connection to server:port over plain HTTP; port 0 is the default port, 80. kLocal when no
  // session can be opened or the server name cannot be used (empty, or not a host name).
  virtual Status Connect(const std::string& server, uint16_t port,
                         std::unique_ptr<HttpConnection>* connection) = 0;

  // How long to wait for a TCP connection, and for the next byte of a response once the request
  // is out (a stalled center). Both are 60 seconds unless changed; tests shorten them. There is
  // no limit on the whole exchange. Applies to connections and requests made afterwards.
  virtual void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) = 0;

  // A limit on the whole business call: past deadline, whatever is under way (connecting,
  // sending, waiting, reading) fails with kNetwork and words naming the limit of `limit`
  // seconds, and nothing is sent again. limit 0 lifts it. Off unless set; clients that cannot
  // enforce it ignore it.
  virtual void SetDeadline(std::chrono::steady_clock::time_point /*deadline*/,
                           std::chrono::seconds /*limit*/) {}
};

// The words of a call that ran past its limit, as both clients give them.
inline std::string DeadlineText(std::chrono::seconds limit) {
  return "the call ran past its limit of " + std::to_string(limit.count()) +
         " s (call_timeout in [log]); the request is not sent again";
}

// A fresh client of the real platform, for tools and tests that want one of their own.
std::unique_ptr<HttpClient> NewHttpClient();

}  // namespace qx::platform

#endif  // QX_PLATFORM_HTTP_CLIENT_H_
