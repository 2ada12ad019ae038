// The HTTP client on POSIX, over libcurl's multi interface.
//
// The caller gets control back after the response headers and pulls the body piece by piece.
// libcurl's easy interface runs a whole transfer in one call, so a request drives a multi handle
// instead: Post runs it until the first network chunk of the final body is in (or the transfer is
// over), the write callback pauses the transfer at the chunk after, and every Read resumes it
// until the piece asked for is in. At most one piece and one network chunk are held here; a small
// reply is whole when Post returns, and its Read costs no call into libcurl. Response header lines
// are read as they arrive (ReadHeaderLine) into the status and a list of names and values.
//
// Quirks handled where they arise:
//  - libcurl is initialised once per process (std::call_once); libcurl 7.88 with the threaded
//    resolver is thread-safe to initialise, and the session is opened lazily, never from a static
//    constructor.
//  - CURLOPT_NOSIGNAL: libcurl touches no signal disposition. A write to a socket the center
//    closed can still raise SIGPIPE, so SIGPIPE is blocked on the calling thread while libcurl
//    runs, and one raised meanwhile is taken off the thread's pending set before unblocking.
//  - Headers: libcurl adds Accept, Content-Type (for a POST) and Expect of its own; each is
//    removed or replaced so that the wire carries exactly the request line, Host, Content-Length
//    and the caller's headers, in that order. HTTP/1.1 is forced. No redirect is followed, and
//    nothing is cached.
//  - The easy and multi handles (and with them live connections and the DNS cache) are kept in
//    the client between requests: connection objects come and go per exchange, connections do
//    not have to. The options every request shares are set once per easy handle; a handle that
//    carried credentials is reset before it serves again, so no credential outlives its request.
//  - At most once: libcurl sends a request again on a fresh connection, unasked, when a kept-alive
//    connection it reused breaks before the answer, although the center may have taken the
//    request already. Its pre-request callback runs each time a request is about to go out on a
//    connection: the first time is the request, a second time is such a resend, and is refused
//    (CURLE_ABORTED_BY_CALLBACK, worded here). Only libcurl's own Digest negotiation sends twice
//    on purpose, a round without a body first, and is let through that once. So that a
//    connection the center closed or reset while it was idle does not fail the next call, the
//    kept connection is looked at before each request (poll, no wait): one that has anything to
//    say before it was asked (an end, a reset, stray bytes) is not used, and the request goes on
//    a new connection. libcurl 7.88's own check takes a reset connection for a live one.
//  - Cookies: one share handle holds the servers' cookies in memory for the life of the client
//    (libcurl's cookie engine, no file), as WinInet's session keeps them.
//  - Proxies: whatever the environment configures (http_proxy, ALL_PROXY, no_proxy/NO_PROXY; not
//    HTTP_PROXY, which libcurl ignores on purpose), as libcurl reads it at each request.
//  - Credentials after a 401 or a proxy's 407: kept per server (or proxy) and realm in the client
//    for its life, tried once before the clerk is asked again, wiped when the client goes.
//    Basic is left to libcurl, which sends it with the first request.
//    libcurl's Digest would first send a probing request without a body to get a challenge of
//    its own; the challenge of the 401 already in hand is answered here instead
//    (posix/http_digest.h), so the retry is one request with the body and the Authorization.
//  - Port 0 is the service's default, 80, as for WinInet.
//  - Descriptors: sockets to the center are opened close-on-exec (the slot's OpenSocket),
//    and so is the multi handle's wake-up socket pair once made (no option reaches it). A kept
//    transfer slot made in another process (the host forked) is dropped, never used: its
//    connections are the parent's.
//  - Failures become qx::Status here: libcurl's own words (curl_easy_strerror and the error
//    buffer); kLocal for memory and set-up failures, kNetwork for everything on the wire.
#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/status.h"
#include "platform/default_parts.h"
#include "platform/http_client.h"
#include "platform/memory_wipe.h"
#include "platform/posix/http_digest.h"
#include "platform/prompts.h"

