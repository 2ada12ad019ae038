// The HTTP client on Win32, over WinInet: the session is InternetOpenA (agent "Quillon_Net",
// INTERNET_OPEN_TYPE_PRECONFIG, INTERNET_FLAG_DONT_CACHE); each post is InternetConnectA with
// INTERNET_SERVICE_HTTP and context 1, HttpOpenRequestA "POST" with INTERNET_FLAG_RELOAD |
// INTERNET_FLAG_NO_AUTO_REDIRECT (0x80200000), HttpSendRequestA, then the sink is handed the
// head and an InternetReadFile loop hands it the body in pieces of 500 000 bytes (fewer when the
// body announces fewer), read into a buffer the client keeps between posts.
//
// Quirks handled where they arise:
//  - The session is opened by the first operation that needs it, never while the library is
//    being loaded: WinInet must not be called under the loader lock (DllMain, static
//    constructors). For the same reason the process-wide client is never destroyed.
//  - Time-outs are set explicitly on the session, on every connection and on every request:
//    Windows documents 60 s connect / 30 s send and receive, but Wine starts new connection
//    handles with send and receive time-outs of 0, which its sockets take as "wait forever".
//  - Before each request WinInet is told it is online (INTERNET_OPTION_CONNECTED_STATE), so that
//    a machine set to work offline does not fail the exchange.
//  - HttpSendRequestA succeeds on a 401 or a 3xx: the status is for the caller to read. After a
//    401 or a proxy's 407, InternetErrorDlg (ERROR_INTERNET_INCORRECT_PASSWORD, flags
//    GENERATE_DATA | CHANGE_OPTIONS) shows the system's credential dialog (the proxy's after a
//    407) and keeps the answer in the request.
//  - A header is looked up in HTTP_QUERY_RAW_HEADERS_CRLF, by its name as spelled: WinInet's own
//    lookup (HTTP_QUERY_CUSTOM) ignores case, and the exchange's rules do not.
//  - Failures become qx::Status here: the system's text for GetLastError() (WinInet's own codes,
//    12000 and up, from wininet.dll's message table) as kNetwork, any other code as kLocal.
//  - InternetReadFile reports the end of a body whose connection closed or was reset before its
//    Content-Length as an ordinary end (TRUE, 0 bytes), so a cut body would pass for a whole one.
//    ReadBody counts the bytes and takes an early end for ERROR_INTERNET_CONNECTION_ABORTED.
//  - At most once: WinInet sends a request again on a new connection when the kept-alive
//    connection it reused breaks after the request went out (closed before any byte of an
//    answer, or the send failed). Every POST therefore goes out on a connection of its own: the
//    idle kept-alive connections are dropped (INTERNET_OPTION_SETTINGS_CHANGED, which makes
//    Wine's WinInet close every pooled connection) just before HttpSendRequestA, and again when
//    the request is closed; under Wine the credential retry gets a request handle of its own,
//    since Wine sends it on the connection the handle kept from the 401 or 407. A connection
//    that then breaks fails the exchange. Nothing changes on the wire but the TCP connection.
//    Verified under Wine only: what Windows' WinInet does with its pooled connections on
//    INTERNET_OPTION_SETTINGS_CHANGED is not documented (docs/windows.md).
//  - An answer without a status line: HttpSendRequestA succeeds with status 0 when the center
//    closed without a byte, and Wine takes any other bytes for an HTTP/0.9 answer (200, no
//    "Status" header of its own). Both are network failures, as on POSIX.
//  - A chunked body cut short (Wine): Wine's InternetReadFile ends it like a whole one. Only the
//    connection tells them apart: after the last chunk WinInet gives the connection up (to its
//    pool, or closes it, which the status callback reports); after a cut it keeps it in the
//    request. ReadBody asks that at the end of a chunked body
//    (INTERNET_OPTION_SECURITY_CERTIFICATE_ STRUCT answers ERROR_INTERNET_INVALID_OPERATION when
//    the request holds no connection).
//  - TLS (HttpPost::tls): INTERNET_FLAG_SECURE on the request, port 0 as INTERNET_DEFAULT_HTTPS_
//    PORT, and none of the INTERNET_FLAG_IGNORE_CERT_* flags, so WinInet verifies the chain and
//    the name against the machine's store; a certificate it rejects fails HttpSendRequestA
//    (12037 expired, 12038 wrong name, 12045 unknown CA, 12055/12057/12169 otherwise), worded by
//    reason, and InternetErrorDlg, which would offer to go on anyway, is never called for it.
//    WinInet takes no CA file (CaFileUsed): a site's own CA goes into the machine's Trusted Root
//    Certification Authorities store.
//  - A proxy that cannot be reached: the request went through a proxy (INTERNET_OPTION_REQUEST_
//    FLAGS, INTERNET_REQFLAG_VIA_PROXY) and the connection could not be made, so the words name
//    the proxy (INTERNET_OPTION_PROXY of the session) before the system's text.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/system_texts.h"
#include "platform/http_client.h"
#include "platform/prompts.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {
namespace {

constexpr char kAgent[] = "Quillon_Net";
constexpr DWORD_PTR kContext = 1;
constexpr std::chrono::milliseconds kDefaultConnectTimeout{60000};
constexpr std::chrono::milliseconds kDefaultStallTimeout{60000};

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;

// The calling thread's last error as the system describes it; WinInet's own codes are network
// failures, anything else (memory, handles) is a failure of this machine.
Status LastError() {
  DWORD code = GetLastError();
  std::string text = win32::SystemErrorText(code);
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    return Status::Network(std::move(text));
  }
  return Status::Local(std::move(text));
}

