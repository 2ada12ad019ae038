// CenterConnection against the simulated center on loopback: the business round trip, every
// status the center may answer with, the credential retry, the one redirect, and the network
// failures (center down, stalled, connection dropped mid-body).
#include "transport/center_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fake/fake_prompts.h"
#include "platform/http_client.h"
#include "support/center_sim_process.h"
#include "support/gbk.h"

namespace qx::transport {
namespace {

using platform::BoxButtons;
using platform::BoxIcon;
using platform::Credentials;
using platform::fake::FakePrompts;
using test::CenterSimProcess;
using test::CenterSimRequest;
using test::Gbk;
using namespace std::chrono_literals;

const std::string kLogin =
    "<Program><FunctionID>0</FunctionID><parameters><user>admin</user><password>123456</password>"
    "</parameters></Program>";

std::string LoginReply() {
  return Gbk(
      "<Program><ErrorNo>1</ErrorNo><ErrorMessage>处理成功！</ErrorMessage><ErrorType>0"
      "</ErrorType><Exception></Exception><addition-xml><row1><add1>QXTOKEN-20240001"
      "</add1></row1></addition-xml></Program>");
}

std::string Page(const char* utf8_title) {
  std::string title = Gbk(utf8_title);
  return "<html><head><title>" + title + "</title></head><body><h1>" + title +
         "</h1></body></html>";
}

// A loopback port on which nothing listens (bound, then closed again).
uint16_t DeadPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

class CenterConnectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim_ = new CenterSimProcess(); }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(sim_->ok()) << sim_->error();
    http_->SetTimeouts(5s, 5s);
    connection_.SetServer("127.0.0.1", sim_->port());
    ASSERT_EQ(connection_.Connect(), CenterConnection::kOk);
    logged_before_ = sim_->Requests().size();
  }

  // The requests the sim received during this test.
  std::vector<CenterSimRequest> NewRequests() const {
    std::vector<CenterSimRequest> all = sim_->Requests();
    return std::vector<CenterSimRequest>(all.begin() + static_cast<long>(logged_before_),
                                         all.end());
  }

  void ExpectOneErrorBox(const std::string& text) {
    std::vector<FakePrompts::Shown> boxes = prompts_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, Gbk("错误"));
    EXPECT_EQ(boxes[0].buttons, BoxButtons::kOk);
  }

  static CenterSimProcess* sim_;
  std::unique_ptr<platform::HttpClient> http_ = platform::NewHttpClient();
  FakePrompts prompts_;
  CenterConnection connection_{*http_, prompts_};
  std::size_t logged_before_ = 0;
};

CenterSimProcess* CenterConnectionTest::sim_ = nullptr;

TEST_F(CenterConnectionTest, PostsTheRequestAndReturnsTheWholeReply) {
  std::string reply;
  ASSERT_EQ(connection_.Exchange("/qx/servlet", kLogin, reply), CenterConnection::kOk) << reply;
  EXPECT_EQ(reply, LoginReply());
  EXPECT_TRUE(prompts_.shown().empty());

  std::vector<CenterSimRequest> seen = NewRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].listener, "main");
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].path, "/qx/servlet");
  EXPECT_EQ(seen[0].body, kLogin);
  EXPECT_EQ(seen[0].Header("Accept"), "text/*");
  EXPECT_EQ(seen[0].Header("User-Agent"), "Quillon_Net");
  EXPECT_EQ(seen[0].Header("Content-Length"), std::to_string(kLogin.size()));
  EXPECT_EQ(seen[0].Header("Content-Type"), "");
  EXPECT_EQ(seen[0].Header("Expect"), "");
}

TEST_F(CenterConnectionTest, SendsTheRequestOnlyUpToItsFirstZeroByte) {
  std::string request = kLogin;
  request.push_back('\0');
  request += "left over";
  std::string reply;
  ASSERT_EQ(connection_.Exchange("/qx/servlet", request, reply), CenterConnection::kOk);
  std::vector<CenterSimRequest> seen = NewRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, kLogin);
}