namespace qx::platform {
namespace {

constexpr std::chrono::milliseconds kDefaultConnectTimeout{60000};
constexpr std::chrono::milliseconds kDefaultStallTimeout{60000};

// ---- libcurl, once per process -----------------------------------------------------------------

struct CurlGlobal {
  CURLcode code = CURLE_FAILED_INIT;
  ~CurlGlobal() {
    if (code == CURLE_OK) {
      curl_global_cleanup();
    }
  }
};

CURLcode InitCurlOnce() {
  static std::once_flag once;
  static CurlGlobal global;
  std::call_once(once, [] { global.code = curl_global_init(CURL_GLOBAL_ALL); });
  return global.code;
}

// ---- SIGPIPE on this thread only ---------------------------------------------------------------

#if defined(MSG_NOSIGNAL)
// libcurl writes to its plain sockets with send(..., MSG_NOSIGNAL) where the system has that flag
// (Linux), and plain HTTP has no other writer (no TLS: an https redirect is refused), so no
// SIGPIPE can be raised by a transfer here: the four system calls of a block per operation, a
// fifth of a small call's system calls, are spared.
class SigpipeBlock {
 public:
  SigpipeBlock() {}
  ~SigpipeBlock() {}  // nothing was blocked, nothing to restore
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;
};
#else
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigset_t pending;
    sigemptyset(&pending);
    was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_only, &old_) == 0;
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;
  ~SigpipeBlock() {
    if (!blocked_) {
      return;
    }
    // A SIGPIPE raised by our own writes would be delivered as soon as the mask is restored:
    // take it off first, unless it was pending (the host's) before we started.
    if (!was_pending_) {
      sigset_t pending;
      sigemptyset(&pending);
      if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        const timespec zero{0, 0};
        while (sigtimedwait(&pipe_only, nullptr, &zero) == -1 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t old_{};
  bool blocked_ = false;
  bool was_pending_ = false;
};
#endif

// ---- helpers -----------------------------------------------------------------------------------

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Bytes that may not stand in a URL path as they are (space, controls, non-ASCII) are escaped.
std::string EscapePath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (path.empty() || path.front() != '/') {
    out += '/';
  }
  for (char c : path) {
    auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0f];
    } else {
      out += c;
    }
  }
  return out;
}

Status OutOfMemory() { return Status::Local("No HTTP request can be made: out of memory."); }

// libcurl's own resend of a request, refused by the pre-request callback.
Status ResendRefused() {
  return Status::Network(
      "The connection closed after the request was sent and before an answer came; the request "
      "is not sent again.");
}

Status CurlFailure(CURLcode code, const char* detail) {
  std::string text = curl_easy_strerror(code);
  if (detail != nullptr && detail[0] != '\0') {
    text += ": ";
    text += detail;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
  }
  switch (code) {
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_NOT_BUILT_IN:
      return Status::Local(std::move(text));
    default:
      return Status::Network(std::move(text));
  }
}

Status MultiFailure(const char* what, CURLMcode code) {
  return Status::Local(std::string(what) + curl_multi_strerror(code));
}

// ---- the response's head, line by line ---------------------------------------------------------

// The status and headers of the latest response of a transfer. libcurl hands over one line per
// call, line end included, for every response of the transfer (a 100 Continue, an authentication
// round): a status line starts the head anew.
struct ResponseHead {
  uint32_t status = 0;  // 0 until a status line "HTTP/x <3 digits>" was read
  std::vector<std::pair<std::string, std::string>> headers;  // names as spelled, values trimmed
  std::string status_line;                                   // for the diagnostic log

  void ReadHeaderLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (StartsWithNoCase(line, "HTTP/")) {
      *this = ResponseHead();
      status_line.assign(line);
      const std::size_t space = line.find(' ');
      if (space != std::string_view::npos && line.size() >= space + 4 &&
          std::all_of(line.begin() + static_cast<std::ptrdiff_t>(space) + 1,
                      line.begin() + static_cast<std::ptrdiff_t>(space) + 4,
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        status = static_cast<uint32_t>((line[space + 1] - '0') * 100 +
                                       (line[space + 2] - '0') * 10 + (line[space + 3] - '0'));
      }
      return;
    }
    if (line.empty()) {
      return;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
      // A folded continuation of the header before (obsolete, still sent by some servers).
      headers.back().second += ' ';
      headers.back().second += TrimBlanks(line);
      return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      return;
    }
    headers.emplace_back(std::string(line.substr(0, colon)),
                         std::string(TrimBlanks(line.substr(colon + 1))));
  }
};

// ---- the session -------------------------------------------------------------------------------

