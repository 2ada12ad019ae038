// An HttpClient for fuzz targets: every request is answered 200 with the given body, read back in
// pieces as the real clients do. No network, no time-outs.
#ifndef QX_TESTS_FUZZ_FUZZ_HTTP_H_
#define QX_TESTS_FUZZ_FUZZ_HTTP_H_

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace qx::fuzz {

class CannedRequest final : public platform::HttpRequest {
 public:
  explicit CannedRequest(const std::string& body) : body_(body) {}
  platform::HttpError Send(std::string_view, std::string_view) override {
    at_ = 0;
    return {};
  }
  platform::HttpError QueryStatusCode(uint32_t* status) override {
    *status = 200;
    return {};
  }
  platform::HttpError QueryRawHeaders(std::string* headers) override {
    *headers = "HTTP/1.1 200 OK\r\n\r\n";
    return {};
  }
  platform::CredentialAnswer AskCredentials(platform::Prompts&) override {
    return platform::CredentialAnswer::kCancel;
  }
  platform::HttpError Read(char* buffer, std::size_t size, std::size_t* read) override {
    *read = std::min(size, body_.size() - at_);
    std::memcpy(buffer, body_.data() + at_, *read);
    at_ += *read;
    return {};
  }

 private:
  const std::string& body_;
  std::size_t at_ = 0;
};

class CannedConnection final : public platform::HttpConnection {
 public:
  explicit CannedConnection(const std::string& body) : body_(body) {}
  void SetConnectedState() override {}
  platform::HttpError OpenRequest(std::string_view, std::string_view, uint32_t,
                                  std::unique_ptr<platform::HttpRequest>* request) override {
    *request = std::make_unique<CannedRequest>(body_);
    return {};
  }

 private:
  const std::string& body_;
};

class CannedHttpClient final : public platform::HttpClient {
 public:
  // What every request is answered with; may change between calls.
  std::string body;

  platform::HttpError Connect(const std::string&, uint16_t,
                              std::unique_ptr<platform::HttpConnection>* connection) override {
    *connection = std::make_unique<CannedConnection>(body);
    return {};
  }
  bool CrackUrl(std::string_view, platform::UrlParts*) override { return false; }
  void SetTimeouts(std::chrono::milliseconds, std::chrono::milliseconds) override {}
};

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_HTTP_H_
