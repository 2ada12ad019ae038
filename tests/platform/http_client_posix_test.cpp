// The POSIX HTTP client at the wire: the exact request bytes, answers that are not proper HTTP,
// header lookup, the Digest answer, port 0, and the host's signal state left as it was. What the
// exchange does with what the client reports is tests/transport's.
#include "platform/http_client.h"

#include <signal.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/raw_server.h"
#include "support/gbk.h"

namespace qx::platform {
namespace {

using namespace std::chrono_literals;
using test::Gbk;
using test::RawServer;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
constexpr HttpHeader kHeaders[] = {{"Accept", "text/*"}, {"User-Agent", "Quillon_Net"}};

// What a post hands its sink: the status, the head's text, the values of the headers named in
// names (asked while the head is in), and the body.
struct Recorder final : HttpSink {
  HeadAction OnHead(HttpResponse& response) override {
    ++heads;
    status = response.status();
    head = response.Head();
    values.clear();
    for (const char* name : names) values.push_back(response.Header(name));
    return HeadAction::kBody;
  }
  Status OnBody(std::string_view piece) override {
    body.append(piece);
    return Status::Ok();
  }
  std::vector<const char*> names;
  int heads = 0;
  uint32_t status = 0;
  std::string head;
  std::vector<std::optional<std::string>> values;
  std::string body;
};

// A client posting to server:port/path.
struct Posting {
  Posting(uint16_t to_port, std::string_view to_path, const char* to_server = "127.0.0.1")
      : port(to_port), path(to_path), server(to_server) {
    http->SetTimeouts(5s, 5s);
  }
  Status Post(std::string_view body) {
    return http->Post(HttpPost{server, port, path, kHeaders, body, false, {}}, sink);
  }

