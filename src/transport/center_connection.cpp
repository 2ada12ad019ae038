// One business call's trip to the center: POST the request to the servlet, answer a 401 (or a
// proxy's 407) with the kept or the clerk's credentials, follow one 301/302/303 to wherever the
// center points, and hand on the head and body of whatever else comes back (404 and 500 pages
// included) as the reply.
#include "transport/center_connection.h"

#include <charconv>
#include <cstdint>
#include <exception>
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

// The announced length of the body, when there is one: a failure when it cannot be represented
// or is longer than any reply handed out (kMaxReplyBytes), so that a length the body can never
// reach is not taken for a body cut short and then whole. One that is not a number is the
// client's to judge.
Status CheckAnnouncedLength(platform::HttpResponse& response) {
  const std::optional<std::string> text = response.Header("Content-Length");
  if (!text) return Status::Ok();
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (end == text->data()) return Status::Ok();
  if (error == std::errc::result_out_of_range || value > kMaxReplyBytes) {
    return Status::Network(texts::ReplyTooLong(kMaxReplyBytes));
  }
  return Status::Ok();
}

// The rules of one POST: which answer is the reply, which one asks for credentials, which one
// is a redirect to follow. The retries after a 401 (the center) or a 407 (a proxy on the way)
// mean the request was not taken, so it may go again with credentials: once with those kept from
// an earlier call, if any, and once with those the clerk gives; what comes back after the
// clerk's answer is the reply, a second 401 or 407 included. The two kinds are counted apart,
// for a proxy and a center that both ask. A redirect's target gets no credential rounds and has
// to answer 200.
class ExchangeSink final : public platform::HttpSink {
 public:
  ExchangeSink(platform::Prompts& prompts, platform::HttpSink& reply, bool redirected)
      : prompts_(prompts), reply_(reply), redirected_(redirected) {}

  platform::HeadAction OnHead(platform::HttpResponse& response) override {
    const uint32_t code = response.status();
    if (!redirected_ && (code == 401 || code == 407) && rounds_ < kMaxRounds) {
      bool& clerk_answered = code == 407 ? clerk_answered_proxy_ : clerk_answered_center_;
      if (!clerk_answered) {
        ++rounds_;
        const platform::CredentialAnswer answer = response.AskCredentials(prompts_);
        if (answer == platform::CredentialAnswer::kCancel) {
          refusal_ = texts::kInvalidPassword;
          return platform::HeadAction::kDone;
        }
        clerk_answered = answer == platform::CredentialAnswer::kRetry;
        // The retry carries the same headers and body: the center has to see the request
        // itself, not an empty POST, once it accepts the credentials.
        return platform::HeadAction::kPostAgain;
      }
    }
    if (!redirected_ && IsFollowedRedirect(code)) {
      location_ = response.Header("Location");
      if (!location_) refusal_ = texts::kRedirectWithoutLocation;
      return platform::HeadAction::kDone;
    }
    if (redirected_ && code != 200) {
      refusal_ = texts::kRedirectBadStatus;
      return platform::HeadAction::kDone;
    }
    failure_ = CheckAnnouncedLength(response);
    if (!failure_.ok()) return platform::HeadAction::kDone;
    taken_ = true;
    return reply_.OnHead(response);
  }

  Status OnBody(std::string_view piece) override {
    // The host learns a reply's length as a 32-bit signed result: a longer one is refused
    // before it is held.
    if (piece.size() > kMaxReplyBytes - received_) {
      return Status::Network(texts::ReplyTooLong(kMaxReplyBytes));
    }
    received_ += piece.size();
    return reply_.OnBody(piece);
  }

  // What the POST ended with, once Post returned ok: a failure met in the head, a refusal (the
  // box's text), a location to follow, or the reply taken.
  const Status& failure() const { return failure_; }
  const char* refusal() const { return refusal_; }
  const std::optional<std::string>& location() const { return location_; }
  bool taken() const { return taken_; }

 private:
  static constexpr int kMaxRounds = 4;  // credential rounds of one POST

  platform::Prompts& prompts_;
  platform::HttpSink& reply_;
  const bool redirected_;
  int rounds_ = 0;
  bool clerk_answered_center_ = false;
  bool clerk_answered_proxy_ = false;
  Status failure_;
  const char* refusal_ = nullptr;
  std::optional<std::string> location_;
  bool taken_ = false;
  std::size_t received_ = 0;
};

}  // namespace

CenterConnection::CenterConnection(platform::HttpClient& http, platform::Prompts& prompts)
    : http_(http), prompts_(prompts), server_(kDefaultServer) {}

CenterConnection::~CenterConnection() = default;

void CenterConnection::SetServer(const std::string& server, uint16_t port) {
  server_ = server;
  port_ = port;
}

void CenterConnection::SetTls(bool on, const std::string& ca_file) {
  tls_ = on;
  ca_file_ = on ? ca_file : std::string();
}

Status CenterConnection::Connect() {
  Status checked = http_.Check(server_, port_);
  if (!checked.ok()) {
    prompts_.ShowBox(checked.words(), texts::kSystemErrorCaption, platform::BoxButtons::kOk,
                     platform::BoxIcon::kError);
  }
  return checked;
}

Status CenterConnection::Refuse(const char* text) {
  prompts_.ShowBox(text, texts::kErrorCaption, platform::BoxButtons::kOk, platform::BoxIcon::kNone);
  return Status::Refused({});
}

Status CenterConnection::Exchange(const std::string& servlet, const std::string& request,
                                  platform::HttpSink& reply) {
  if (!Connect().ok()) {
    // The box said why; the -4 message adds nothing.
    return Status::Local({});
  }
  try {
    // The body is the request's bytes up to its first zero byte; no terminating zero is sent.
    platform::HttpPost post{server_,         port_, servlet, kRequestHeaders,
                            request.c_str(), tls_,  ca_file_};
    ExchangeSink first(prompts_, reply, /*redirected=*/false);
    Status status = http_.Post(post, first);
    if (!status.ok()) return status;
    if (!first.failure().ok()) return first.failure();
    if (first.refusal() != nullptr) return Refuse(first.refusal());
    if (first.taken()) return status;

    // One redirect, to the first header spelled "Location" (case-sensitive): an absolute http
    // URL (https with TLS on: never from https down to http), answered with 200. A second
    // redirect is therefore refused. The redirect serves this exchange only: the next one goes
    // to the configured center again.
    const std::optional<UrlParts> url = UrlParts::Split(*first.location());
    if (!url) return Refuse(texts::kRedirectUnparsable);
    const UrlParts::Scheme wanted = tls_ ? UrlParts::Scheme::kHttps : UrlParts::Scheme::kHttp;
    if (url->scheme != wanted) return Refuse(texts::kRedirectNotHttp);
    status = http_.Check(url->host, url->port);
    if (!status.ok()) return status;
    post.server = url->host;
    post.port = url->port;
    post.path = url->path;
    ExchangeSink moved(prompts_, reply, /*redirected=*/true);
    status = http_.Post(post, moved);
    if (!status.ok()) return status;
    if (!moved.failure().ok()) return moved.failure();
    if (moved.refusal() != nullptr) return Refuse(moved.refusal());
    return status;
  } catch (const std::exception& e) {
    return Status::Local(e.what());
  }
}

}  // namespace qx::transport