// A request's header lines as libcurl reads them: curl_slist nodes over one block of text, made
// without an allocation per line (libcurl only reads the list it is given, and a line ends at
// its first zero byte either way).
class HeaderList {
 public:
  // "Name: value"; "Name:" without a value takes out the header libcurl would add.
  void Add(std::string_view name, std::optional<std::string_view> value) {
    starts_.push_back(text_.size());
    text_.append(name);
    text_ += ':';
    if (value) {
      text_ += ' ';
      text_.append(*value);
    }
    text_ += '\0';
  }
  void Clear() {
    text_.clear();
    starts_.clear();
  }
  // The list, valid until the next Add or Clear; null when it is empty.
  curl_slist* Link() {
    nodes_.resize(starts_.size());
    for (std::size_t i = 0; i < starts_.size(); ++i) {
      nodes_[i].data = text_.data() + starts_[i];
      nodes_[i].next = i + 1 < starts_.size() ? &nodes_[i + 1] : nullptr;
    }
    return starts_.empty() ? nullptr : nodes_.data();
  }

 private:
  std::string text_;
  std::vector<std::size_t> starts_;  // where each line begins in text_
  std::vector<curl_slist> nodes_;
};

// The descriptors open in this process now, in order (none where /proc is not mounted).
std::vector<int> OpenDescriptors() {
  std::vector<int> fds;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd != ::dirfd(dir)) fds.push_back(fd);
    }
    ::closedir(dir);
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

// libcurl 7.88 gives each multi handle a socket pair to wake it, not close-on-exec, and no
// option reaches it: the local sockets that appeared during curl_multi_init are marked.
CURLM* NewCloseOnExecMulti() {
  const std::vector<int> before = OpenDescriptors();
  CURLM* multi = curl_multi_init();
  for (int fd : OpenDescriptors()) {
    int domain = 0;
    socklen_t length = sizeof domain;
    if (!std::binary_search(before.begin(), before.end(), fd) &&
        ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX) {
      const int flags = ::fcntl(fd, F_GETFD);
      if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
  }
  return multi;
}

// One easy handle inside one multi handle: the unit a request borrows from the client.
struct TransferSlot {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  pid_t pid = ::getpid();              // the process whose connections the handles hold
  bool configured = false;             // the options every request shares are set on easy
  bool credentials = false;            // easy carries credentials: reset before it serves again
  HeaderList headers;                  // the latest request's, kept for their room
  std::vector<curl_socket_t> sockets;  // the connections libcurl opened through OpenSocket

  // libcurl's connections are made and closed here, so that the slot knows them.
  static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
    if (purpose != CURLSOCKTYPE_IPCXN) {
      return CURL_SOCKET_BAD;
    }
    const curl_socket_t socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket != CURL_SOCKET_BAD) {
      try {
        static_cast<TransferSlot*>(self)->sockets.push_back(socket);
      } catch (const std::bad_alloc&) {
        ::close(socket);
        return CURL_SOCKET_BAD;
      }
    }
    return socket;
  }
  static int CloseSocket(void* self, curl_socket_t socket) {
    std::vector<curl_socket_t>& sockets = static_cast<TransferSlot*>(self)->sockets;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
    return ::close(socket);
  }

  // Before a request: a kept connection that has something to say before it was asked has been
  // ended or reset by its server while idle. libcurl 7.88 looks for the end of a connection
  // before it reuses it, but takes a pending reset for a live connection, sends on it, and then
  // has to send again: the reset is taken here, so that libcurl meets the plain end instead.
  void SettleIdleConnections() {
    for (curl_socket_t socket : sockets) {
      pollfd watch{socket, POLLIN, 0};
      if (poll(&watch, 1, 0) == 1 && (watch.revents & (POLLERR | POLLHUP)) != 0) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
  }

  ~TransferSlot() {
    if (easy != nullptr) {
      curl_easy_cleanup(easy);
    }
    if (multi != nullptr) {
      curl_multi_cleanup(multi);
    }
  }
};

class CurlHttpClient;

class CurlHttpRequest final : public HttpRequest {
 public:
  CurlHttpRequest(CurlHttpClient& client, std::string url, std::string target,
                  std::string server_label)
      : client_(client),
        url_(std::move(url)),
        target_(std::move(target)),
        server_label_(std::move(server_label)) {}
  ~CurlHttpRequest() override;

  Status Post(std::span<const HttpHeader> headers, std::string_view body) override;
  uint32_t status() const override { return posted_ ? head_.status : 0; }
  std::optional<std::string> Header(std::string_view name) override;
  Status Read(char* buffer, std::size_t size, std::size_t* read) override;
  CredentialAnswer AskCredentials(Prompts& prompts) override;
  std::string Head() override {
    std::string head = head_.status_line + "\r\n";
    for (const auto& [name, value] : head_.headers) head += name + ": " + value + "\r\n";
    return head;
  }

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnRequestReady(void* self, char*, char*, int, int);

  void Detach();
  Status SetHeaders(std::span<const HttpHeader> headers);
  Status Drive(bool until_body_starts);
  bool Stalled();