  uint16_t port;
  std::string path;
  std::string server;
  std::unique_ptr<HttpClient> http = NewHttpClient();
  Recorder sink;
};

TEST(HttpClientWireTest, SendsExactlyTheRequestLineHostLengthAndTheGivenHeaders) {
  RawServer server({kOk});
  ASSERT_NE(server.port(), 0);
  Posting posting(server.port(), "/qx/servlet");
  const std::string body =
      Gbk("<Program><FunctionID>11</FunctionID><parameters><name>张伟</name>"
          "</parameters></Program>");
  Status posted = posting.Post(body);
  ASSERT_TRUE(posted.ok()) << posted.words();
  EXPECT_EQ(posting.sink.heads, 1);
  EXPECT_EQ(posting.sink.status, 200u);
  EXPECT_EQ(posting.sink.head, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(posting.sink.body, "ok");

  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "POST /qx/servlet HTTP/1.1\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.port()) +
                "\r\n"
                "Content-Length: " +
                std::to_string(body.size()) +
                "\r\n"
                "Accept: text/*\r\n"
                "User-Agent: Quillon_Net\r\n"
                "\r\n" +
                body);
}

TEST(HttpClientWireTest, ALargeBodyGoesWithoutExpectContinue) {
  RawServer server({kOk});
  Posting posting(server.port(), "/qx/servlet");
  const std::string body(2 * 1024 * 1024, 'a');  // above libcurl's Expect threshold of 1 MB
  Status posted = posting.Post(body);
  ASSERT_TRUE(posted.ok()) << posted.words();
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string wire = server.Requests()[0];
  EXPECT_EQ(wire.find("Expect"), std::string::npos);
  EXPECT_EQ(wire.size() - wire.find("\r\n\r\n") - 4, body.size());
}

// Answers that carry no readable HTTP status, or a body cut short, are network failures with
// libcurl's words, whether Post or a Read meets them; no byte of a cut body counts as read.
TEST(HttpClientWireTest, AnswersWithoutAStatusOrCutShortAreNetworkFailures) {
  struct Case {
    const char* name;
    std::string response;
  };
  const Case cases[] = {
      {"closed without a byte", ""},
      {"not HTTP", "garbage\r\n\r\n"},
      {"status line cut short", "HTTP/1.1 2"},
      {"body shorter than announced", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"},
      {"body far shorter than announced",
       "HTTP/1.1 200 OK\r\ncontent-length:  200000000\r\n\r\nshort"},
      {"body far shorter than announced, as spelled",
       "HTTP/1.1 200 OK\r\nContent-Length:  200000000\r\n\r\nshort"},
      {"a length beyond reason", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\nshort"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server({c.response});
    Posting posting(server.port(), "/qx/servlet");
    Status status = posting.Post("<Program/>");
    EXPECT_EQ(status.kind(), Status::Kind::kNetwork);
    EXPECT_FALSE(status.words().empty());
    EXPECT_EQ(status.words().find("short"), std::string::npos) << status.words();
  }
}

// Header gives the first header spelled exactly as asked, without the blanks around its value;
// a status without headers, a 3xx included, is handed back and never followed.
TEST(HttpClientWireTest, HeadersAreFoundByTheirNameAsSpelled) {
  RawServer server(
      {"HTTP/1.1 302 Found\r\nlocation: http://127.0.0.1:1/x\r\n"
       "Content-Location: /elsewhere\r\n"
       "Location:   http://127.0.0.1:2/other/servlet?a=1  \r\n"
       "Location: http://127.0.0.1:3/third\r\n"
       "X-Folded: first\r\n  second\r\n"
       "Content-Length: 0\r\nConnection: close\r\n\r\n"});
  Posting posting(server.port(), "/qx/servlet");
  posting.sink.names = {"Location", "location", "Content-Location",
                        "X-Folded", "LOCATION", "Locat"};
  ASSERT_TRUE(posting.Post("<Program/>").ok());
  EXPECT_EQ(posting.sink.status, 302u);
  const std::vector<std::optional<std::string>> expected = {"http://127.0.0.1:2/other/servlet?a=1",
                                                            "http://127.0.0.1:1/x",
                                                            "/elsewhere",
                                                            "first second",
                                                            std::nullopt,
                                                            std::nullopt};
  EXPECT_EQ(posting.sink.values, expected);
  EXPECT_EQ(posting.sink.body, "");
  EXPECT_EQ(server.Requests().size(), 1u);
}

// The path is sent as given, its query included, with what a URL may not hold escaped.
TEST(HttpClientWireTest, ThePathIsSentAsGivenWithUnsafeBytesEscaped) {
  RawServer server({kOk});
  Posting posting(server.port(), "other servlet?a=1");
  ASSERT_TRUE(posting.Post("<Program/>").ok());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("POST /other%20servlet?a=1 HTTP/1.1\r\n", 0), 0u);
}

// Port 0 is WinInet's default port, 80: seen at a proxy (the environment's http_proxy), which
// gets the whole URL, so nothing has to listen on port 80 itself.
TEST(HttpClientWireTest, PortZeroIsPort80) {
  RawServer proxy({kOk});
  const std::string address = "http://127.0.0.1:" + std::to_string(proxy.port());
  ASSERT_EQ(setenv("http_proxy", address.c_str(), 1), 0);
  ASSERT_EQ(unsetenv("no_proxy"), 0);
  ASSERT_EQ(unsetenv("NO_PROXY"), 0);
  Posting posting(0, "/qx/servlet", "center.invalid");
  Status posted = posting.Post("<Program/>");
  unsetenv("http_proxy");
  EXPECT_TRUE(posted.ok()) << posted.words();
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const std::string wire = proxy.Requests()[0];
  // libcurl leaves the scheme's default port out of the URL; any other would be written.
  EXPECT_EQ(wire.rfind("POST http://center.invalid/qx/servlet HTTP/1.1\r\n", 0), 0u) << wire;
}

// A server name that cannot be one is refused before any I/O, as a failure of this machine.
TEST(HttpClientTest, RefusesAServerItCannotUse) {
  for (const char* server : {"", "bad host/name", "user@host"}) {
    SCOPED_TRACE(server);
    Posting posting(80, "/qx/servlet", server);
    Status status = posting.http->Check(server, 80);
    EXPECT_EQ(status.kind(), Status::Kind::kLocal);
    EXPECT_FALSE(status.words().empty());
    EXPECT_EQ(posting.Post("<Program/>").kind(), Status::Kind::kLocal);
    EXPECT_EQ(posting.sink.heads, 0);
  }
}

TEST(HttpClientTest, LeavesTheHostsSignalStateAlone) {
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  sigset_t mask_before;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask_before);

  RawServer server({kOk});
  Posting posting(server.port(), "/qx/servlet");
  ASSERT_TRUE(posting.Post("<Program/>").ok());

  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  sigset_t mask_after;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask_after);
  EXPECT_EQ(sigismember(&mask_after, SIGPIPE), sigismember(&mask_before, SIGPIPE));
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

}  // namespace
}  // namespace qx::platform
