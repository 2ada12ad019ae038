// URL splitting, as a redirect's Location is split on every platform.
#include "transport/url_parts.h"

#include <cstdint>
#include <optional>

#include <gtest/gtest.h>

namespace qx::transport {
namespace {

TEST(UrlPartsTest, Splits) {
  struct Case {
    const char* url;
    bool ok;
    UrlParts::Scheme scheme;
    const char* host;
    uint16_t port;
    const char* path;
  };
  using S = UrlParts::Scheme;
  const Case cases[] = {
      {"http://10.1.2.3:8080/qx/servlet", true, S::kHttp, "10.1.2.3", 8080, "/qx/servlet"},
      {"http://center.example/qx?id=1#top", true, S::kHttp, "center.example", 80, "/qx?id=1"},
      {"HTTP://Center:81", true, S::kHttp, "Center", 81, "/"},
      {"http://user:pw@host/p", true, S::kHttp, "host", 80, "/p"},
      {"http://[::1]:9000/p", true, S::kHttp, "::1", 9000, "/p"},
      {"https://host/p", true, S::kHttps, "host", 443, "/p"},
      {"ftp://host/file", true, S::kOther, "host", 21, "/file"},
      {"ftp://127.0.0.1/file", true, S::kOther, "127.0.0.1", 21, "/file"},
      {"gopher://host/x", true, S::kOther, "host", 0, "/x"},
      {"http://host?q", true, S::kHttp, "host", 80, "/?q"},
      {"http://host:/p", true, S::kHttp, "host", 80, "/p"},
      {"http://host:65535/p", true, S::kHttp, "host", 65535, "/p"},
      {"/relative/path", false, S::kOther, "", 0, ""},
      {"not a url", false, S::kOther, "", 0, ""},
      {"http://", false, S::kOther, "", 0, ""},
      {"://host/p", false, S::kOther, "", 0, ""},
      {"1http://host/p", false, S::kOther, "", 0, ""},
      {"ht tp://host/p", false, S::kOther, "", 0, ""},
      {"http://ho st/p", false, S::kOther, "", 0, ""},
      {"http://host:0/", false, S::kOther, "", 0, ""},
      {"http://host:70000/", false, S::kOther, "", 0, ""},
      {"http://host:065535/", false, S::kOther, "", 0, ""},
      {"http://host:8x/", false, S::kOther, "", 0, ""},
      {"http://[::1/", false, S::kOther, "", 0, ""},
      {"http://[::1]x/", false, S::kOther, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const std::optional<UrlParts> parts = UrlParts::Split(c.url);
    ASSERT_EQ(parts.has_value(), c.ok);
    if (!c.ok) {
      continue;
    }
    EXPECT_EQ(parts->scheme, c.scheme);
    EXPECT_EQ(parts->host, c.host);
    EXPECT_EQ(parts->port, c.port);
    EXPECT_EQ(parts->path, c.path);
  }
}

}  // namespace
}  // namespace qx::transport