// Why WinInet rejected a server's certificate, for the codes that mean it did.
std::optional<texts::CertificateProblem> CertificateProblemOf(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return texts::CertificateProblem::kExpired;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return texts::CertificateProblem::kWrongName;
    case ERROR_INTERNET_INVALID_CA:
      return texts::CertificateProblem::kUnknownCa;
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
      return texts::CertificateProblem::kOther;
    default:
      return std::nullopt;
  }
}

// Connections WinInet gave up (closed) on this thread since the flag was last cleared, as its
// status callback reports them: a sync session calls back on the calling thread.
thread_local bool t_connection_closed = false;

void CALLBACK StatusCallback(HINTERNET /*handle*/, DWORD_PTR /*context*/, DWORD status,
                             LPVOID /*info*/, DWORD /*length*/) {
  if (status == INTERNET_STATUS_CLOSING_CONNECTION || status == INTERNET_STATUS_CONNECTION_CLOSED) {
    t_connection_closed = true;
  }
}

// Closes WinInet's idle kept-alive connections, so that the next request opens its own.
void DropIdleConnections() {
  InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
}

// "host:port" of the session's proxy for http, or empty when it has none.
std::string SessionProxy(HINTERNET session) {
  DWORD size = 0;
  InternetQueryOptionA(session, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO) || size > 65536) return {};
  std::vector<unsigned char> buffer(size + 1, 0);
  if (!InternetQueryOptionA(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) return {};
  INTERNET_PROXY_INFO info;
  std::copy_n(buffer.data(), sizeof info, reinterpret_cast<unsigned char*>(&info));
  if (info.dwAccessType != INTERNET_OPEN_TYPE_PROXY || info.lpszProxy == nullptr) return {};
  // The text lies in the buffer, after the structure; anything else is not read.
  const char* first = reinterpret_cast<const char*>(buffer.data());
  const char* last = first + buffer.size();
  const char* text = reinterpret_cast<const char*>(info.lpszProxy);
  if (std::less<>()(text, first + sizeof info) || !std::less<>()(text, last)) return {};
  const char* end =
      static_cast<const char*>(std::memchr(text, '\0', static_cast<std::size_t>(last - text)));
  return end == nullptr ? std::string() : std::string(text, end);
}

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET get() const { return handle_; }
  void Reset(HINTERNET handle = nullptr) {
    if (handle_ != nullptr) {
      InternetCloseHandle(handle_);
    }
    handle_ = handle;
  }

 private:
  HINTERNET handle_ = nullptr;
};

struct Timeouts {
  DWORD connect = static_cast<DWORD>(kDefaultConnectTimeout.count());
  DWORD stall = static_cast<DWORD>(kDefaultStallTimeout.count());
  // The whole exchange's limit (0: none) and when it runs out.
  std::chrono::seconds limit{0};
  std::chrono::steady_clock::time_point deadline;

  bool Expired() const { return limit.count() > 0 && std::chrono::steady_clock::now() >= deadline; }
  // The time-outs of one step, cut to what is left of the exchange's limit.
  Timeouts Remaining() const {
    Timeouts left = *this;
    if (limit.count() > 0) {
      const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const DWORD ms = static_cast<DWORD>(std::clamp<long long>(rest.count(), 1, 0x7fffffff));
      left.connect = std::min(left.connect, ms);
      left.stall = std::min(left.stall, ms);
    }
    return left;
  }
};

