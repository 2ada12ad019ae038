// The rules of the exchange (CenterConnection) over a scripted HTTP client: what is posted, the
// one retry after a 401, the one redirect followed, what is refused with which box, and how a
// failure of the client comes back. Runs on every platform; the same rules against real clients
// are the scenario table's (tests/scenarios), the clients' wire behaviour tests/platform's.
#include "transport/center_connection.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/system_texts.h"
#include "platform/fake/fake_prompts.h"
#include "support/gbk.h"
#include "transport/scripted_http.h"

namespace qx::transport {
namespace {

using platform::BoxIcon;
using platform::Credentials;
using platform::fake::FakePrompts;
using test::Gbk;
using test::ScriptedHttp;
using Answer = ScriptedHttp::Answer;

const std::string kRequest = "<Program><FunctionID>0</FunctionID></Program>";

class CenterConnectionRulesTest : public ::testing::Test {
 protected:
  void SetUp() override { connection_.SetServer("center", 8080); }

  // Exchanges kRequest on /qx/servlet; the reply in reply_.
  Status Exchange() {
    reply_.clear();
    return connection_.Exchange("/qx/servlet", kRequest, reply_);
  }

  static Answer Redirect(uint32_t status, std::string location) {
    return Answer{status, {{"Location", std::move(location)}}, "moved", {}, {}};
  }

