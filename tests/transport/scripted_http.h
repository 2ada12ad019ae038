// An HttpClient that answers from a script and records what was asked of it, for the rules of
// the exchange (CenterConnection) without a network. Header-only, like the other test helpers
// of one folder.
#ifndef QX_TESTS_TRANSPORT_SCRIPTED_HTTP_H_
#define QX_TESTS_TRANSPORT_SCRIPTED_HTTP_H_

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"
#include "platform/http_client.h"
#include "platform/prompts.h"

namespace qx::test {

class ScriptedHttp final : public platform::HttpClient {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  // One answer to one Post, taken in order (an empty script answers 200 with no body).
  struct Answer {
    uint32_t status = 200;
    Headers headers;
    std::string body;
    Status post_failure;  // returned by Post instead of the answer
    Status read_failure;  // returned by the Read after the body instead of its end
  };

  struct Posted {
    std::string server;
    uint16_t port = 0;
    std::string path;
    Headers headers;
    std::string body;
  };

  std::deque<Answer> answers;
  Status connect_failure;  // returned by every Connect while set
  std::vector<std::pair<std::string, uint16_t>> connects;
  std::vector<Posted> posts;

  Status Connect(const std::string& server, uint16_t port,
                 std::unique_ptr<platform::HttpConnection>* connection) override {
    connects.emplace_back(server, port);
    connection->reset();
    if (!connect_failure.ok()) return connect_failure;
    *connection = std::make_unique<Connection>(*this, server, port);
    return Status::Ok();
  }
  void SetTimeouts(std::chrono::milliseconds, std::chrono::milliseconds) override {}

 private:
  class Request final : public platform::HttpRequest {
   public:
    Request(ScriptedHttp& http, Posted where) : http_(http), where_(std::move(where)) {}

    Status Post(std::span<const platform::HttpHeader> headers, std::string_view body) override {
      Posted posted = where_;
      for (const platform::HttpHeader& h : headers) posted.headers.emplace_back(h.name, h.value);
      posted.body = std::string(body);
      http_.posts.push_back(std::move(posted));
      answer_ = Answer();
      at_ = 0;
      if (!http_.answers.empty()) {
        answer_ = std::move(http_.answers.front());
        http_.answers.pop_front();
      }
      return answer_.post_failure.ok() ? Status::Ok() : answer_.post_failure;
    }
    uint32_t status() const override { return answer_.status; }
    std::optional<std::string> Header(std::string_view name) override {
      for (const auto& [spelled, value] : answer_.headers) {
        if (spelled == name) return value;
      }
      return std::nullopt;
    }
    Status Read(char* buffer, std::size_t size, std::size_t* read) override {
      *read = std::min(size, answer_.body.size() - at_);
      std::memcpy(buffer, answer_.body.data() + at_, *read);
      at_ += *read;
      return *read == 0 ? answer_.read_failure : Status::Ok();
    }
    platform::CredentialAnswer AskCredentials(platform::Prompts& prompts) override {
      return prompts.AskCredentials(where_.server) ? platform::CredentialAnswer::kRetry
                                                   : platform::CredentialAnswer::kCancel;
    }

   private:
    ScriptedHttp& http_;
    Posted where_;
    Answer answer_;
    std::size_t at_ = 0;
  };

  class Connection final : public platform::HttpConnection {
   public:
    Connection(ScriptedHttp& http, std::string server, uint16_t port)
        : http_(http), server_(std::move(server)), port_(port) {}
    Status OpenRequest(std::string_view path,
                       std::unique_ptr<platform::HttpRequest>* request) override {
      *request = std::make_unique<Request>(http_, Posted{server_, port_, std::string(path), {}, {}});
      return Status::Ok();
    }

   private:
    ScriptedHttp& http_;
    std::string server_;
    uint16_t port_;
  };
};

}  // namespace qx::test

#endif  // QX_TESTS_TRANSPORT_SCRIPTED_HTTP_H_