void ApplyTimeouts(HINTERNET handle, const Timeouts& timeouts) {
  DWORD connect = timeouts.connect;
  DWORD stall = timeouts.stall;
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof stall);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof stall);
}

// One POST's request handle and the answer it holds: the head the sink is handed.
class WinInetRequest final : public HttpResponse {
 public:
  WinInetRequest(HINTERNET connection, HINTERNET session, std::string path,
                 const Timeouts& timeouts, bool tls, std::string label)
      : connection_(connection),
        session_(session),
        path_(std::move(path)),
        timeouts_(timeouts),
        flags_(tls ? kRequestFlags | INTERNET_FLAG_SECURE : kRequestFlags),
        label_(std::move(label)) {}
  ~WinInetRequest() {
    handle_.Reset();
    DropIdleConnections();
  }
  WinInetRequest(const WinInetRequest&) = delete;
  WinInetRequest& operator=(const WinInetRequest&) = delete;

  // Opens the request handle, after telling WinInet it is online.
  Status Open() {
    INTERNET_CONNECTED_INFO info{INTERNET_STATE_CONNECTED, 0};
    InternetSetOptionA(connection_, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info);
    return Reopen();
  }

  Status Send(std::span<const HttpHeader> headers, std::string_view body) {
    if (sent_ && win32::UnderWine()) {
      // Wine sends a request again on the connection its handle still holds from the answer
      // before, and resends it when that connection breaks: the retry gets a handle of its own
      // (the credentials given are the connection handle's there, so they stay).
      if (Status reopened = Reopen(); !reopened.ok()) return reopened;
    }
    sent_ = true;
    received_ = 0;
    status_ = 0;
    if (timeouts_.Expired()) {
      return Status::Network(DeadlineText(timeouts_.limit));  // nothing goes out past the limit
    }
    if (timeouts_.limit.count() > 0) ApplyTimeouts(handle_.get(), timeouts_.Remaining());
    std::string header_block;
    for (const HttpHeader& header : headers) {
      header_block.append(header.name).append(": ").append(header.value).append("\r\n");
    }
    header_block.append(retry_credentials_);
    retry_credentials_.clear();
    std::vector<char> body_copy(body.begin(), body.end());
    DropIdleConnections();
    if (!HttpSendRequestA(handle_.get(), header_block.empty() ? nullptr : header_block.c_str(),
                          static_cast<DWORD>(header_block.size()),
                          body_copy.empty() ? nullptr : body_copy.data(),
                          static_cast<DWORD>(body_copy.size()))) {
      return timeouts_.Expired() ? Status::Network(DeadlineText(timeouts_.limit)) : SendError();
    }
    t_connection_closed = false;
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                        &size, nullptr)) {
      return LastError();
    }
    if (code == 0) {
      return Status::Network(win32::SystemErrorText(ERROR_INTERNET_CONNECTION_ABORTED));
    }
    if (win32::UnderWine() && !HasStatusLine()) {
      return Status::Network(win32::SystemErrorText(ERROR_HTTP_INVALID_SERVER_RESPONSE));
    }
    status_ = code;
    return Status::Ok();
  }

  uint32_t status() const override { return status_; }

  std::optional<std::string> Header(std::string_view name) override {
    std::string block;
    if (!RawHeaders(&block).ok()) {
      return std::nullopt;
    }
    // "Name: value" lines, CR LF each, after the status line (WinInet rebuilds them so).
    std::string_view rest(block);
    rest.remove_prefix(std::min(rest.size(), rest.find('\n') + 1));
    while (!rest.empty()) {
      std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() <= name.size() || line.substr(0, name.size()) != name ||
          line[name.size()] != ':') {
        continue;
      }
      std::string_view value = line.substr(name.size() + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
      }
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
      }
      return std::string(value);
    }
    return std::nullopt;
  }

  std::string Head() override {
    std::string block;
    return RawHeaders(&block).ok() ? block : std::string();
  }

  CredentialAnswer AskCredentials(Prompts& /*prompts*/) override {
    // Wine's proxy dialog reads the session's proxy name, and crashes the host's process when
    // there is none (a 407 from a server reached directly): no dialog then, the clerk is not
    // asked.
    if (status_ == 407 && win32::UnderWine() && !ViaProxy()) {
      return CredentialAnswer::kCancel;
    }
    // The system's own credential dialog, which stores what the user typed in the request: for
    // the center after a 401, for the proxy after a 407 (the dialog asks for the proxy's then).
    DWORD answer = InternetErrorDlg(
        GetDesktopWindow(), handle_.get(), ERROR_INTERNET_INCORRECT_PASSWORD,
        FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS, nullptr);
    if (answer != ERROR_INTERNET_FORCE_RETRY) {
      return CredentialAnswer::kCancel;
    }
    if (win32::UnderWine() && status_ == 407) {
      retry_credentials_ = ProxyBasicAnswer();
    }
    return CredentialAnswer::kRetry;
  }

  // The body, in pieces of up to buffer.size() bytes, each handed to sink as it is read.
  Status ReadBody(std::span<char> buffer, HttpSink& sink) {
    for (;;) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 0x7fffffff));
      DWORD got = 0;
      if (timeouts_.limit.count() > 0) ApplyTimeouts(handle_.get(), timeouts_.Remaining());
      if (timeouts_.Expired()) return Status::Network(DeadlineText(timeouts_.limit));
      if (!InternetReadFile(handle_.get(), buffer.data(), want, &got)) {
        return timeouts_.Expired() ? Status::Network(DeadlineText(timeouts_.limit)) : LastError();
      }
      if (timeouts_.Expired() && got > 0) return Status::Network(DeadlineText(timeouts_.limit));
      received_ += got;
      if (got == 0) {
        if (want > 0 &&
            (received_ < AnnouncedLength() || (win32::UnderWine() && ChunkedBodyCut()))) {
          return Status::Network(win32::SystemErrorText(ERROR_INTERNET_CONNECTION_ABORTED));
        }
        return Status::Ok();
      }
      if (Status taken = sink.OnBody(std::string_view(buffer.data(), got)); !taken.ok()) {
        return taken;
      }
    }
  }

 private:
  Status Reopen() {
    handle_.Reset();
    HINTERNET handle = HttpOpenRequestA(connection_, "POST", path_.c_str(), nullptr, nullptr,
                                        nullptr, flags_, kContext);
    if (handle == nullptr) {
      return LastError();
    }
    handle_.Reset(handle);
    ApplyTimeouts(handle, timeouts_);
    InternetSetStatusCallbackA(handle, StatusCallback);
    return Status::Ok();
  }

  // HttpSendRequestA failed: the system's words, after the proxy's name when the connection to
  // the proxy could not be made.
  Status SendError() {
    const DWORD code = GetLastError();
    Status failed = LastError();
    if (std::optional<texts::CertificateProblem> problem = CertificateProblemOf(code)) {
      return Status::Network(texts::CertificateFailure(*problem, label_, failed.words()));
    }
    if (code != ERROR_INTERNET_CANNOT_CONNECT && code != ERROR_INTERNET_NAME_NOT_RESOLVED &&
        code != ERROR_INTERNET_TIMEOUT) {
      return failed;
    }
    if (!ViaProxy()) {
      return failed;
    }
    const std::string proxy = SessionProxy(session_);
    if (proxy.empty()) return failed;
    return Status::Network(texts::ProxyUnreachable(proxy) + failed.words());
  }

  // Under Wine, the retry after the proxy's credential dialog would go out without what the
  // clerk typed (Wine's WinInet answers the 407 to that retry itself, with a further POST on the
  // same connection). For a Basic challenge the retry carries "Proxy-Authorization: Basic ...",
  // the user name and password as UTF-8 as Wine encodes them; Wine keeps them in the session
  // (INTERNET_OPTION_PROXY_USERNAME / PASSWORD) and answers later 407s itself. Empty for any
  // other scheme. A 401 is left to Wine: only its own answer puts the credentials in the cache
  // from which it sends them unasked to the center later.
  std::string ProxyBasicAnswer() {
    char challenge[64] = {};
    DWORD length = sizeof challenge - 1;
    if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_PROXY_AUTHENTICATE, challenge, &length,
                        nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return {};
    }
    if (_strnicmp(challenge, "Basic", 5) != 0 || (challenge[5] != ' ' && challenge[5] != '\0')) {
      return {};
    }
    std::string pair = Utf8Option(INTERNET_OPTION_PROXY_USERNAME);
    pair.append(":").append(Utf8Option(INTERNET_OPTION_PROXY_PASSWORD));
    return "Proxy-Authorization: Basic " + Base64(pair) + "\r\n";
  }

  std::string Utf8Option(DWORD option) {
    DWORD size = 0;
    InternetQueryOptionW(handle_.get(), option, nullptr, &size);
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    if (!InternetQueryOptionW(handle_.get(), option, text.data(), &size)) return {};
    const int wide = static_cast<int>(wcsnlen(text.data(), text.size()));
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) {
      WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), bytes, nullptr, nullptr);
    }
    return out;
  }

  static std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
      const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
      uint32_t v = 0;
      for (std::size_t k = 0; k < 3; ++k) {
        v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
      }
      for (std::size_t k = 0; k < 4; ++k) {
        out.push_back(k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=');
      }
    }
    return out;
  }

  // Whether the request goes through a proxy (INTERNET_REQFLAG_VIA_PROXY).
  bool ViaProxy() {
    DWORD flags = 0;
    DWORD size = sizeof flags;
    return InternetQueryOptionA(handle_.get(), INTERNET_OPTION_REQUEST_FLAGS, &flags, &size) &&
           (flags & INTERNET_REQFLAG_VIA_PROXY) != 0;
  }

  // Whether the response began with a status line: Wine keeps it as a "Status" header, and gives
  // none to bytes it took for an HTTP/0.9 answer.
  bool HasStatusLine() {
    char name[32] = "Status";
    DWORD length = sizeof name - 1;
    return HttpQueryInfoA(handle_.get(), HTTP_QUERY_CUSTOM, name, &length, nullptr) != FALSE;
  }

  // At the end of a chunked body: whether WinInet still holds the connection in the request,
  // which it does only when the body ended without its last chunk (after the last chunk it gave
  // the connection to its pool, or closed it and said so through the status callback).
  bool ChunkedBodyCut() {
    char text[32] = {};
    DWORD length = sizeof text - 1;
    if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_TRANSFER_ENCODING, text, &length, nullptr) ||
        std::string_view(text, std::min<DWORD>(length, sizeof text - 1)) != "chunked" ||
        t_connection_closed) {
      return false;
    }
    unsigned char probe[8] = {};
    DWORD size = 0;
    if (InternetQueryOptionA(handle_.get(), INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, probe,
                             &size)) {
      return false;
    }
    return GetLastError() != ERROR_INTERNET_INVALID_OPERATION;
  }

  // HTTP_QUERY_RAW_HEADERS_CRLF: the status line and every header, each ended by CR LF.
  Status RawHeaders(std::string* headers) {
    DWORD size = 0;
    HttpQueryInfoA(handle_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::vector<char> buffer(size + 1, '\0');
      DWORD length = static_cast<DWORD>(buffer.size());
      if (HttpQueryInfoA(handle_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length,
                         nullptr)) {
        headers->assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
        return Status::Ok();
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return LastError();
      }
      size = length;
    }
    return Status::Local("HttpQueryInfoA: the headers kept growing");
  }

  // The response's Content-Length, or 0 when it has none (a chunked body, or one that ends with
  // the connection).
  uint64_t AnnouncedLength() {
    char text[32] = {};
    DWORD length = sizeof text - 1;
    if (HttpQueryInfoA(handle_.get(), HTTP_QUERY_TRANSFER_ENCODING, text, &length, nullptr)) {
      return 0;  // a Content-Length beside it means nothing
    }
    length = sizeof text - 1;
    if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
      return 0;
    }
    uint64_t value = 0;
    for (DWORD i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (value > (UINT64_MAX - 9) / 10) return 0;
      value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return value;
  }

  uint64_t received_ = 0;
  uint32_t status_ = 0;
  bool sent_ = false;
  std::string retry_credentials_;  // a header line for the next Post, or empty
  InternetHandle handle_;
  HINTERNET connection_;  // the connection's and the HttpClient's, which outlive the request
  HINTERNET session_;
  std::string path_;
  Timeouts timeouts_;
  DWORD flags_;
  std::string label_;  // "server:port", for a certificate's failure
};