  ScriptedHttp http_;
  FakePrompts prompts_;
  CenterConnection connection_{http_, prompts_};
  std::string reply_;
};

TEST_F(CenterConnectionRulesTest, PostsTheRequestUpToItsFirstZeroByteWithTheTwoHeaders) {
  std::string request = kRequest;
  request.push_back('\0');
  request += "left over";
  http_.answers.push_back(Answer{200, {}, "<Program/>", {}, {}});
  std::string reply;
  ASSERT_TRUE(connection_.Exchange("/qx/servlet", request, reply).ok());
  EXPECT_EQ(reply, "<Program/>");
  ASSERT_EQ(http_.posts.size(), 1u);
  EXPECT_EQ(http_.posts[0].server, "center");
  EXPECT_EQ(http_.posts[0].port, 8080);
  EXPECT_EQ(http_.posts[0].path, "/qx/servlet");
  EXPECT_EQ(http_.posts[0].body, kRequest);
  const ScriptedHttp::Headers expected = {{"Accept", "text/*"}, {"User-Agent", "Quillon_Net"}};
  EXPECT_EQ(http_.posts[0].headers, expected);
  EXPECT_TRUE(prompts_.shown().empty());
}

TEST_F(CenterConnectionRulesTest, EveryExchangeMakesAFreshConnectionToTheDefaultServerFirst) {
  CenterConnection unset(http_, prompts_);
  ASSERT_TRUE(unset.Connect().ok());
  std::string reply;
  ASSERT_TRUE(unset.Exchange("/s", kRequest, reply).ok());
  const std::vector<std::pair<std::string, uint16_t>> expected = {{"127.0.0.1", 0},
                                                                  {"127.0.0.1", 0}};
  EXPECT_EQ(http_.connects, expected);
}

// Statuses that are read as the reply, never followed or refused.
TEST_F(CenterConnectionRulesTest, EveryOtherStatusIsTheReply) {
  struct Case {
    uint32_t status;
    const char* body;
  };
  const Case cases[] = {{200, ""},         {500, "<html>500</html>"},
                        {404, "not here"}, {307, "307"},
                        {308, "308"},      {304, "304"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    const std::size_t posted = http_.posts.size();
    http_.answers.push_back(Answer{c.status, {{"Location", "http://elsewhere/x"}}, c.body, {}, {}});
    ASSERT_TRUE(Exchange().ok());
    EXPECT_EQ(reply_, c.body);
    EXPECT_EQ(http_.posts.size(), posted + 1);
  }
  EXPECT_TRUE(prompts_.shown().empty());
}

TEST_F(CenterConnectionRulesTest, TheBodyIsReadInPiecesOfHalfAMegabyteAndObserved) {
  const std::string body(1200000, 'x');
  http_.answers.push_back(Answer{200, {{"Content-Length", "1200000"}}, body, {}, {}});
  std::vector<std::size_t> froms;
  std::string reply;
  ASSERT_TRUE(connection_
                  .Exchange("/qx/servlet", kRequest, reply,
                            [&](std::string_view so_far, std::size_t from) {
                              EXPECT_EQ(so_far.size(),
                                        std::min<std::size_t>(from + 500000, 1200000));
                              froms.push_back(from);
                            })
                  .ok());
  EXPECT_EQ(reply, body);
  EXPECT_EQ(froms, (std::vector<std::size_t>{0, 500000, 1000000}));
}

// The announced length is room made ahead, when it is spelled "Content-Length" and plausible.
TEST_F(CenterConnectionRulesTest, RoomIsMadeForAnAnnouncedBodyWithinReason) {
  http_.answers.push_back(Answer{200, {{"Content-Length", "3000000"}}, "short", {}, {}});
  ASSERT_TRUE(Exchange().ok());
  EXPECT_EQ(reply_, "short");
  EXPECT_GE(reply_.capacity(), 3000000u);

  std::string reply;
  http_.answers.push_back(Answer{200, {{"Content-Length", "1000000000000"}}, "short", {}, {}});
  ASSERT_TRUE(connection_.Exchange("/qx/servlet", kRequest, reply).ok());
  EXPECT_EQ(reply, "short");
  EXPECT_LT(reply.capacity(), 3000000u);
}

TEST_F(CenterConnectionRulesTest, A401IsAnsweredOnceWithTheSameRequestAndASecond401IsTheReply) {
  prompts_.QueueCredentials(Credentials{"clerk", "s3cret"});
  http_.answers.push_back(Answer{401, {}, "401 a", {}, {}});
  http_.answers.push_back(Answer{401, {}, "401 b", {}, {}});
  ASSERT_TRUE(Exchange().ok());
  EXPECT_EQ(reply_, "401 b");
  ASSERT_EQ(http_.posts.size(), 2u);
  EXPECT_EQ(http_.posts[1].headers, http_.posts[0].headers);
  EXPECT_EQ(http_.posts[1].body, kRequest);
  ASSERT_EQ(prompts_.shown().size(), 1u);
  EXPECT_EQ(prompts_.shown()[0].kind, FakePrompts::Kind::kCredentials);
}

TEST_F(CenterConnectionRulesTest, A401WithoutCredentialsIsRefusedWithTheInvalidPasswordBox) {
  prompts_.QueueCredentials(std::nullopt);
  http_.answers.push_back(Answer{401, {}, "401", {}, {}});
  reply_ = "given";
  Status status = connection_.Exchange("/qx/servlet", kRequest, reply_);
  EXPECT_EQ(status.kind(), Status::Kind::kRefused);
  EXPECT_EQ(status.words(), "");
  EXPECT_EQ(reply_, "given");
  EXPECT_EQ(http_.posts.size(), 1u);
  std::vector<FakePrompts::Shown> boxes = prompts_.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, Gbk("无效的口令."));
  EXPECT_EQ(boxes[0].caption, Gbk("错误"));
  EXPECT_EQ(boxes[0].icon, BoxIcon::kNone);
}

// 301, 302 and 303 are followed once, after a 401's retry too; the next exchange goes to the
// configured center again.
TEST_F(CenterConnectionRulesTest, ARedirectIsFollowedOnceToTheLocationsHttpUrl) {
  for (uint32_t status : {301u, 302u, 303u}) {
    SCOPED_TRACE(status);
    http_.posts.clear();
    http_.answers.push_back(Redirect(status, "http://10.0.0.2:9090/other/servlet?a=1#f"));
    http_.answers.push_back(Answer{200, {}, "there", {}, {}});
    ASSERT_TRUE(Exchange().ok());
    EXPECT_EQ(reply_, "there");
    ASSERT_EQ(http_.posts.size(), 2u);
    EXPECT_EQ(http_.posts[1].server, "10.0.0.2");
    EXPECT_EQ(http_.posts[1].port, 9090);
    EXPECT_EQ(http_.posts[1].path, "/other/servlet?a=1");
    EXPECT_EQ(http_.posts[1].headers, http_.posts[0].headers);
    EXPECT_EQ(http_.posts[1].body, kRequest);
  }
  http_.posts.clear();
  ASSERT_TRUE(Exchange().ok());
  ASSERT_EQ(http_.posts.size(), 1u);
  EXPECT_EQ(http_.posts[0].server, "center");
  EXPECT_EQ(connection_.server(), "center");
  EXPECT_EQ(connection_.port(), 8080);

  http_.posts.clear();
  prompts_.QueueCredentials(Credentials{"clerk", "s3cret"});
  http_.answers.push_back(Answer{401, {}, "401", {}, {}});
  http_.answers.push_back(Redirect(302, "http://10.0.0.2/after"));
  http_.answers.push_back(Answer{200, {}, "there", {}, {}});
  ASSERT_TRUE(Exchange().ok());
  EXPECT_EQ(reply_, "there");
  ASSERT_EQ(http_.posts.size(), 3u);
  EXPECT_EQ(http_.posts[2].port, 80);
  EXPECT_EQ(http_.posts[2].path, "/after");
  EXPECT_TRUE(prompts_.Boxes().empty());
}

TEST_F(CenterConnectionRulesTest, RedirectsThatAreNotFollowedEndWithABox) {
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    const char* box;
  };
  const Case cases[] = {
      {"no Location",
       {Answer{302, {{"Content-Length", "0"}}, "", {}, {}}},
       texts::kRedirectWithoutLocation},
      {"only a location spelled otherwise",
       {Answer{302,
               {{"location", "http://10.0.0.2/x"}, {"LOCATION", "http://10.0.0.2/y"}},
               "",
               {},
               {}}},
       texts::kRedirectWithoutLocation},
      {"a relative location", {Redirect(302, "/relative/path")}, texts::kRedirectUnparsable},
      {"an empty location", {Redirect(301, "")}, texts::kRedirectUnparsable},
      {"not HTTP", {Redirect(303, "ftp://127.0.0.1/file")}, texts::kRedirectNotHttp},
      {"HTTPS", {Redirect(302, "https://10.0.0.2/x")}, texts::kRedirectNotHttp},
      {"a second redirect",
       {Redirect(302, "http://10.0.0.2/again"), Redirect(302, "http://10.0.0.3/x")},
       texts::kRedirectBadStatus},
      {"a 404 there",
       {Redirect(302, "http://10.0.0.2/x"), Answer{404, {}, "not here", {}, {}}},
       texts::kRedirectBadStatus},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompts_.Clear();
    http_.posts.clear();
    http_.answers.assign(c.answers.begin(), c.answers.end());
    reply_ = "given";
    Status status = connection_.Exchange("/qx/servlet", kRequest, reply_);
    EXPECT_EQ(status.kind(), Status::Kind::kRefused);
    EXPECT_EQ(status.words(), "");
    EXPECT_EQ(reply_, "given");
    EXPECT_EQ(http_.posts.size(), c.answers.size());
    std::vector<FakePrompts::Shown> boxes = prompts_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.box);
    EXPECT_EQ(boxes[0].caption, Gbk("错误"));
  }
}

