// The HTTP client on POSIX, over one libcurl easy handle per post: curl_easy_perform runs the
// transfer, the header callback keeps the head's lines, the write callback hands each piece of
// the body to the sink as it arrives, libcurl's header API (curl_easy_nextheader) finds headers,
// and the progress callback times the stall.
//
// Quirks handled where they arise:
//  - CURLOPT_NOSIGNAL: libcurl touches no signal disposition. On Linux it writes to its sockets
//    with MSG_NOSIGNAL, TLS included: with libcurl 7.88 OpenSSL writes through libcurl's own BIO
//    (BIO_meth_set_write, never a socket BIO), so no SIGPIPE is raised.
//  - TLS (HttpPost::tls): https only, the chain and the name verified, the CA file or libcurl's
//    default bundle; a certificate it refuses is worded by reason (posix/curl_handle.h).
//  - The wire carries exactly the request line, Host, Content-Length and the caller's headers
//    (posix/curl_request.h). HTTP/1.1; no redirect is followed, nothing cached.
//  - The easy handle (and with it live connections and the DNS cache) is kept in the client
//    between posts; a post while it is in use gets one of its own. A handle that carried
//    credentials is reset after its post, so no credential outlives it.
//  - At most once: libcurl sends a request again on a fresh connection, unasked, when a kept-alive
//    connection it reused breaks before the answer, although the center may have taken the
//    request already. Its pre-request callback runs each time a request is about to go out on a
//    connection: the first time is the request, a second time is such a resend, and is refused
//    (CURLE_ABORTED_BY_CALLBACK, worded here); only libcurl's own Digest round without a body is
//    let through once more. libcurl 7.88 takes a kept connection with a pending reset for a live
//    one and would send again: the reset is taken off the idle sockets first (curl_handle.h).
//  - The stall: libcurl's LOW_SPEED check averages over seconds, so a few bytes and then silence
//    pass it for long; the progress callback (at least once a second) times it from the last
//    byte moved, once the request is ready to go out.
//  - Cookies: kept in memory for the life of the client, as WinInet's session keeps them.
//  - Proxies: whatever the environment configures (http_proxy, ALL_PROXY, no_proxy/NO_PROXY; not
//    HTTP_PROXY, which libcurl ignores on purpose), as libcurl reads it at each request.
//  - Credentials after a 401 or a proxy's 407: kept per server (or proxy) and realm in the client
//    for its life, tried once before the clerk is asked again, wiped when the client goes. Basic
//    is left to libcurl. libcurl's Digest would first send a probe without a body; the 401's
//    challenge is answered by the post instead (posix/curl_credentials.h, base/http_digest.h):
//    one request with the body.
//  - A kept handle made in another process (the host forked) is dropped: its connections are the
//    parent's. Its descriptors are close-on-exec (posix/curl_handle.h).
//  - Failures become qx::Status here, in libcurl's own words (posix/curl_handle.h's
//    CurlFailure): kLocal for memory and set-up failures, kNetwork for everything on the wire.
#include <curl/curl.h>
#include <strings.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/status.h"
#include "platform/default_parts.h"
#include "platform/http_client.h"
#include "platform/posix/curl_credentials.h"
#include "platform/posix/curl_handle.h"
#include "platform/posix/curl_request.h"
#include "platform/prompts.h"

namespace qx::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kDefaultTimeout{60000};

// The time-outs and the whole exchange's deadline, as a post starts with them.
struct Limits {
  std::chrono::milliseconds connect = kDefaultTimeout;
  std::chrono::milliseconds stall = kDefaultTimeout;
  Clock::time_point deadline;
  std::chrono::seconds limit{0};  // 0: no limit on the whole exchange
};

class CurlHttpClient final : public HttpClient {
 public:
  Status Check(const std::string& server, uint16_t) override {
    if (server.empty()) return Status::Local("No server name is set for the center.");
    if (server.find_first_of(" \t\r\n/?#@") != std::string::npos) {
      return Status::Local("The server name \"" + server + "\" is not a host name or address.");
    }
    const CURLcode code = posix::InitCurlOnce();
    if (code != CURLE_OK) {
      return Status::Local(std::string("The internet session cannot be opened: ") +
                           curl_easy_strerror(code));
    }
    return Status::Ok();
  }

  Status Post(const HttpPost& post, HttpSink& sink) override;

  void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) override {
    std::lock_guard<std::mutex> lock(mutex_);
    limits_.connect = connect;
    limits_.stall = stall;
  }

  void SetDeadline(Clock::time_point deadline, std::chrono::seconds limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    limits_.deadline = deadline;
    limits_.limit = limit;
  }

 private:
  friend class Transfer;
  posix::CookieShare cookies_;  // declared first: it outlives every easy handle that uses it
  posix::KeptCredentials kept_;
  std::mutex mutex_;
  std::unique_ptr<posix::CurlHandle> idle_;  // the kept handle, while no post uses it
  Limits limits_;
};