  CurlHttpClient& client_;
  std::unique_ptr<TransferSlot> slot_;
  std::string url_;
  std::string target_;  // the request line's path and query
  std::string server_label_;
  std::string body_;
  curl_slist* header_list_ = nullptr;  // the slot's HeaderList, linked
  int attempts_ = 0;                   // times this Post's request was about to go out
  int allowed_attempts_ = 1;           // 2 while libcurl negotiates Digest itself
  bool resend_refused_ = false;
  bool attached_ = false;
  bool sent_ = false;
  bool posted_ = false;  // the last Post succeeded
  bool done_ = false;
  bool paused_ = false;
  CURLcode result_ = CURLE_OK;
  char error_buffer_[CURL_ERROR_SIZE] = {};

  ResponseHead head_;      // of the latest response
  std::string pending_;    // body bytes received and not yet read
  std::size_t limit_ = 0;  // pending_ may grow while it holds fewer bytes than this
  bool body_started_ = false;

  // libcurl's LOW_SPEED check averages over several seconds, so a few bytes followed by silence
  // pass it for a long time; the stall is timed here instead, from the last byte moved.
  std::chrono::milliseconds stall_timeout_{kDefaultStallTimeout};
  std::chrono::steady_clock::time_point last_progress_;
  curl_off_t last_bytes_ = -1;
  // The whole call's limit (0: none), timed by the transfer loop's own clock.
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::seconds call_limit_{0};

  bool has_credentials_ = false;
  Credentials credentials_;
  unsigned long auth_methods_ = CURLAUTH_BASIC;
  // Set when the 401 carried a Digest challenge answered by our own Authorization header.
  std::optional<posix::DigestChallenge> digest_;
  // For a proxy that answered 407; libcurl answers its challenge itself.
  bool has_proxy_credentials_ = false;
  Credentials proxy_credentials_;
  unsigned long proxy_auth_methods_ = CURLAUTH_BASIC;
  // Kept credentials already tried by this request, for the server [0] and the proxy [1].
  bool tried_kept_[2] = {false, false};
};

class CurlHttpConnection final : public HttpConnection {
 public:
  CurlHttpConnection(CurlHttpClient& client, std::string server, uint16_t port)
      : client_(client), server_(std::move(server)), port_(port) {}

  Status OpenRequest(std::string_view path, std::unique_ptr<HttpRequest>* request) override;

 private:
  CurlHttpClient& client_;
  std::string server_;
  uint16_t port_;
};

// The servers' cookies, shared by every easy handle of one client: libcurl's cookie engine in
// memory, guarded by one lock since hosts may call from several threads.
class CookieShare {
 public:
  CookieShare() = default;
  CookieShare(const CookieShare&) = delete;
  CookieShare& operator=(const CookieShare&) = delete;
  ~CookieShare() {
    if (share_ != nullptr) {
      curl_share_cleanup(share_);
    }
  }
  // The share handle, made at first use; null when libcurl cannot make one (no cookies then).
  CURLSH* Get() {
    std::call_once(made_, [this] {
      CURLSH* share = curl_share_init();
      if (share == nullptr) return;
      if (curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &CookieShare::Lock) != CURLSHE_OK ||
          curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &CookieShare::Unlock) != CURLSHE_OK ||
          curl_share_setopt(share, CURLSHOPT_USERDATA, this) != CURLSHE_OK ||
          curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
        curl_share_cleanup(share);
        return;
      }
      share_ = share;
    });
    return share_;
  }

 private:
  static void Lock(CURL*, curl_lock_data, curl_lock_access, void* self) {
    static_cast<CookieShare*>(self)->mutex_.lock();
  }
  static void Unlock(CURL*, curl_lock_data, void* self) {
    static_cast<CookieShare*>(self)->mutex_.unlock();
  }
  std::once_flag made_;
  std::mutex mutex_;
  CURLSH* share_ = nullptr;
};