// A failure of the client ends the exchange with the client's kind and words and no box; the
// reply is as it was given, whatever part of a body had come.
TEST_F(CenterConnectionRulesTest, FailuresOfTheClientComeBackWithItsWords) {
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    Status expected;
  };
  const Case cases[] = {
      {"post",
       {Answer{200, {}, "", Status::Network("reset by peer"), {}}},
       Status::Network("reset by peer")},
      {"read",
       {Answer{200, {}, "half a body", {}, Status::Network("cut short")}},
       Status::Network("cut short")},
      {"local",
       {Answer{200, {}, "", Status::Local("out of memory"), {}}},
       Status::Local("out of memory")},
      {"the retry after a 401",
       {Answer{401, {}, "", {}, {}}, Answer{200, {}, "", Status::Network("timed out"), {}}},
       Status::Network("timed out")},
      {"the redirect's post",
       {Redirect(302, "http://10.0.0.2/x"), Answer{200, {}, "", Status::Network("refused"), {}}},
       Status::Network("refused")},
      {"the redirect's read",
       {Redirect(302, "http://10.0.0.2/x"), Answer{200, {}, "half", {}, Status::Network("cut")}},
       Status::Network("cut")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompts_.Clear();
    prompts_.QueueCredentials(Credentials{"clerk", "s3cret"});
    http_.answers.assign(c.answers.begin(), c.answers.end());
    reply_ = "given";
    Status status = connection_.Exchange("/qx/servlet", kRequest, reply_);
    EXPECT_EQ(status.kind(), c.expected.kind());
    EXPECT_EQ(status.words(), c.expected.words());
    EXPECT_EQ(reply_, "given");
    EXPECT_TRUE(prompts_.Boxes().empty());
  }
}