class WinInetClient final : public HttpClient {
 public:
  Status Check(const std::string& server, uint16_t port) override {
    InternetHandle connection;
    Timeouts timeouts;
    HINTERNET session = nullptr;
    return Connect(server, port, &connection, &session, &timeouts);
  }

  Status Post(const HttpPost& post, HttpSink& sink) override {
    InternetHandle connection;
    Timeouts timeouts;
    HINTERNET session = nullptr;
    // Port 0 stays WinInet's own default for plain HTTP; with TLS it is 443.
    const uint16_t port = post.tls ? PortOrDefault(post.port, true) : post.port;
    Status status = Connect(std::string(post.server), port, &connection, &session, &timeouts);
    if (!status.ok()) return status;
    // Declared after the connection, so that the request handle is closed first.
    WinInetRequest request(
        connection.get(), session, std::string(post.path), timeouts, post.tls,
        std::string(post.server) + ":" + std::to_string(PortOrDefault(post.port, post.tls)));
    if (status = request.Open(); !status.ok()) return status;
    for (;;) {
      if (status = request.Send(post.headers, post.body); !status.ok()) return status;
      const HeadAction action = sink.OnHead(request);
      if (action == HeadAction::kPostAgain) continue;
      if (action == HeadAction::kDone) return Status::Ok();
      break;
    }
    // Pieces of 500 000 bytes; a body announced shorter gets a piece of its own length. The
    // buffer is kept for the next post (another thread meanwhile gets one of its own).
    std::size_t piece = kPiece;
    const std::optional<std::string> length = request.Header("Content-Length");
    uint64_t announced = 0;
    if (length && std::from_chars(length->data(), length->data() + length->size(), announced).ptr !=
                      length->data()) {
      piece = static_cast<std::size_t>(std::clamp<uint64_t>(announced, 1, kPiece));
    }
    std::unique_ptr<char[]> buffer;
    {
      std::lock_guard<std::mutex> hold(lock_);
      buffer = std::move(buffer_);
    }
    if (!buffer) buffer.reset(new char[kPiece]);
    status = request.ReadBody(std::span<char>(buffer.get(), piece), sink);
    std::lock_guard<std::mutex> hold(lock_);
    if (!buffer_) buffer_ = std::move(buffer);
    return status;
  }