class CurlHttpClient final : public HttpClient {
 public:
  ~CurlHttpClient() override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [key, credentials] : kept_) {
      WipeString(&credentials.user);
      WipeString(&credentials.password);
    }
  }

  Status Connect(const std::string& server, uint16_t port,
                 std::unique_ptr<HttpConnection>* connection) override {
    connection->reset();
    if (server.empty()) {
      return Status::Local("No server name is set for the center.");
    }
    if (server.find_first_of(" \t\r\n/?#@") != std::string::npos) {
      return Status::Local("The server name \"" + server + "\" is not a host name or address.");
    }
    if (port == 0) {
      port = 80;  // INTERNET_DEFAULT_HTTP_PORT: what WinInet connects to for port 0
    }
    CURLcode code = InitCurlOnce();
    if (code != CURLE_OK) {
      return Status::Local(std::string("The internet session cannot be opened: ") +
                           curl_easy_strerror(code));
    }
    *connection = std::make_unique<CurlHttpConnection>(*this, server, port);
    return Status::Ok();
  }

  void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) override {
    std::lock_guard<std::mutex> lock(mutex_);
    connect_timeout_ = connect;
    stall_timeout_ = stall;
  }

  void SetDeadline(std::chrono::steady_clock::time_point deadline,
                   std::chrono::seconds limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = deadline;
    limit_ = limit;
  }
  // The call's deadline and limit; a limit of 0 is none.
  std::pair<std::chrono::steady_clock::time_point, std::chrono::seconds> Deadline() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {deadline_, limit_};
  }

  std::pair<std::chrono::milliseconds, std::chrono::milliseconds> Timeouts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {connect_timeout_, stall_timeout_};
  }

  // A slot for one request: the kept one when it is free, else a new one.
  std::unique_ptr<TransferSlot> TakeSlot() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A slot made before a fork holds the parent's connections: the child never sends on
      // them, it makes its own (closing its copies touches nothing of the parent's).
      if (idle_ && idle_->pid != ::getpid()) idle_.reset();
      if (idle_) {
        return std::move(idle_);
      }
    }
    auto slot = std::make_unique<TransferSlot>();
    slot->multi = NewCloseOnExecMulti();
    slot->easy = curl_easy_init();
    if (slot->multi == nullptr || slot->easy == nullptr) {
      return nullptr;
    }
    return slot;
  }

  void ReturnSlot(std::unique_ptr<TransferSlot> slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_) {
      idle_ = std::move(slot);
    }
  }

  CURLSH* Cookies() { return cookies_.Get(); }

  // Credentials the clerk gave for key (who asked, and the realm), for the life of the client.
  std::optional<Credentials> FindKept(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [kept_key, credentials] : kept_) {
      if (kept_key == key) return credentials;
    }
    return std::nullopt;
  }
  void Keep(const std::string& key, const Credentials& credentials) {
    Forget(key);
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.emplace_back(key, credentials);
  }
  void Forget(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if (it->first == key) {
        WipeString(&it->second.user);
        WipeString(&it->second.password);
        kept_.erase(it);
        return;
      }
    }
  }

 private:
  // Declared before the slots, so that it outlives every easy handle that uses it.
  CookieShare cookies_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, Credentials>> kept_;
  std::unique_ptr<TransferSlot> idle_;
  std::chrono::milliseconds connect_timeout_ = kDefaultConnectTimeout;
  std::chrono::milliseconds stall_timeout_ = kDefaultStallTimeout;
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::seconds limit_{0};
};

// ---- connection --------------------------------------------------------------------------------

Status CurlHttpConnection::OpenRequest(std::string_view path,
                                       std::unique_ptr<HttpRequest>* request) {
  request->reset();
  std::string host = server_;
  if (host.find(':') != std::string::npos && host.front() != '[') {
    host = "[" + host + "]";
  }
  std::string target = EscapePath(path);
  std::string url = "http://" + host + ":" + std::to_string(port_) + target;
  *request = std::make_unique<CurlHttpRequest>(client_, std::move(url), std::move(target),
                                               server_ + ":" + std::to_string(port_));
  return Status::Ok();
}

// ---- request -----------------------------------------------------------------------------------

