// The HTTP client on POSIX, over libcurl. (Being filled in; this first version fails every
// connection so that the library links.)
#include <memory>

#include "platform/http_client.h"
#include "platform/posix/default_parts.h"

namespace qx::platform {
namespace {

class PendingHttpClient final : public HttpClient {
 public:
  HttpError Connect(const std::string&, uint16_t, std::unique_ptr<HttpConnection>*) override {
    return HttpError::Other("HTTP client not available yet");
  }
  bool CrackUrl(std::string_view, UrlParts*) override { return false; }
  void SetTimeouts(std::chrono::milliseconds, std::chrono::milliseconds) override {}
};

}  // namespace

std::unique_ptr<HttpClient> NewHttpClient() { return std::make_unique<PendingHttpClient>(); }

namespace posix {
HttpClient& DefaultHttpClient() {
  static HttpClient* client = NewHttpClient().release();
  return *client;
}
}  // namespace posix

}  // namespace qx::platform