  void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) override {
    std::lock_guard<std::mutex> hold(lock_);
    timeouts_.connect = static_cast<DWORD>(std::clamp<long long>(connect.count(), 1, 0x7fffffff));
    timeouts_.stall = static_cast<DWORD>(std::clamp<long long>(stall.count(), 1, 0x7fffffff));
    if (session_.get() != nullptr) {
      ApplyTimeouts(session_.get(), timeouts_);
    }
  }

  void SetDeadline(std::chrono::steady_clock::time_point deadline,
                   std::chrono::seconds limit) override {
    std::lock_guard<std::mutex> hold(lock_);
    timeouts_.deadline = deadline;
    timeouts_.limit = limit;
  }

 private:
  static constexpr std::size_t kPiece = 500000;

  // The session (opened by the first call that needs one) and a connection to server:port.
  Status Connect(const std::string& server, uint16_t port, InternetHandle* connection,
                 HINTERNET* session, Timeouts* timeouts) {
    // Port 0 is INTERNET_INVALID_PORT_NUMBER: InternetConnectA takes the service's default, 80.
    if (server.empty()) {
      return Status::Local(win32::SystemErrorText(ERROR_INTERNET_INVALID_URL));
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (session_.get() == nullptr) {
      HINTERNET opened = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                       INTERNET_FLAG_DONT_CACHE);
      if (opened == nullptr) {
        return Status::Local(LastError().words());
      }
      session_.Reset(opened);
      ApplyTimeouts(opened, timeouts_);
    }
    HINTERNET handle = InternetConnectA(session_.get(), server.c_str(), port, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, kContext);
    if (handle == nullptr) {
      return LastError();
    }
    ApplyTimeouts(handle, timeouts_);
    connection->Reset(handle);
    *session = session_.get();
    *timeouts = timeouts_;
    return Status::Ok();
  }

  std::mutex lock_;
  InternetHandle session_;
  Timeouts timeouts_;
  std::unique_ptr<char[]> buffer_;  // the body's pieces, kept between posts
};

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient() { return std::make_unique<WinInetClient>(); }

bool CaFileUsed() { return false; }

namespace win32 {

HttpClient& DefaultHttpClient() {
  // Never destroyed: closing the session from a static destructor would call WinInet under the
  // loader lock. The process's end releases it.
  static HttpClient* client = NewHttpClient().release();
  return *client;
}

}  // namespace win32
}  // namespace qx::platform
