// One business call's trip to the center: POST the request to the servlet, answer a 401 once with
// the clerk's credentials, follow one 301/302/303 to wherever the center points, and read the
// whole body of whatever else comes back (404 and 500 pages included) as the reply.
#include "transport/center_connection.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/http_client.h"
#include "platform/prompts.h"
#include "transport/transport_texts.h"

namespace qx::transport {
namespace {

// Sent as one block with every request.
constexpr std::string_view kRequestHeaders = "Accept: text/*\r\nUser-Agent: Quillon_Net\r\n";
constexpr std::string_view kVerb = "POST";
// Where requests go before init_handle names the center.
constexpr const char* kDefaultServer = "127.0.0.1";

bool IsFollowedRedirect(uint32_t status) { return status == 301 || status == 302 || status == 303; }

}  // namespace

CenterConnection::CenterConnection(platform::HttpClient& http, platform::Prompts& prompts)
    : request_flags_(platform::kHttpFlagReload | platform::kHttpFlagNoAutoRedirect),
      http_(http),
      prompts_(prompts),
      server_(kDefaultServer) {}

CenterConnection::~CenterConnection() = default;

void CenterConnection::SetServer(const std::string& server, uint16_t port) {
  server_ = server;
  port_ = port;
}

int32_t CenterConnection::Connect() {
  connection_.reset();
  std::unique_ptr<platform::HttpConnection> connection;
  platform::HttpError error = http_.Connect(server_, port_, &connection);
  if (!error.ok() || !connection) {
    prompts_.ShowBox(error.description(), texts::kSystemErrorCaption, platform::BoxButtons::kOk,
                     platform::BoxIcon::kError);
    return kFailed;
  }
  connection_ = std::move(connection);
  return kOk;
}

int32_t CenterConnection::Fail(const platform::HttpError& error, std::string& reply) {
  reply = error.description();
  return error.kind() == platform::HttpError::Kind::kInternet ? kInternetFailed : kFailed;
}

int32_t CenterConnection::Refuse(const char* text) {
  prompts_.ShowBox(text, texts::kErrorCaption, platform::BoxButtons::kOk, platform::BoxIcon::kNone);
  return kInternetFailed;
}

int32_t CenterConnection::Post(platform::HttpConnection& connection, std::string_view object,
                               std::string_view body,
                               std::unique_ptr<platform::HttpRequest>* request, uint32_t* status,
                               std::string& reply) {
  platform::HttpError error = connection.OpenRequest(kVerb, object, request_flags_, request);
  if (error.ok()) {
    error = (*request)->Send(kRequestHeaders, body);
  }
  if (error.ok()) {
    // A response without a readable status line is a broken exchange with the center.
    error = (*request)->QueryStatusCode(status);
  }
  return error.ok() ? kOk : Fail(error, reply);
}

int32_t CenterConnection::Exchange(const std::string& servlet, const std::string& request,
                                   std::string& reply) {
  return Exchange(servlet, request, reply, PieceObserver());
}

int32_t CenterConnection::Exchange(const std::string& servlet, const std::string& request,
                                   std::string& reply, const PieceObserver& on_piece) {
  if (connection_) {
    connection_->SetConnectedState();
  }
  Connect();
  if (!connection_) {
    return kFailed;
  }
  // The body is the request's bytes up to its first zero byte; no terminating zero is sent.
  const std::string_view body(request.c_str());
  std::unique_ptr<platform::HttpRequest> http_request;
  try {
    uint32_t status = 0;
    int32_t result = Post(*connection_, servlet, body, &http_request, &status, reply);
    if (result != kOk) {
      return result;
    }
    if (status == 401) {
      if (http_request->AskCredentials(prompts_) != platform::CredentialAnswer::kRetry) {
        return Refuse(texts::kInvalidPassword);
      }
      // The retry carries the same headers and body: the center has to see the request itself,
      // not an empty POST, once it accepts the credentials.
      platform::HttpError error = http_request->Send(kRequestHeaders, body);
      if (error.ok()) {
        error = http_request->QueryStatusCode(&status);
      }
      if (!error.ok()) {
        return Fail(error, reply);
      }
    }
    if (IsFollowedRedirect(status)) {
      result = Redirect(&http_request, body, reply);
      if (result != kOk) {
        return result;
      }
    }
    return ReadBody(*http_request, reply, on_piece);
  } catch (const std::exception& e) {
    reply = e.what();
    return kFailed;
  }
}

int32_t CenterConnection::Redirect(std::unique_ptr<platform::HttpRequest>* request,
                                   std::string_view body, std::string& reply) {
  std::string headers;
  platform::HttpError error = (*request)->QueryRawHeaders(&headers);
  if (!error.ok()) {
    return Fail(error, reply);
  }
  constexpr std::string_view kLocation = "Location: ";
  std::size_t at = headers.find(kLocation);
  if (at == std::string::npos) {
    return Refuse(texts::kRedirectWithoutLocation);
  }
  std::size_t start = at + kLocation.size();
  std::size_t end = headers.find_first_of("\r\n", start);
  std::string location = headers.substr(start, end == std::string::npos ? end : end - start);

  request->reset();
  connection_.reset();

  platform::UrlParts url;
  if (!http_.CrackUrl(location, &url)) {
    return Refuse(texts::kRedirectUnparsable);
  }
  if (url.scheme != platform::UrlParts::Scheme::kHttp) {
    return Refuse(texts::kRedirectNotHttp);
  }
  // The redirect's connection serves this exchange only: server_ and port_ stay, so the next
  // exchange goes to the configured center again.
  error = http_.Connect(url.host, url.port, &connection_);
  if (!error.ok()) {
    return Fail(error, reply);
  }
  uint32_t status = 0;
  int32_t result = Post(*connection_, url.path, body, request, &status, reply);
  if (result != kOk) {
    return result;
  }
  if (status != 200) {
    return Refuse(texts::kRedirectBadStatus);
  }
  return kOk;
}

// Room for the body the center announces, so that a catalogue of 50 MB is written once
// instead of being copied at each doubling of the text (and the copies left behind). Only a
// hint: an absent, unreadable or implausible length (over kMaxReserve) reserves nothing, and a
// body that turns out longer or shorter is read as it comes.
void CenterConnection::ReserveAnnounced(platform::HttpRequest& request, std::string& reply) {
  constexpr std::uint64_t kMaxReserve = std::uint64_t{256} << 20;
  std::string headers;
  if (!request.QueryRawHeaders(&headers).ok()) return;
  constexpr std::string_view kName = "content-length:";
  std::size_t line = 0;
  while (line < headers.size()) {
    std::size_t end = headers.find('\n', line);
    if (end == std::string::npos) end = headers.size();
    std::string_view text(headers.data() + line, end - line);
    line = end + 1;
    if (text.size() < kName.size() ||
        !std::equal(kName.begin(), kName.end(), text.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      continue;
    }
    text.remove_prefix(kName.size());
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    std::uint64_t length = 0;
    const auto [end_of_number, error] =
        std::from_chars(text.data(), text.data() + text.size(), length);
    if (error != std::errc() || end_of_number == text.data() || length > kMaxReserve) return;
    try {
      reply.reserve(reply.size() + static_cast<std::size_t>(length));
    } catch (const std::exception&) {
      // No room ahead of time: the body is read piece by piece all the same.
    }
    return;
  }
}

int32_t CenterConnection::ReadBody(platform::HttpRequest& request, std::string& reply,
                                   const PieceObserver& on_piece) {
  ReserveAnnounced(request, reply);
  const std::size_t piece = static_cast<std::size_t>(read_size_);
  std::unique_ptr<char[]> buffer(new char[piece + 1]);
  for (;;) {
    std::size_t read = 0;
    platform::HttpError error = request.Read(buffer.get(), piece, &read);
    if (!error.ok()) {
      return Fail(error, reply);
    }
    if (read == 0) {
      return kOk;
    }
    reply.append(buffer.get(), read);
    if (on_piece) on_piece(reply, reply.size() - read);
  }
}

}  // namespace qx::transport