CurlHttpRequest::~CurlHttpRequest() {
  Detach();
  WipeString(&credentials_.password);
  WipeString(&proxy_credentials_.password);
  if (slot_) {
    // The handle keeps no pointer into this request while it waits for the next one.
    curl_easy_setopt(slot_->easy, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(slot_->easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(slot_->easy, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(slot_->easy, CURLOPT_PREREQDATA, nullptr);
    client_.ReturnSlot(std::move(slot_));
  }
}

void CurlHttpRequest::Detach() {
  if (attached_) {
    SigpipeBlock block;
    // An unfinished transfer is abandoned here; libcurl closes its connection.
    curl_multi_remove_handle(slot_->multi, slot_->easy);
    attached_ = false;
  }
}

size_t CurlHttpRequest::OnHeader(char* data, size_t size, size_t count, void* self) {
  static_cast<CurlHttpRequest*>(self)->head_.ReadHeaderLine(std::string_view(data, size * count));
  return size * count;
}

size_t CurlHttpRequest::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<CurlHttpRequest*>(self);
  request->body_started_ = true;
  if (request->pending_.size() >= request->limit_) {
    request->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  request->pending_.append(data, size * count);
  return size * count;
}

// The request is about to go out on a connection, new or reused: once per Post, never again.
int CurlHttpRequest::OnRequestReady(void* self, char*, char*, int, int) {
  auto* request = static_cast<CurlHttpRequest*>(self);
  if (++request->attempts_ > request->allowed_attempts_) {
    request->resend_refused_ = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

// The list libcurl sends after Host: the Authorization it cannot make itself, Content-Length,
// the caller's headers, and an empty "Name:" for each header libcurl would add of its own.
Status CurlHttpRequest::SetHeaders(std::span<const HttpHeader> headers) {
  HeaderList& list = slot_->headers;
  list.Clear();
  try {
    // libcurl's Digest (a challenge we cannot answer) may send a first round without a body, so
    // libcurl must write Content-Length itself then.
    const bool curl_digest =
        (has_credentials_ && !digest_ && (auth_methods_ & CURLAUTH_DIGEST) != 0) ||
        (has_proxy_credentials_ && (proxy_auth_methods_ & CURLAUTH_DIGEST) != 0);
    allowed_attempts_ = curl_digest ? 2 : 1;
    if (has_credentials_ && digest_) {
      // Where libcurl puts its own Authorization header: right after Host.
      list.Add("Authorization",
               posix::DigestAuthorization(*digest_, credentials_.user, credentials_.password,
                                          "POST", target_, body_, posix::NewClientNonce()));
    }
    if (!curl_digest) {
      list.Add("Content-Length", std::to_string(body_.size()));
    }
    for (const HttpHeader& header : headers) {
      list.Add(header.name, header.value);
    }
    for (std::string_view own : {"Accept", "Content-Type", "Expect"}) {
      if (std::none_of(headers.begin(), headers.end(),
                       [&](const HttpHeader& h) { return EqualsNoCase(h.name, own); })) {
        list.Add(own, std::nullopt);
      }
    }
    header_list_ = list.Link();
  } catch (const std::bad_alloc&) {
    list.Clear();
    header_list_ = nullptr;
    return OutOfMemory();
  }
  return Status::Ok();
}

Status CurlHttpRequest::Post(std::span<const HttpHeader> headers, std::string_view body) {
  Detach();
  if (!slot_) {
    slot_ = client_.TakeSlot();
    if (!slot_) {
      return OutOfMemory();
    }
  }
  if (slot_->credentials) {
    // The share handle and the cookies in it stay; only this handle's options go. libcurl 7.88's
    // reset forgets the list of cookie files without freeing it: it is emptied first.
    curl_easy_setopt(slot_->easy, CURLOPT_COOKIEFILE, nullptr);
    curl_easy_reset(slot_->easy);
    slot_->configured = false;
    slot_->credentials = false;
  }
  sent_ = false;
  posted_ = false;
  done_ = false;
  paused_ = false;
  body_started_ = false;
  result_ = CURLE_OK;
  head_ = ResponseHead();
  pending_.clear();
  limit_ = 1;  // the first chunk of the body is taken; the write callback pauses at the next
  error_buffer_[0] = '\0';
  last_bytes_ = -1;
  last_progress_ = std::chrono::steady_clock::now();
  body_.assign(body.data(), body.size());
  attempts_ = 0;
  resend_refused_ = false;
  Status listed = SetHeaders(headers);
  if (!listed.ok()) {
    return listed;
  }

  auto [connect_timeout, stall_timeout] = client_.Timeouts();
  stall_timeout_ = stall_timeout;
  std::tie(deadline_, call_limit_) = client_.Deadline();
  if (call_limit_.count() > 0 && std::chrono::steady_clock::now() >= deadline_) {
    return Status::Network(DeadlineText(call_limit_));  // nothing goes out past the limit
  }
  CURL* easy = slot_->easy;
  if (!slot_->configured) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlHttpRequest::OnHeader);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlHttpRequest::OnBody);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlHttpRequest::OnRequestReady);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &TransferSlot::OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, slot_.get());
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &TransferSlot::CloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, slot_.get());
    if (CURLSH* cookies = client_.Cookies()) {
      curl_easy_setopt(easy, CURLOPT_SHARE, cookies);
      curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the cookie engine on, with no file
    }
    // Pieces of 256 KB instead of libcurl's 16 KB: a catalogue of 50 MB in 200 reads, not 3 000.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
    slot_->configured = true;
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer_);
  curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body_.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, header_list_);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout.count()));
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  if (has_credentials_ && !digest_) {
    slot_->credentials = true;
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, auth_methods_);
    curl_easy_setopt(easy, CURLOPT_USERNAME, credentials_.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, credentials_.password.c_str());
  }
  if (has_proxy_credentials_) {
    slot_->credentials = true;
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, proxy_auth_methods_);
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy_credentials_.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy_credentials_.password.c_str());
  }

  slot_->SettleIdleConnections();
  SigpipeBlock block;
  CURLMcode added = curl_multi_add_handle(slot_->multi, easy);
  if (added != CURLM_OK) {
    return MultiFailure("The HTTP request cannot be started: ", added);
  }
  attached_ = true;
  sent_ = true;
  Status driven = Drive(/*until_body_starts=*/true);
  if (!driven.ok()) {
    return driven;
  }
  // A failure once the body has begun is Read's to report, after the bytes that came before it.
  if (done_ && result_ != CURLE_OK && !body_started_) {
    return resend_refused_ ? ResendRefused() : CurlFailure(result_, error_buffer_);
  }
  if (head_.status == 0) {
    return Status::Network("The server " + server_label_ + " returned no HTTP status line.");
  }
  posted_ = true;
  return Status::Ok();
}

