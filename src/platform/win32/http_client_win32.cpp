// The HTTP client on Win32, over WinInet: the session is InternetOpenA (agent "Quillon_Net",
// INTERNET_OPEN_TYPE_PRECONFIG, INTERNET_FLAG_DONT_CACHE), a connection is InternetConnectA with
// INTERNET_SERVICE_HTTP and context 1, a request is HttpOpenRequestA .. InternetReadFile, and a
// URL is split with InternetCrackUrlA.
//
// Quirks handled where they arise:
//  - The session is opened by the first operation that needs it, never while the library is
//    being loaded: WinInet must not be called under the loader lock (DllMain, static
//    constructors). For the same reason the process-wide client is never destroyed.
//  - Time-outs are set explicitly on the session, on every connection and on every request:
//    Windows documents 60 s connect / 30 s send and receive, but Wine starts new connection
//    handles with send and receive time-outs of 0, which its sockets take as "wait forever".
//  - HttpSendRequestA succeeds on a 401 or a 3xx: the status is for the caller to read.
//  - Error texts of WinInet (12000 and up) come from wininet.dll's message table.
//  - InternetReadFile reports the end of a body whose connection closed or was reset before its
//    Content-Length as an ordinary end (TRUE, 0 bytes), so a cut body would pass for a whole one.
//    Read counts the bytes and takes an early end for ERROR_INTERNET_CONNECTION_ABORTED.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/prompts.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {
namespace {

constexpr char kAgent[] = "Quillon_Net";
constexpr DWORD_PTR kContext = 1;
constexpr std::chrono::milliseconds kDefaultConnectTimeout{60000};
constexpr std::chrono::milliseconds kDefaultStallTimeout{60000};

// The calling thread's last error as the system describes it; WinInet's own codes are internet
// failures, anything else (memory, handles) is another failure.
HttpError LastError() {
  DWORD code = GetLastError();
  std::string text = win32::SystemErrorText(code);
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    return HttpError::Internet(std::move(text));
  }
  return HttpError::Other(std::move(text));
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
};

void ApplyTimeouts(HINTERNET handle, const Timeouts& timeouts) {
  DWORD connect = timeouts.connect;
  DWORD stall = timeouts.stall;
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof stall);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof stall);
}

class WinInetRequest final : public HttpRequest {
 public:
  explicit WinInetRequest(HINTERNET handle) : handle_(handle) {}

  HttpError Send(std::string_view headers, std::string_view body) override {
    received_ = 0;
    const std::string header_block(headers);
    std::vector<char> body_copy(body.begin(), body.end());
    if (!HttpSendRequestA(handle_.get(), header_block.empty() ? nullptr : header_block.c_str(),
                          static_cast<DWORD>(header_block.size()),
                          body_copy.empty() ? nullptr : body_copy.data(),
                          static_cast<DWORD>(body_copy.size()))) {
      return LastError();
    }
    return HttpError();
  }

  HttpError QueryStatusCode(uint32_t* status) override {
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                        &size, nullptr)) {
      return LastError();
    }
    *status = code;
    return HttpError();
  }

  HttpError QueryRawHeaders(std::string* headers) override {
    DWORD size = 0;
    HttpQueryInfoA(handle_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::vector<char> buffer(size + 1, '\0');
      DWORD length = static_cast<DWORD>(buffer.size());
      if (HttpQueryInfoA(handle_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length,
                         nullptr)) {
        headers->assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
        return HttpError();
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return LastError();
      }
      size = length;
    }
    return HttpError::Other("HttpQueryInfoA: the headers kept growing");
  }

  CredentialAnswer AskCredentials(Prompts& /*prompts*/) override {
    // The system's own credential dialog, which stores what the user typed in the request.
    DWORD answer = InternetErrorDlg(
        GetDesktopWindow(), handle_.get(), ERROR_INTERNET_INCORRECT_PASSWORD,
        FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS, nullptr);
    return answer == ERROR_INTERNET_FORCE_RETRY ? CredentialAnswer::kRetry
                                                : CredentialAnswer::kCancel;
  }

  HttpError Read(char* buffer, std::size_t size, std::size_t* read) override {
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x7fffffff));
    DWORD got = 0;
    if (!InternetReadFile(handle_.get(), buffer, want, &got)) {
      *read = 0;
      return LastError();
    }
    *read = got;
    received_ += got;
    if (got == 0 && want > 0 && received_ < AnnouncedLength()) {
      return HttpError::Internet(win32::SystemErrorText(ERROR_INTERNET_CONNECTION_ABORTED));
    }
    return HttpError();
  }

 private:
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
  InternetHandle handle_;
};

class WinInetConnection final : public HttpConnection {
 public:
  WinInetConnection(HINTERNET handle, const Timeouts& timeouts)
      : handle_(handle), timeouts_(timeouts) {}