// One Post on one handle: what libcurl's callbacks share, and the head the sink is handed.
class Transfer final : public HttpResponse {
 public:
  Transfer(CurlHttpClient& client, posix::CurlHandle& handle, const HttpPost& post, HttpSink& sink)
      : client_(client),
        handle_(handle),
        post_(post),
        sink_(sink),
        target_(posix::TargetOf(post)) {}
  ~Transfer() { curl_slist_free_all(list_); }

  Status Run();
  bool carried_credentials() const { return credentials_.any(); }

  uint32_t status() const override {
    long code = 0;
    curl_easy_getinfo(handle_.easy(), CURLINFO_RESPONSE_CODE, &code);
    return static_cast<uint32_t>(code);
  }
  std::optional<std::string> Header(std::string_view name) override {
    for (curl_header* h = nullptr;
         (h = curl_easy_nextheader(handle_.easy(), CURLH_HEADER, -1, h));) {
      if (name == h->name) return std::string(h->value);
    }
    return std::nullopt;
  }
  std::string Head() override { return at_.head; }
  CredentialAnswer AskCredentials(Prompts& prompts) override;

 private:
  Status Perform();
  void TakeHead();
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnRequestReady(void* self, char*, char*, int, int);
  static int OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up);

  CurlHttpClient& client_;
  posix::CurlHandle& handle_;
  const HttpPost& post_;
  HttpSink& sink_;
  Limits limits_;
  const posix::CurlTarget target_;
  curl_slist* list_ = nullptr;
  char error_[CURL_ERROR_SIZE] = {};
  int allowed_sends_ = 1;  // 2 while libcurl negotiates Digest itself

  // What one request and its answer leave, afresh for each.
  struct Attempt {
    std::string head;  // the latest response's status line and header lines
    bool head_ended = false;
    std::optional<HeadAction> action;  // what the sink said to this answer's head
    Status failure;                    // the sink's, or the client's own, that ended the transfer
    int sends = 0;                     // times this request was about to go out
    bool resend_refused = false, stalled = false, past_deadline = false;
    Clock::time_point last_move = Clock::now();
    curl_off_t last_bytes = -1;
    curl_off_t header_bytes = 0;  // of every response of the transfer
  } at_;

  posix::PostCredentials credentials_;
};

Status CurlHttpClient::Post(const HttpPost& post, HttpSink& sink) {
  if (Status checked = Check(std::string(post.server), post.port); !checked.ok()) return checked;
  std::unique_ptr<posix::CurlHandle> handle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A handle made before a fork holds the parent's connections: the child never sends on them.
    if (idle_ && !idle_->Ours()) idle_.reset();
    handle = std::move(idle_);
  }
  if (!handle) handle = std::make_unique<posix::CurlHandle>();
  CURL* easy = handle->easy();
  if (easy == nullptr) return Status::Local("No HTTP request can be made: out of memory.");
  Status status;
  bool credentials = false;
  {
    Transfer transfer(*this, *handle, post, sink);
    status = transfer.Run();
    credentials = transfer.carried_credentials();
  }
  if (credentials) {
    // The share handle and the cookies in it stay. libcurl 7.88's reset forgets the list of
    // cookie files without freeing it: it is emptied first.
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, nullptr);
    curl_easy_reset(easy);
    handle->configured = false;
  } else {
    // The handle keeps no pointer into the transfer while it waits for the next one.
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!idle_) idle_ = std::move(handle);
  return status;
}

Status Transfer::Run() {
  CURL* const easy = handle_.easy();
  {
    std::lock_guard<std::mutex> lock(client_.mutex_);
    limits_ = client_.limits_;
  }
  if (limits_.limit.count() > 0 && Clock::now() >= limits_.deadline) {
    return Status::Network(DeadlineText(limits_.limit));  // nothing goes out past the limit
  }
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
  if (!handle_.configured) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::OnRequestReady);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    handle_.OwnSockets();
    if (CURLSH* cookies = client_.cookies_.Get()) {
      curl_easy_setopt(easy, CURLOPT_SHARE, cookies);
      curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the cookie engine on, with no file
    }
    // Pieces of 256 KB instead of libcurl's 16 KB: a catalogue of 50 MB in 200 pieces, not 3 000.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
    handle_.configured = true;
  }
  for (CURLoption data :
       {CURLOPT_HEADERDATA, CURLOPT_WRITEDATA, CURLOPT_PREREQDATA, CURLOPT_XFERINFODATA}) {
    curl_easy_setopt(easy, data, this);
  }
  posix::SetTransportSecurity(easy, post_.tls, post_.ca_file, handle_.ca_defaults());
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_);
  curl_easy_setopt(easy, CURLOPT_URL, target_.url.c_str());
  // Never null: libcurl would read the body from stdin then.
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, post_.body.empty() ? "" : post_.body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_.body.size()));
  for (;;) {
    Status status = Perform();
    if (!status.ok() || at_.action != HeadAction::kPostAgain) return status;
  }
}

