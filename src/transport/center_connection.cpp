// One business call's trip to the center: POST the request to the servlet, answer a 401 (or a
// proxy's 407) with the kept or the clerk's credentials, follow one 301/302/303 to wherever the
// center points, and read the whole body of whatever else comes back (404 and 500 pages included)
// as the reply.
#include "transport/center_connection.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "base/system_texts.h"
#include "platform/http_client.h"
#include "platform/prompts.h"
#include "transport/url_parts.h"

namespace qx::transport {
namespace {

// Sent with every request, in this order.
constexpr platform::HttpHeader kRequestHeaders[] = {{"Accept", "text/*"},
                                                    {"User-Agent", "Quillon_Net"}};
// Where requests go before init_handle names the center.
constexpr const char* kDefaultServer = "127.0.0.1";

bool IsFollowedRedirect(uint32_t status) { return status == 301 || status == 302 || status == 303; }

// Room for the body the center announces, so that a catalogue of 50 MB is written once instead
// of being copied at each doubling of the text (and the copies left behind). Only a hint: an
// absent, unreadable or implausible length (over kMaxReserve) reserves nothing, and a body that
// turns out longer or shorter is read as it comes. Returns the length reserved for.
std::optional<std::size_t> ReserveAnnounced(platform::HttpRequest& request, std::string& reply) {
  constexpr std::uint64_t kMaxReserve = std::uint64_t{256} << 20;
  const std::optional<std::string> text = request.Header("Content-Length");
  if (!text) return std::nullopt;
  std::uint64_t length = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
  if (error != std::errc() || end == text->data() || length > kMaxReserve) return std::nullopt;
  try {
    reply.reserve(reply.size() + static_cast<std::size_t>(length));
  } catch (const std::exception&) {
    // No room ahead of time: the body is read piece by piece all the same.
  }
  return static_cast<std::size_t>(length);
}

}  // namespace

CenterConnection::CenterConnection(platform::HttpClient& http, platform::Prompts& prompts)
    : http_(http), prompts_(prompts), server_(kDefaultServer) {}

CenterConnection::~CenterConnection() = default;

void CenterConnection::SetServer(const std::string& server, uint16_t port) {
  server_ = server;
  port_ = port;
}

Status CenterConnection::Connect() {
  connection_.reset();
  std::unique_ptr<platform::HttpConnection> connection;
  Status made = http_.Connect(server_, port_, &connection);
  if (made.ok() && !connection) {
    made = Status::Local({});
  }
  if (!made.ok()) {
    prompts_.ShowBox(made.words(), texts::kSystemErrorCaption, platform::BoxButtons::kOk,
                     platform::BoxIcon::kError);
    return made;
  }
  connection_ = std::move(connection);
  return made;
}

Status CenterConnection::Refuse(const char* text) {
  prompts_.ShowBox(text, texts::kErrorCaption, platform::BoxButtons::kOk, platform::BoxIcon::kNone);
  return Status::Refused({});
}

// Opens a request for path on connection and posts body with the request headers.
Status CenterConnection::Post(platform::HttpConnection& connection, std::string_view path,
                              std::string_view body,
                              std::unique_ptr<platform::HttpRequest>* request) {
  Status status = connection.OpenRequest(path, request);
  return status.ok() ? (*request)->Post(kRequestHeaders, body) : status;
}

Status CenterConnection::Exchange(const std::string& servlet, const std::string& request,
                                  std::string& reply) {
  return Exchange(servlet, request, reply, PieceObserver());
}

Status CenterConnection::Exchange(const std::string& servlet, const std::string& request,
                                  std::string& reply, const PieceObserver& on_piece) {
  if (!Connect().ok()) {
    // The box said why; the -4 message adds nothing.
    return Status::Local({});
  }
  // The body is the request's bytes up to its first zero byte; no terminating zero is sent.
  const std::string_view body(request.c_str());
  const std::size_t given = reply.size();
  Status status;
  try {
    std::unique_ptr<platform::HttpRequest> http_request;
    status = Send(servlet, body, &http_request);
    if (status.ok()) {
      status = ReadBody(*http_request, reply, on_piece);
    }
  } catch (const std::exception& e) {
    status = Status::Local(e.what());
  }
  if (!status.ok()) {
    reply.resize(given);
  }
  return status;
}

// Posts body to servlet and settles the credential and redirect rules: ok leaves in *request the
// response whose body is the reply.
Status CenterConnection::Send(const std::string& servlet, std::string_view body,
                              std::unique_ptr<platform::HttpRequest>* request) {
  Status status = Post(*connection_, servlet, body, request);
  if (!status.ok()) {
    return status;
  }
  // A 401 (the center) or a 407 (a proxy on the way) means the request was not taken, so it may
  // go again with credentials: once with those kept from an earlier call, if any, and once with
  // those the clerk gives; what comes back after the clerk's answer is the reply, a second 401
  // or 407 included. The two kinds are counted apart, for a proxy and a center that both ask.
  bool clerk_answered_center = false;
  bool clerk_answered_proxy = false;
  for (int round = 0; round < 4; ++round) {
    const uint32_t code = (*request)->status();
    const bool proxy = code == 407;
    if ((code != 401 && !proxy) || (proxy ? clerk_answered_proxy : clerk_answered_center)) {
      break;
    }
    const platform::CredentialAnswer answer = (*request)->AskCredentials(prompts_);
    if (answer == platform::CredentialAnswer::kCancel) {
      return Refuse(texts::kInvalidPassword);
    }
    if (answer == platform::CredentialAnswer::kRetry) {
      (proxy ? clerk_answered_proxy : clerk_answered_center) = true;
    }
    // The retry carries the same headers and body: the center has to see the request itself,
    // not an empty POST, once it accepts the credentials.
    status = (*request)->Post(kRequestHeaders, body);
    if (!status.ok()) {
      return status;
    }
  }
  if (IsFollowedRedirect((*request)->status())) {
    return Redirect(request, body);
  }
  return status;
}

// Follows one redirect: the first header spelled "Location" (case-sensitive), an absolute http
// URL, answered with 200. A second redirect is therefore refused.
Status CenterConnection::Redirect(std::unique_ptr<platform::HttpRequest>* request,
                                  std::string_view body) {
  const std::optional<std::string> location = (*request)->Header("Location");
  if (!location) {
    return Refuse(texts::kRedirectWithoutLocation);
  }
  request->reset();
  connection_.reset();

  const std::optional<UrlParts> url = UrlParts::Split(*location);
  if (!url) {
    return Refuse(texts::kRedirectUnparsable);
  }
  if (url->scheme != UrlParts::Scheme::kHttp) {
    return Refuse(texts::kRedirectNotHttp);
  }
  // The redirect's connection serves this exchange only: server_ and port_ stay, so the next
  // exchange goes to the configured center again.
  Status status = http_.Connect(url->host, url->port, &connection_);
  if (status.ok()) {
    status = Post(*connection_, url->path, body, request);
  }
  if (status.ok() && (*request)->status() != 200) {
    return Refuse(texts::kRedirectBadStatus);
  }
  return status;
}

Status CenterConnection::ReadBody(platform::HttpRequest& request, std::string& reply,
                                  const PieceObserver& on_piece) {
  // Pieces of read_size_ bytes; a body announced shorter gets a buffer of its own length.
  std::size_t piece = static_cast<std::size_t>(read_size_);
  if (const std::optional<std::size_t> announced = ReserveAnnounced(request, reply)) {
    piece = std::clamp<std::size_t>(*announced, 1, piece);
  }
  // A small body is read through the stack.
  constexpr std::size_t kOnStack = 4096;
  char on_stack[kOnStack];
  std::unique_ptr<char[]> on_heap;
  char* buffer = on_stack;
  if (piece > kOnStack) {
    on_heap.reset(new char[piece]);
    buffer = on_heap.get();
  }
  for (;;) {
    std::size_t read = 0;
    Status status = request.Read(buffer, piece, &read);
    if (!status.ok() || read == 0) {
      return status;
    }
    reply.append(buffer, read);
    if (on_piece) on_piece(reply, reply.size() - read);
  }
}

}  // namespace qx::transport