  void SetConnectedState() override {
    INTERNET_CONNECTED_INFO info{INTERNET_STATE_CONNECTED, 0};
    InternetSetOptionA(handle_.get(), INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info);
  }

  HttpError OpenRequest(std::string_view verb, std::string_view object, uint32_t flags,
                        std::unique_ptr<HttpRequest>* request) override {
    const std::string verb_text(verb);
    const std::string object_text(object);
    HINTERNET handle = HttpOpenRequestA(handle_.get(), verb_text.c_str(), object_text.c_str(),
                                        nullptr, nullptr, nullptr, flags, kContext);
    if (handle == nullptr) {
      return LastError();
    }
    ApplyTimeouts(handle, timeouts_);
    *request = std::make_unique<WinInetRequest>(handle);
    return HttpError();
  }

 private:
  InternetHandle handle_;
  Timeouts timeouts_;
};

class WinInetClient final : public HttpClient {
 public:
  HttpError Connect(const std::string& server, uint16_t port,
                    std::unique_ptr<HttpConnection>* connection) override {
    connection->reset();
    // Port 0 is INTERNET_INVALID_PORT_NUMBER: InternetConnectA takes the service's default, 80.
    if (server.empty()) {
      return HttpError::Other(win32::SystemErrorText(ERROR_INTERNET_INVALID_URL));
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (session_.get() == nullptr) {
      HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                        INTERNET_FLAG_DONT_CACHE);
      if (session == nullptr) {
        HttpError error = LastError();
        return HttpError::Other(error.description());
      }
      session_.Reset(session);
      ApplyTimeouts(session, timeouts_);
    }
    HINTERNET handle = InternetConnectA(session_.get(), server.c_str(), port, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, kContext);
    if (handle == nullptr) {
      return LastError();
    }
    ApplyTimeouts(handle, timeouts_);
    *connection = std::make_unique<WinInetConnection>(handle, timeouts_);
    return HttpError();
  }

  bool CrackUrl(std::string_view url, UrlParts* parts) override {
    const std::string text(url);
    if (text.empty() || text.find("://") == std::string::npos) {
      return false;
    }
    URL_COMPONENTSA components{};
    components.dwStructSize = sizeof components;
    components.dwSchemeLength = 1;
    components.dwHostNameLength = 1;
    components.dwUrlPathLength = 1;
    components.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(text.c_str(), 0, 0, &components)) {
      return false;
    }
    if (components.lpszHostName == nullptr || components.dwHostNameLength == 0) {
      return false;
    }
    std::string scheme(components.lpszScheme != nullptr ? components.lpszScheme : "",
                       components.lpszScheme != nullptr ? components.dwSchemeLength : 0);
    for (char& c : scheme) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    parts->scheme = components.nScheme == INTERNET_SCHEME_HTTP    ? UrlParts::Scheme::kHttp
                    : components.nScheme == INTERNET_SCHEME_HTTPS ? UrlParts::Scheme::kHttps
                                                                  : UrlParts::Scheme::kOther;
    parts->scheme_name = scheme;
    parts->host.assign(components.lpszHostName, components.dwHostNameLength);
    if (parts->host.size() >= 2 && parts->host.front() == '[' && parts->host.back() == ']') {
      parts->host = parts->host.substr(1, parts->host.size() - 2);
    }
    parts->port = components.nPort;
    std::string path;
    if (components.lpszUrlPath != nullptr) {
      path.assign(components.lpszUrlPath, components.dwUrlPathLength);
    }
    if (components.lpszExtraInfo != nullptr) {
      std::string extra(components.lpszExtraInfo, components.dwExtraInfoLength);
      extra = extra.substr(0, extra.find('#'));
      path += extra;
    }
    if (path.empty() || path.front() != '/') {
      path.insert(path.begin(), '/');
    }
    parts->path = path;
    return true;
  }

  void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) override {
    std::lock_guard<std::mutex> hold(lock_);
    timeouts_.connect = static_cast<DWORD>(std::clamp<long long>(connect.count(), 1, 0x7fffffff));
    timeouts_.stall = static_cast<DWORD>(std::clamp<long long>(stall.count(), 1, 0x7fffffff));
    if (session_.get() != nullptr) {
      ApplyTimeouts(session_.get(), timeouts_);
    }
  }

 private:
  std::mutex lock_;
  InternetHandle session_;
  Timeouts timeouts_;
};

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient() { return std::make_unique<WinInetClient>(); }

namespace win32 {

HttpClient& DefaultHttpClient() {
  // Never destroyed: closing the session from a static destructor would call WinInet under the
  // loader lock. The process's end releases it.
  static HttpClient* client = NewHttpClient().release();
  return *client;
}

}  // namespace win32
}  // namespace qx::platform