// Statuses the center answers with that are read as the reply, never followed or refused.
TEST_F(CenterConnectionTest, ReadsEveryOtherStatusBodyAsTheReply) {
  struct Case {
    const char* path;
    std::string reply;
  };
  const Case cases[] = {
      {"/scenario/empty", ""},
      {"/scenario/500", Page("500 服务器内部错误")},
      {"/scenario/307", Page("307 临时重定向 (not followed)")},
      {"/scenario/308", Page("308 临时重定向 (not followed)")},
      {"/no/such/servlet", Page("404 找不到请求的地址")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string reply;
    EXPECT_EQ(connection_.Exchange(c.path, kLogin, reply), CenterConnection::kOk);
    EXPECT_EQ(reply, c.reply);
  }
  EXPECT_TRUE(prompts_.shown().empty());
  for (const CenterSimRequest& r : NewRequests()) {
    EXPECT_EQ(r.listener, "main") << r.path << " was followed";
  }
}

TEST_F(CenterConnectionTest, FollowsOneRedirectThenGoesBackToTheConfiguredCenter) {
  for (const char* path : {"/scenario/301-other", "/scenario/302-other", "/scenario/303-other"}) {
    SCOPED_TRACE(path);
    logged_before_ = sim_->Requests().size();
    std::string reply;
    ASSERT_EQ(connection_.Exchange(path, kLogin, reply), CenterConnection::kOk) << reply;
    EXPECT_EQ(reply, LoginReply());

    reply.clear();
    ASSERT_EQ(connection_.Exchange("/qx/servlet", kLogin, reply), CenterConnection::kOk);
    EXPECT_EQ(reply, LoginReply());

    std::vector<CenterSimRequest> seen = NewRequests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].listener, "main");
    EXPECT_EQ(seen[1].listener, "second");
    EXPECT_EQ(seen[1].path, "/qx/servlet");
    EXPECT_EQ(seen[1].method, "POST");
    EXPECT_EQ(seen[1].body, kLogin);
    EXPECT_EQ(seen[1].Header("User-Agent"), "Quillon_Net");
    EXPECT_EQ(seen[2].listener, "main");
  }
  EXPECT_TRUE(prompts_.shown().empty());
  EXPECT_EQ(connection_.port(), sim_->port());
}

TEST_F(CenterConnectionTest, RefusesRedirectsItCannotFollow) {
  struct Case {
    const char* path;
    const char* box;
    std::size_t requests;
  };
  const Case cases[] = {
      {"/scenario/302-none", "Error: Site redirects with no new location.", 1},
      {"/scenario/302-garbage", "Error: the redirected URL could not be parsed.", 1},
      {"/scenario/302-https", "Error: the redirected URL does not reference a HTTP resource.", 1},
      {"/scenario/302-twice", "Error: Got status code.", 2},
      {"/scenario/302-500", "Error: Got status code.", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    prompts_.Clear();
    logged_before_ = sim_->Requests().size();
    std::string reply = "untouched";
    EXPECT_EQ(connection_.Exchange(c.path, kLogin, reply), CenterConnection::kInternetFailed);
    EXPECT_EQ(reply, "untouched");
    ExpectOneErrorBox(c.box);
    EXPECT_EQ(NewRequests().size(), c.requests);
  }
}

TEST_F(CenterConnectionTest, RetriesOnceWithTheCredentialsTheClerkGives) {
  prompts_.QueueCredentials(Credentials{"clerk", "s3cret"});
  std::string reply;
  ASSERT_EQ(connection_.Exchange("/scenario/401", kLogin, reply), CenterConnection::kOk) << reply;
  EXPECT_EQ(reply, LoginReply());

  ASSERT_EQ(prompts_.shown().size(), 1u);
  EXPECT_EQ(prompts_.shown()[0].kind, FakePrompts::Kind::kCredentials);
  EXPECT_EQ(prompts_.shown()[0].text, "127.0.0.1:" + std::to_string(sim_->port()) + " (qx-center)");

  std::vector<CenterSimRequest> seen = NewRequests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Header("Authorization"), "");
  EXPECT_EQ(seen[1].Header("Authorization"), "Basic Y2xlcms6czNjcmV0");  // clerk:s3cret
  EXPECT_EQ(seen[1].body, kLogin);
  EXPECT_EQ(seen[1].Header("Accept"), "text/*");
}