// Runs the transfer until the body has started (Post) or pending_ holds limit_ bytes (Read), or
// the transfer is over. The caller holds a SigpipeBlock.
Status CurlHttpRequest::Drive(bool until_body_starts) {
  while (!done_) {
    if (until_body_starts ? body_started_ : pending_.size() >= limit_) {
      return Status::Ok();
    }
    if (paused_) {
      paused_ = false;
      // Resuming may hand over the held chunk at once, through OnBody.
      CURLcode resumed = curl_easy_pause(slot_->easy, CURLPAUSE_CONT);
      if (resumed != CURLE_OK) {
        return CurlFailure(resumed, error_buffer_);
      }
      continue;
    }
    int running = 0;
    CURLMcode code = curl_multi_perform(slot_->multi, &running);
    if (code != CURLM_OK) {
      return MultiFailure("The HTTP transfer failed: ", code);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(slot_->multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == slot_->easy) {
        done_ = true;
        result_ = message->data.result;
      }
    }
    if (done_ || paused_ || (until_body_starts ? body_started_ : pending_.size() >= limit_)) {
      continue;
    }
    if (Stalled()) {
      // Abandon the transfer as libcurl would on its own time-out.
      Detach();
      done_ = true;
      result_ = CURLE_OPERATION_TIMEDOUT;
      std::snprintf(error_buffer_, sizeof error_buffer_, "no data from %s for %lld ms",
                    server_label_.c_str(), static_cast<long long>(stall_timeout_.count()));
      return Status::Ok();
    }
    if (call_limit_.count() > 0 && std::chrono::steady_clock::now() >= deadline_) {
      Detach();
      done_ = true;
      result_ = CURLE_OPERATION_TIMEDOUT;
      std::snprintf(error_buffer_, sizeof error_buffer_, "%s", DeadlineText(call_limit_).c_str());
      return Status::Ok();
    }
    code = curl_multi_poll(slot_->multi, nullptr, 0, 100, nullptr);
    if (code != CURLM_OK) {
      return MultiFailure("The HTTP transfer failed: ", code);
    }
  }
  return Status::Ok();
}

