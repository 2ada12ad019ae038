// The HTTP client as the transport uses it, cut along the lines of the Windows internet API so
// that one implementation sits on WinInet and one on libcurl without the transport knowing which:
//
//   HttpClient      the internet session (InternetOpen, agent "Quillon_Net", no cache); opened
//                   lazily by the first operation that needs it, closed with the object.
//   HttpConnection  a connection object to server:port (InternetConnect). Making one does no
//                   network I/O on POSIX; the first request opens the TCP connection.
//   HttpRequest     one request on a connection (HttpOpenRequest .. InternetReadFile): send,
//                   query the status and the raw headers, ask for credentials, read the body.
//   CrackUrl        splits an absolute URL (InternetCrackUrl).
//
// Nothing here throws for a network or protocol failure: every operation that can fail returns
// an HttpError, which is either ok or carries a kind (an internet failure, i.e. the network or
// the HTTP exchange itself, or another failure such as a local resource) and the description the
// user or the host gets to read. std::bad_alloc may still escape. All calls block the calling
// thread; one object is used by one thread at a time. Connections and requests must not outlive
// the HttpClient that made them.
#ifndef QX_PLATFORM_HTTP_CLIENT_H_
#define QX_PLATFORM_HTTP_CLIENT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qx::platform {

class Prompts;

class HttpError {
 public:
  enum class Kind { kNone, kInternet, kOther };

  HttpError() = default;
  static HttpError Internet(std::string description) {
    return HttpError(Kind::kInternet, std::move(description));
  }
  static HttpError Other(std::string description) {
    return HttpError(Kind::kOther, std::move(description));
  }

  bool ok() const { return kind_ == Kind::kNone; }
  Kind kind() const { return kind_; }
  const std::string& description() const { return description_; }

 private:
  HttpError(Kind kind, std::string description)
      : kind_(kind), description_(std::move(description)) {}

  Kind kind_ = Kind::kNone;
  std::string description_;
};

// Request flags, with the values the Windows internet API gives them.
inline constexpr uint32_t kHttpFlagReload = 0x80000000u;          // never answer from a cache
inline constexpr uint32_t kHttpFlagNoAutoRedirect = 0x00200000u;  // hand 3xx to the caller

// What the credential question led to (the InternetErrorDlg analogue).
enum class CredentialAnswer { kRetry, kCancel };

// An absolute URL split into its parts. port is the URL's port or the scheme's default.
struct UrlParts {
  enum class Scheme { kHttp, kHttps, kOther };
  Scheme scheme = Scheme::kOther;
  std::string scheme_name;  // as written, lower case
  std::string host;         // without brackets for an IPv6 literal
  uint16_t port = 0;
  std::string path;  // path and query as written; "/" when the URL has none
};

class HttpRequest {
 public:
  HttpRequest() = default;
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;
  virtual ~HttpRequest() = default;

  // Sends the request: headers is a block of "Name: value\r\n" lines sent after the request
  // line, Host and Content-Length and replacing any header the client would add of its own;
  // body is sent as it is, exactly body.size() bytes. Returns once the final response's status
  // and headers are in (a 1xx is skipped); the body is left for Read. Calling Send again sends
  // the request anew (after credentials were given) and forgets the earlier response.
  virtual HttpError Send(std::string_view headers, std::string_view body) = 0;

  // The status code of the response. An internet failure when no status line was received.
  virtual HttpError QueryStatusCode(uint32_t* status) = 0;

  // All headers of the response as one text: the status line, each header line, the empty line,
  // every line ended by CR LF (HTTP_QUERY_RAW_HEADERS_CRLF).
  virtual HttpError QueryRawHeaders(std::string* headers) = 0;

  // After a 401: asks for a user name and password for this request's server (on POSIX through
  // prompts.AskCredentials, on Windows through the system's credential dialog) and keeps them in
  // the request for the next Send. kRetry when the user gave them, kCancel otherwise.
  virtual CredentialAnswer AskCredentials(Prompts& prompts) = 0;

  // Reads up to size bytes of the body into buffer; *read is 0 once the body is complete.
  virtual HttpError Read(char* buffer, std::size_t size, std::size_t* read) = 0;
};

class HttpConnection {
 public:
  HttpConnection() = default;
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;
  virtual ~HttpConnection() = default;

  // Tells the session it is online (INTERNET_OPTION_CONNECTED_STATE); nothing on POSIX.
  virtual void SetConnectedState() = 0;

  // Opens a request with verb on object (the path sent on the request line). Opening does no
  // network I/O on POSIX.
  virtual HttpError OpenRequest(std::string_view verb, std::string_view object, uint32_t flags,
                                std::unique_ptr<HttpRequest>* request) = 0;
};

class HttpClient {
 public:
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  virtual ~HttpClient() = default;

  // A connection object to server:port over plain HTTP; port 0 is the default port, 80. Fails
  // (kind other) when no session can be opened or the server name cannot be used (empty).
  virtual HttpError Connect(const std::string& server, uint16_t port,
                            std::unique_ptr<HttpConnection>* connection) = 0;

  // Splits an absolute URL ("scheme://host[:port][/path]"). False when it is not one.
  virtual bool CrackUrl(std::string_view url, UrlParts* parts) = 0;

  // How long to wait for a TCP connection, and for the next byte of a response once the request
  // is out (a stalled center). Both are about 60 seconds unless changed; tests shorten them.
  // There is no limit on the whole exchange. Applies to requests opened afterwards.
  virtual void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) = 0;
};

// A fresh client of the real platform, for tools and tests that want one of their own.
std::unique_ptr<HttpClient> NewHttpClient();

}  // namespace qx::platform

#endif  // QX_PLATFORM_HTTP_CLIENT_H_