TEST_F(CenterConnectionTest, ReadsASecond401AsTheReply) {
  struct Case {
    const char* path;
    Credentials credentials;
  };
  const Case cases[] = {
      {"/scenario/401", {"clerk", "wrong"}},
      {"/scenario/401-forever", {"clerk", "s3cret"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    prompts_.Clear();
    prompts_.QueueCredentials(c.credentials);
    std::string reply;
    EXPECT_EQ(connection_.Exchange(c.path, kLogin, reply), CenterConnection::kOk);
    EXPECT_EQ(reply, Page("401 口令错误 (credentials refused)"));
    EXPECT_TRUE(prompts_.Boxes().empty());
  }
}

TEST_F(CenterConnectionTest, CancelledCredentialsEndWithTheInvalidPasswordBox) {
  prompts_.QueueCredentials(std::nullopt);
  std::string reply = "untouched";
  EXPECT_EQ(connection_.Exchange("/scenario/401", kLogin, reply),
            CenterConnection::kInternetFailed);
  EXPECT_EQ(reply, "untouched");
  ExpectOneErrorBox(Gbk("无效的口令."));
  EXPECT_EQ(NewRequests().size(), 1u);
}

TEST_F(CenterConnectionTest, ACenterThatIsDownFailsWithADescriptionAndNoBox) {
  connection_.SetServer("127.0.0.1", DeadPort());
  std::string reply;
  EXPECT_EQ(connection_.Exchange("/qx/servlet", kLogin, reply), CenterConnection::kInternetFailed);
  EXPECT_NE(reply.find("connect"), std::string::npos) << reply;
  EXPECT_TRUE(prompts_.shown().empty());
}

TEST_F(CenterConnectionTest, GivesUpOnAStalledCenter) {
  http_->SetTimeouts(5s, 1s);
  for (const char* path : {"/scenario/stall/20", "/scenario/stall-headers/20"}) {
    SCOPED_TRACE(path);
    std::string reply;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connection_.Exchange(path, kLogin, reply), CenterConnection::kInternetFailed);
    // A bound, not a speed target: the stall lasts 20 s, the time-out is 1 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_NE(reply.find("Timeout"), std::string::npos) << reply;
  }
  EXPECT_TRUE(prompts_.shown().empty());
}

TEST_F(CenterConnectionTest, AConnectionDroppedMidBodyReplacesTheReplyWithTheFailure) {
  std::string reply;
  EXPECT_EQ(connection_.Exchange("/scenario/reset", kLogin, reply),
            CenterConnection::kInternetFailed);
  EXPECT_FALSE(reply.empty());
  EXPECT_LT(reply.size(), 1000u) << "part of the body was kept";
  EXPECT_EQ(reply.find("xxxx"), std::string::npos);
  EXPECT_TRUE(prompts_.shown().empty());

  // The next exchange is not disturbed by the dropped connection.
  reply.clear();
  EXPECT_EQ(connection_.Exchange("/qx/servlet", kLogin, reply), CenterConnection::kOk);
  EXPECT_EQ(reply, LoginReply());
}

TEST_F(CenterConnectionTest, ConnectRefusesAServerItCannotUse) {
  struct Case {
    const char* server;
    uint16_t port;
  };
  const Case cases[] = {{"", 8080}, {"127.0.0.1", 0}, {"bad host/name", 80}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    prompts_.Clear();
    connection_.SetServer(c.server, c.port);
    EXPECT_EQ(connection_.Connect(), CenterConnection::kFailed);
    std::vector<FakePrompts::Shown> boxes = prompts_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, Gbk("系统错误"));
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
    EXPECT_FALSE(boxes[0].text.empty());

    // Exchange connects afresh, fails the same way and leaves the reply alone.
    prompts_.Clear();
    std::string reply = "untouched";
    EXPECT_EQ(connection_.Exchange("/qx/servlet", kLogin, reply), CenterConnection::kFailed);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(prompts_.Boxes().size(), 1u);
  }
}

TEST_F(CenterConnectionTest, CarriesACatalogueOfAHundredThousandRows) {
  std::string request =
      Gbk("<Program><FunctionID>21</FunctionID><parameters><count>100000</count></parameters>"
          "<user_info><row1><center_id>430100</center_id><staff_id>0701</staff_id><staff_name>"
          "王秀兰</staff_name></row1></user_info><addition-xml><row1><add1>QXTOKEN-20240001</add1>"
          "</row1></addition-xml></Program>");
  std::string reply;
  ASSERT_EQ(connection_.Exchange("/qx/servlet", request, reply), CenterConnection::kOk);
  EXPECT_GT(reply.size(), 45u * 1000 * 1000);
  EXPECT_EQ(reply.rfind(Gbk("<Program><ErrorNo>1</ErrorNo><ErrorMessage>处理成功！"), 0), 0u);
  EXPECT_NE(reply.find("<row100000><item_code>Y00100000</item_code>"), std::string::npos);
  EXPECT_EQ(reply.substr(reply.size() - 20), "</catalog></Program>");
}

}  // namespace
}  // namespace qx::transport