// True once bytes have stopped moving for the stall time-out. The connection phase is left to
// libcurl's connect time-out: the clock starts when the request is ready to go out.
bool CurlHttpRequest::Stalled() {
  const auto now = std::chrono::steady_clock::now();
  curl_off_t pretransfer = 0;
  curl_easy_getinfo(slot_->easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
  if (pretransfer <= 0) {
    last_progress_ = now;
    return false;
  }
  curl_off_t up = 0;
  curl_off_t down = 0;
  long header_bytes = 0;
  curl_easy_getinfo(slot_->easy, CURLINFO_SIZE_UPLOAD_T, &up);
  curl_easy_getinfo(slot_->easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
  curl_easy_getinfo(slot_->easy, CURLINFO_HEADER_SIZE, &header_bytes);
  const curl_off_t bytes = up + down + header_bytes;
  if (bytes != last_bytes_) {
    last_bytes_ = bytes;
    last_progress_ = now;
    return false;
  }
  return now - last_progress_ >= stall_timeout_;
}

std::optional<std::string> CurlHttpRequest::Header(std::string_view name) {
  if (!posted_) {
    return std::nullopt;
  }
  for (const auto& [spelled, value] : head_.headers) {
    if (spelled == name) {
      return value;
    }
  }
  return std::nullopt;
}

CredentialAnswer CurlHttpRequest::AskCredentials(Prompts& prompts) {
  // A 407 is the proxy's question (Proxy-Authenticate), anything else the server's.
  const bool proxy = head_.status == 407;
  const std::string_view challenge_header = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
  // What the challenge offered: the first scheme we know decides, its realm names the target.
  bool basic = false;
  bool digest = false;
  std::optional<posix::DigestChallenge> answerable;
  std::string realm;
  for (const auto& [name, value] : head_.headers) {
    if (!EqualsNoCase(name, challenge_header)) {
      continue;
    }
    const bool is_digest = StartsWithNoCase(value, "Digest");
    const bool is_basic = StartsWithNoCase(value, "Basic");
    digest = digest || is_digest;
    basic = basic || is_basic;
    posix::DigestChallenge challenge;
    if (!proxy && is_digest && !answerable &&
        posix::ParseDigestChallenge(std::string_view(value).substr(6), &challenge)) {
      answerable = std::move(challenge);
    }
    std::string lower = value;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
      return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    const std::size_t at = lower.find("realm=\"");
    if ((is_digest || is_basic) && realm.empty() && at != std::string::npos) {
      std::string_view quoted = std::string_view(value).substr(at + 7);
      realm = std::string(quoted.substr(0, quoted.find('"')));
    }
  }
  // Who asks: the server, or the proxy the transfer went through (the address libcurl reached).
  std::string target = server_label_;
  if (proxy) {
    const char* address = nullptr;
    long port = 0;
    curl_easy_getinfo(slot_->easy, CURLINFO_PRIMARY_IP, &address);
    curl_easy_getinfo(slot_->easy, CURLINFO_PRIMARY_PORT, &port);
    target = "proxy " + std::string(address != nullptr ? address : "") + ":" + std::to_string(port);
  }
  if (!realm.empty()) {
    target += " (" + realm + ")";
  }

  // Kept credentials first, once; when they were refused, they go and the clerk is asked.
  std::optional<Credentials> given;
  bool& tried_kept = tried_kept_[proxy ? 1 : 0];
  CredentialAnswer answer = CredentialAnswer::kRetry;
  if (tried_kept) {
    client_.Forget(target);
  } else {
    tried_kept = true;
    given = client_.FindKept(target);
    answer = CredentialAnswer::kRetryKept;
  }
  if (!given) {
    given = prompts.AskCredentials(target);
    if (!given) {
      return CredentialAnswer::kCancel;
    }
    client_.Keep(target, *given);
    answer = CredentialAnswer::kRetry;
  }
  const unsigned long methods = digest ? CURLAUTH_DIGEST : CURLAUTH_BASIC;
  if (proxy) {
    proxy_credentials_ = std::move(*given);
    has_proxy_credentials_ = true;
    proxy_auth_methods_ = methods;
    return answer;
  }
  credentials_ = std::move(*given);
  has_credentials_ = true;
  auth_methods_ = methods;
  // A Digest challenge we can answer is answered by us; any other is left to libcurl.
  digest_ = std::move(answerable);
  return answer;
}

Status CurlHttpRequest::Read(char* buffer, std::size_t size, std::size_t* read) {
  *read = 0;
  if (!sent_) {
    return Status::Local("The HTTP request has not been sent.");
  }
  if (size == 0) {
    return Status::Ok();
  }
  if (pending_.size() < size && !done_) {
    SigpipeBlock block;
    limit_ = size;
    // The time the caller spent between two reads is not the center's silence.
    last_progress_ = std::chrono::steady_clock::now();
    Status driven = Drive(/*until_body_starts=*/false);
    if (!driven.ok()) {
      return driven;
    }
  }
  if (pending_.empty() && done_ && result_ != CURLE_OK) {
    return resend_refused_ ? ResendRefused() : CurlFailure(result_, error_buffer_);
  }
  std::size_t n = std::min(size, pending_.size());
  std::memcpy(buffer, pending_.data(), n);
  pending_.erase(0, n);
  *read = n;
  return Status::Ok();
}

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient() { return std::make_unique<CurlHttpClient>(); }

namespace posix {

HttpClient& DefaultHttpClient() {
  // Destroyed when the library is unloaded, after the interface object that uses it (which was
  // constructed later): its connections close then, and a host that loads and unloads the
  // library repeatedly leaks nothing.
  static const std::unique_ptr<HttpClient> client = NewHttpClient();
  return *client;
}

}  // namespace posix
}  // namespace qx::platform