TEST_F(CenterConnectionRulesTest, ARedirectToAServerThatCannotBeConnectedIsAFailureWithoutABox) {
  http_.answers.push_back(Redirect(302, "http://10.0.0.2/x"));
  // The redirect's Connect is the second of the exchange.
  class FailSecond final : public platform::HttpClient {
   public:
    explicit FailSecond(ScriptedHttp& inner) : inner_(inner) {}
    Status Connect(const std::string& server, uint16_t port,
                   std::unique_ptr<platform::HttpConnection>* connection) override {
      if (++calls_ == 2) return Status::Network("name not resolved");
      return inner_.Connect(server, port, connection);
    }
    void SetTimeouts(std::chrono::milliseconds, std::chrono::milliseconds) override {}

   private:
    ScriptedHttp& inner_;
    int calls_ = 0;
  } failing(http_);
  CenterConnection connection(failing, prompts_);
  std::string reply;
  Status status = connection.Exchange("/qx/servlet", kRequest, reply);
  EXPECT_EQ(status.kind(), Status::Kind::kNetwork);
  EXPECT_EQ(status.words(), "name not resolved");
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(prompts_.shown().empty());
}

// No connection object: the system-error box with the client's words, and an exchange that
// fails the same way leaves the reply alone and adds no words of its own.
TEST_F(CenterConnectionRulesTest, NoConnectionMeansTheSystemErrorBox) {
  http_.connect_failure = Status::Local("The server name is not a host name.");
  Status connected = connection_.Connect();
  EXPECT_EQ(connected.kind(), Status::Kind::kLocal);
  EXPECT_EQ(connected.words(), "The server name is not a host name.");
  std::vector<FakePrompts::Shown> boxes = prompts_.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "The server name is not a host name.");
  EXPECT_EQ(boxes[0].caption, Gbk("系统错误"));
  EXPECT_EQ(boxes[0].icon, BoxIcon::kError);

  prompts_.Clear();
  std::string reply = "untouched";
  Status status = connection_.Exchange("/qx/servlet", kRequest, reply);
  EXPECT_EQ(status.kind(), Status::Kind::kLocal);
  EXPECT_EQ(status.words(), "");
  EXPECT_EQ(reply, "untouched");
  EXPECT_EQ(prompts_.Boxes().size(), 1u);
  EXPECT_TRUE(http_.posts.empty());
}

TEST_F(CenterConnectionRulesTest, AnExceptionDuringTheExchangeIsALocalFailureWithItsText) {
  http_.answers.push_back(Answer{200, {}, "body", {}, {}});
  std::string reply;
  Status status = connection_.Exchange(
      "/qx/servlet", kRequest, reply,
      [](std::string_view, std::size_t) { throw std::runtime_error("no room for the reply"); });
  EXPECT_EQ(status.kind(), Status::Kind::kLocal);
  EXPECT_EQ(status.words(), "no room for the reply");
  EXPECT_EQ(reply, "");
}

}  // namespace
}  // namespace qx::transport
