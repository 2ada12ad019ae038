// An HttpClient for fuzz targets: every request is answered 200 with the given body, handed over
// in pieces as the real clients do. No network, no time-outs.
#ifndef QX_TESTS_FUZZ_FUZZ_HTTP_H_
#define QX_TESTS_FUZZ_FUZZ_HTTP_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace qx::fuzz {

class CannedResponse final : public platform::HttpResponse {
 public:
  uint32_t status() const override { return 200; }
  std::optional<std::string> Header(std::string_view) override { return std::nullopt; }
  std::string Head() override { return "HTTP/1.1 200 OK\r\n\r\n"; }
  platform::CredentialAnswer AskCredentials(platform::Prompts&) override {
    return platform::CredentialAnswer::kCancel;
  }
};

class CannedHttpClient final : public platform::HttpClient {
 public:
  // What every request is answered with; may change between calls.
  std::string body;

  Status Check(const std::string&, uint16_t) override { return Status::Ok(); }
  Status Post(const platform::HttpPost&, platform::HttpSink& sink) override {
    CannedResponse response;
    if (sink.OnHead(response) != platform::HeadAction::kBody) return Status::Ok();
    // In pieces, as the real clients hand them over.
    constexpr std::size_t kPiece = 4096;
    for (std::size_t at = 0; at < body.size(); at += kPiece) {
      Status status = sink.OnBody(std::string_view(body).substr(at, kPiece));
      if (!status.ok()) return status;
    }
    return Status::Ok();
  }
  void SetTimeouts(std::chrono::milliseconds, std::chrono::milliseconds) override {}
};

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_HTTP_H_
