// The POSIX HTTP client at the wire: the exact request bytes, answers that are not proper HTTP,
// the Digest answer, port 0, URL splitting, and the host's signal state left as it was.
#include "platform/http_client.h"

#include <signal.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/fake/fake_prompts.h"
#include "platform/posix/http_digest.h"
#include "support/gbk.h"
#include "transport/center_connection.h"
#include "transport/raw_server.h"

namespace qx::platform {
namespace {

using namespace std::chrono_literals;
using test::Gbk;
using test::RawServer;
using transport::CenterConnection;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

TEST(HttpClientWireTest, SendsExactlyTheRequestLineHostLengthAndTheTwoHeaders) {
  RawServer server({kOk});
  ASSERT_NE(server.port(), 0);
  std::unique_ptr<HttpClient> http = NewHttpClient();
  fake::FakePrompts prompts;
  CenterConnection connection(*http, prompts);
  connection.SetServer("127.0.0.1", server.port());

  const std::string body =
      Gbk("<Program><FunctionID>11</FunctionID><parameters><name>张伟</name>"
          "</parameters></Program>");
  std::string reply;
  ASSERT_EQ(connection.Exchange("/qx/servlet", body, reply), CenterConnection::kOk) << reply;
  EXPECT_EQ(reply, "ok");

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
  std::unique_ptr<HttpClient> http = NewHttpClient();
  fake::FakePrompts prompts;
  CenterConnection connection(*http, prompts);
  connection.SetServer("127.0.0.1", server.port());
  const std::string body(2 * 1024 * 1024, 'a');  // above libcurl's Expect threshold of 1 MB
  std::string reply;
  ASSERT_EQ(connection.Exchange("/qx/servlet", body, reply), CenterConnection::kOk) << reply;
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string wire = server.Requests()[0];
  EXPECT_EQ(wire.find("Expect"), std::string::npos);
  EXPECT_EQ(wire.size() - wire.find("\r\n\r\n") - 4, body.size());
}

// Answers that carry no readable HTTP status are internet failures with a description.
TEST(HttpClientWireTest, AnswersWithoutAStatusAreInternetFailures) {
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
      {"a length beyond reason", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\nshort"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server({c.response});
    std::unique_ptr<HttpClient> http = NewHttpClient();
    http->SetTimeouts(5s, 5s);
    fake::FakePrompts prompts;
    CenterConnection connection(*http, prompts);
    connection.SetServer("127.0.0.1", server.port());
    std::string reply;
    EXPECT_EQ(connection.Exchange("/qx/servlet", "<Program/>", reply),
              CenterConnection::kInternetFailed);
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(reply.find("short"), std::string::npos) << reply;
    EXPECT_TRUE(prompts.shown().empty());
  }
}

TEST(HttpClientWireTest, TheRedirectLocationIsTakenCaseSensitivelyUpToTheLineEnd) {
  RawServer target({kOk});
  const std::string moved =
      "HTTP/1.1 302 Found\r\nlocation: http://127.0.0.1:1/x\r\n"
      "Location: http://127.0.0.1:" +
      std::to_string(target.port()) +
      "/other/servlet?a=1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  RawServer center({moved});
  std::unique_ptr<HttpClient> http = NewHttpClient();
  fake::FakePrompts prompts;
  CenterConnection connection(*http, prompts);
  connection.SetServer("127.0.0.1", center.port());
  std::string reply;
  ASSERT_EQ(connection.Exchange("/qx/servlet", "<Program/>", reply), CenterConnection::kOk)
      << reply;
  EXPECT_EQ(reply, "ok");
  ASSERT_EQ(target.Requests().size(), 1u);
  EXPECT_EQ(target.Requests()[0].rfind("POST /other/servlet?a=1 HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(target.Requests()[0].find("\r\n\r\n<Program/>"), std::string::npos);
}

TEST(HttpDigestTest, AnswersAsTheRfcsExamplesDo) {
  EXPECT_EQ(posix::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(posix::Md5Hex(std::string(60, 'a')), "cc7ed669cf88f201c3297c6a91e1d18d");
  std::string eighty;  // RFC 1321, A.5
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  EXPECT_EQ(posix::Md5Hex(eighty), "57edf4a22be3c955ac49da2e2107b67a");
  posix::DigestChallenge challenge;
  // RFC 2617, 3.5 (its uri, qop auth, nc 00000001, cnonce 0a4f113b).
  ASSERT_TRUE(posix::ParseDigestChallenge(
      R"( realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093",)"
      R"( opaque="5ccc069c403ebaf9f0171e9517f40e41")",
      &challenge));
  EXPECT_EQ(posix::DigestAuthorization(challenge, "Mufasa", "Circle Of Life", "GET",
                                       "/dir/index.html", "", "0a4f113b"),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, "
            "nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  EXPECT_FALSE(
      posix::ParseDigestChallenge(R"(realm="r", nonce="n", algorithm=SHA-256)", &challenge));
  EXPECT_FALSE(posix::ParseDigestChallenge(R"(realm="r", qop="auth-conf", nonce="n")", &challenge));
  EXPECT_FALSE(posix::ParseDigestChallenge(R"(realm="r")", &challenge));
}

// The retry after a Digest 401 is one request: the body, and the answer to the 401's challenge.
TEST(HttpClientWireTest, ADigestChallengeIsAnsweredInOneRetry) {
  RawServer server(
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"qx\", "
       "nonce=\"abc\", qop=\"auth\", algorithm=MD5-sess\r\nContent-Length: 0\r\n\r\n",
       kOk});
  std::unique_ptr<HttpClient> http = NewHttpClient();
  fake::FakePrompts prompts;
  prompts.QueueCredentials(Credentials{"clerk", "s3cret"});
  CenterConnection connection(*http, prompts);
  connection.SetServer("127.0.0.1", server.port());
  std::string reply;
  ASSERT_EQ(connection.Exchange("/qx/servlet", "<Program/>", reply), CenterConnection::kOk);
  EXPECT_EQ(reply, "ok");
  ASSERT_EQ(server.Requests().size(), 2u);
  const std::string wire = server.Requests()[1];
  const std::string::size_type cnonce = wire.find("cnonce=\"");
  ASSERT_NE(cnonce, std::string::npos) << wire;
  posix::DigestChallenge challenge;
  ASSERT_TRUE(posix::ParseDigestChallenge(
      R"(realm="qx", nonce="abc", qop=auth, algorithm=MD5-sess)", &challenge));
  const std::string expected =
      "Authorization: " +
      posix::DigestAuthorization(challenge, "clerk", "s3cret", "POST", "/qx/servlet", "",
                                 wire.substr(cnonce + 8, 32)) +
      "\r\n";
  EXPECT_NE(wire.find(expected), std::string::npos) << wire;
  EXPECT_NE(wire.find("\r\nContent-Length: 10\r\n"), std::string::npos) << wire;
  EXPECT_EQ(wire.substr(wire.size() - 14), "\r\n\r\n<Program/>");
}

// Port 0 is WinInet's default port, 80: seen at a proxy (the environment's http_proxy), which
// gets the whole URL, so nothing has to listen on port 80 itself.
TEST(HttpClientWireTest, PortZeroIsPort80) {
  RawServer proxy({kOk});
  const std::string address = "http://127.0.0.1:" + std::to_string(proxy.port());
  ASSERT_EQ(setenv("http_proxy", address.c_str(), 1), 0);
  ASSERT_EQ(unsetenv("no_proxy"), 0);
  ASSERT_EQ(unsetenv("NO_PROXY"), 0);
  std::unique_ptr<HttpClient> http = NewHttpClient();
  fake::FakePrompts prompts;
  CenterConnection connection(*http, prompts);
  connection.SetServer("center.invalid", 0);
  std::string reply;
  EXPECT_EQ(connection.Exchange("/qx/servlet", "<Program/>", reply), CenterConnection::kOk)
      << reply;
  unsetenv("http_proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const std::string wire = proxy.Requests()[0];
  // libcurl leaves the scheme's default port out of the URL; any other would be written.
  EXPECT_EQ(wire.rfind("POST http://center.invalid/qx/servlet HTTP/1.1\r\n", 0), 0u) << wire;
}

TEST(HttpClientTest, LeavesTheHostsSignalStateAlone) {
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  sigset_t mask_before;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask_before);

  RawServer server({kOk});
  std::unique_ptr<HttpClient> http = NewHttpClient();
  fake::FakePrompts prompts;
  CenterConnection connection(*http, prompts);
  connection.SetServer("127.0.0.1", server.port());
  std::string reply;
  ASSERT_EQ(connection.Exchange("/qx/servlet", "<Program/>", reply), CenterConnection::kOk);

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

TEST(HttpClientTest, CracksUrls) {
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
      {"http://host?q", true, S::kHttp, "host", 80, "/?q"},
      {"/relative/path", false, S::kOther, "", 0, ""},
      {"not a url", false, S::kOther, "", 0, ""},
      {"http://", false, S::kOther, "", 0, ""},
      {"http://host:0/", false, S::kOther, "", 0, ""},
      {"http://host:70000/", false, S::kOther, "", 0, ""},
      {"http://host:8x/", false, S::kOther, "", 0, ""},
      {"http://[::1/", false, S::kOther, "", 0, ""},
  };
  std::unique_ptr<HttpClient> http = NewHttpClient();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    UrlParts parts;
    ASSERT_EQ(http->CrackUrl(c.url, &parts), c.ok);
    if (!c.ok) {
      continue;
    }
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.path, c.path);
  }
}

}  // namespace
}  // namespace qx::platform
