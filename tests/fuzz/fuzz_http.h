// An HttpClient for fuzz targets: every request is answered 200 with the given body, read back in
// pieces as the real clients do. No network, no time-outs.
#ifndef QX_TESTS_FUZZ_FUZZ_HTTP_H_
#define QX_TESTS_FUZZ_FUZZ_HTTP_H_

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace qx::fuzz {

class CannedRequest final : public platform::HttpRequest {
 public:
  explicit CannedRequest(const std::string& body) : body_(body) {}
  Status Post(std::span<const platform::HttpHeader>, std::string_view) override {
    at_ = 0;
    return Status::Ok();
  }
  uint32_t status() const override { return 200; }
  std::optional<std::string> Header(std::string_view) override { return std::nullopt; }
  Status Read(char* buffer, std::size_t size, std::size_t* read) override {
    *read = std::min(size, body_.size() - at_);
    std::memcpy(buffer, body_.data() + at_, *read);
    at_ += *read;
    return Status::Ok();
  }
  platform::CredentialAnswer AskCredentials(platform::Prompts&) override {
    return platform::CredentialAnswer::kCancel;
  }

 private:
  const std::string& body_;
  std::size_t at_ = 0;
};

class CannedConnection final : public platform::HttpConnection {
 public:
  explicit CannedConnection(const std::string& body) : body_(body) {}
  Status OpenRequest(std::string_view, std::unique_ptr<platform::HttpRequest>* request) override {
    *request = std::make_unique<CannedRequest>(body_);
    return Status::Ok();
  }

 private:
  const std::string& body_;
};

class CannedHttpClient final : public platform::HttpClient {
 public:
  // What every request is answered with; may change between calls.
  std::string body;

  Status Connect(const std::string&, uint16_t,
                 std::unique_ptr<platform::HttpConnection>* connection) override {
    *connection = std::make_unique<CannedConnection>(body);
    return Status::Ok();
  }
  void SetTimeouts(std::chrono::milliseconds, std::chrono::milliseconds) override {}
};

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_HTTP_H_