// One request and its answer, with the credentials given so far.
Status Transfer::Perform() {
  CURL* const easy = handle_.easy();
  // libcurl's Digest (a challenge we cannot answer) may send a first round without a body, and
  // must write Content-Length itself then.
  const bool curl_digest = credentials_.CurlDigest();
  allowed_sends_ = curl_digest ? 2 : 1;
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(list_);
  list_ = posix::RequestHeaders(post_, credentials_.Authorization(target_.path, post_.body),
                                !curl_digest);
  if (list_ == nullptr) return Status::Local("No HTTP request can be made: out of memory.");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list_);
  credentials_.Apply(easy);
  at_ = Attempt();
  error_[0] = '\0';

  handle_.SettleIdleConnections();
  const CURLcode result = curl_easy_perform(easy);
  handle_.MarkWakeupPair();
  if (!at_.failure.ok()) return at_.failure;
  if (result == CURLE_WRITE_ERROR && at_.action == HeadAction::kDone) return Status::Ok();
  if (at_.resend_refused) {
    return Status::Network(
        "The connection closed after the request was sent and before an answer came; the "
        "request is not sent again.");
  }
  if (at_.past_deadline) {
    return posix::CurlFailure(CURLE_OPERATION_TIMEDOUT, DeadlineText(limits_.limit));
  }
  if (at_.stalled) {
    return posix::CurlFailure(
        CURLE_OPERATION_TIMEDOUT,
        "no data from " + target_.label + " for " + std::to_string(limits_.stall.count()) + " ms");
  }
  if (auto refused = posix::CertificateFailure(easy, result, error_, target_.label))
    return *refused;
  if (result != CURLE_OK) return posix::CurlFailure(result, error_);
  if (status() == 0) {
    return Status::Network("The server " + target_.label + " returned no HTTP status line.");
  }
  TakeHead();  // an answer without a body
  return at_.failure;
}

// The sink hears of the final head once: at the first byte of its body, or at the end.
void Transfer::TakeHead() {
  if (at_.action) return;
  try {
    at_.action = sink_.OnHead(*this);
  } catch (const std::exception& e) {
    at_.action = HeadAction::kDone;
    at_.failure = Status::Local(e.what());
  }
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  Attempt& at = static_cast<Transfer*>(self)->at_;
  const std::string_view line(data, size * count);
  at.header_bytes += static_cast<curl_off_t>(line.size());
  try {
    if (line.size() >= 5 && strncasecmp(line.data(), "HTTP/", 5) == 0) {
      // Each response of the transfer (a 100 Continue, libcurl's own round) starts anew.
      at.head.clear();
      at.head_ended = false;
    }
    if (!at.head_ended) at.head.append(line);
    at.head_ended = at.head_ended || line == "\r\n" || line == "\n";
  } catch (const std::bad_alloc&) {
    at.failure = Status::Local("No HTTP answer can be read: out of memory.");
    return 0;
  }
  return size * count;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  Attempt& at = transfer->at_;
  transfer->TakeHead();
  if (at.action == HeadAction::kPostAgain) return size * count;  // this body is skipped
  if (at.action != HeadAction::kBody || !at.failure.ok()) return 0;
  try {
    at.failure = transfer->sink_.OnBody(std::string_view(data, size * count));
  } catch (const std::exception& e) {
    at.failure = Status::Local(e.what());
  }
  return at.failure.ok() ? size * count : 0;
}

// The request is about to go out on a connection, new or reused: once per request, never again.
int Transfer::OnRequestReady(void* self, char*, char*, int, int) {
  auto* transfer = static_cast<Transfer*>(self);
  Attempt& at = transfer->at_;
  at.resend_refused = ++at.sends > transfer->allowed_sends_;
  return at.resend_refused ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

// Ends the transfer once no byte has moved for the stall time-out, counted from when the request
// is ready to go out (the pre-request callback; the connection is libcurl's connect time-out's).
// The whole exchange's deadline, when one is set, ends it here too, whatever step it is at.
int Transfer::OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
  auto* transfer = static_cast<Transfer*>(self);
  const Limits& limits = transfer->limits_;
  Attempt& at = transfer->at_;
  const Clock::time_point now = Clock::now();
  at.past_deadline = limits.limit.count() > 0 && now >= limits.deadline;
  if (at.past_deadline) return 1;
  const curl_off_t bytes = up + down + at.header_bytes;
  if (at.sends == 0 || bytes != at.last_bytes) {
    at.last_bytes = at.sends == 0 ? -1 : bytes;
    at.last_move = now;
    return 0;
  }
  at.stalled = now - at.last_move >= limits.stall;
  return at.stalled ? 1 : 0;
}

CredentialAnswer Transfer::AskCredentials(Prompts& prompts) {
  return credentials_.Ask(handle_.easy(), static_cast<long>(status()), target_.label, client_.kept_,
                          prompts);
}

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient() { return std::make_unique<CurlHttpClient>(); }

bool CaFileUsed() { return true; }

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
