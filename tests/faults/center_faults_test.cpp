// A business call against a center that misbehaves: refuses the connection, drops it mid-body,
// stalls, cuts a chunked body short, redirects without end, asks for credentials forever, sends
// 50 MB, sends something that is not XML, invalid GBK, 100 000 levels of nesting or a zero byte.
// Each case runs after a login and user information call and is followed by a good call: the
// outcome (result, status, message) is checked, and nothing the session holds is lost.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "faults/fault_server.h"
#include "interface/insurance_interface.h"
#include "platform/env.h"
#include "platform/fake/fake_file_system.h"
#include "platform/fake/fake_prompts.h"
#include "platform/http_client.h"
#include "support/center_sim_process.h"
#include "support/gbk.h"

namespace qx::test {
namespace {

using namespace std::chrono_literals;
using platform::fake::FakePrompts;

constexpr char kToken[] = "QXTOKEN-20240001";
const std::string kLogin =
    "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
    "<password>123456</password></parameters></Program>";
const std::string kUserInfo = "<Program><FunctionID>8</FunctionID></Program>";
const std::string kPerson = "<Program><FunctionID>11</FunctionID><parameters/></Program>";

std::string LoginReply() {
  return Gbk(
      u8"<Program><ErrorNo>1</ErrorNo><ErrorMessage>处理成功！</ErrorMessage>"
      u8"<addition-xml><row1><add1>QXTOKEN-20240001</add1></row1></addition-xml>"
      u8"</Program>");
}
std::string UserInfoReply() {
  return Gbk(
      u8"<Program><ErrorNo>1</ErrorNo><user_info><row1><center_id>430100</center_id>"
      u8"<staff_id>0701</staff_id><staff_name>王秀兰</staff_name></row1></user_info>"
      u8"</Program>");
}
std::string PersonReply() {
  return Gbk(
      u8"<Program><ErrorNo>1</ErrorNo><personinfo><row1><name>张伟</name></row1>"
      u8"</personinfo></Program>");
}

std::string ResultXml(int code, const std::string& gbk_message) {
  return "<Program><ErrorNo>" + std::to_string(code) + "</ErrorNo><ErrorMessage>" + gbk_message +
         "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>";
}

// The bytes of a literal, zero bytes inside included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

// A catalogue of rows of about 500 bytes each.
std::string Catalogue(int rows) {
  std::string body = "<Program><ErrorNo>1</ErrorNo><catalog>";
  body.reserve(static_cast<std::size_t>(rows) * 520 + 100);
  const std::string filler(440, 'm');
  for (int i = 1; i <= rows; ++i) {
    const std::string n = std::to_string(i);
    body +=
        "<row" + n + "><item_code>Y" + n + "</item_code><memo>" + filler + "</memo></row" + n + ">";
  }
  body += "</catalog></Program>";
  return body;
}

class CenterFaultsTest : public ::testing::Test {
 protected:
  CenterFaultsTest() {
    env_ = platform::DefaultEnv();
    env_.files = &files_;
    env_.prompts = &prompts_;
    http_ = platform::NewHttpClient();
    // Short enough for a test; the library's own defaults are about 60 s.
    http_->SetTimeouts(2s, 1s);
    env_.http = http_.get();
  }

  // A fresh interface object initialised for 127.0.0.1:port.
  void Start(uint16_t port, const std::string& servlet = "/qx/servlet") {
    files_.files[files_.current_directory + "/qx_interface.ini"] =
        "[center]\r\nserver=127.0.0.1\r\nport=" + std::to_string(port) + "\r\nservlet=" + servlet +
        "\r\n\r\n";
    iface_ = std::make_unique<InsuranceInterface>(env_);
    std::string message(255, ' ');
    ASSERT_EQ(iface_->InitHandle(message.data()), 1);
  }

  // business_handle with a buffer of 4096 spaces; the text the host gets is output().
  int32_t Call(const std::string& request) {
    std::string buffer(4096, ' ');
    return iface_->BusinessHandle(request.c_str(), buffer.data());
  }

  void LogIn() {
    ASSERT_EQ(Call(kLogin), 0);
    ASSERT_EQ(Call(kUserInfo), 0);
    ASSERT_EQ(iface_->login_info(), kToken);
    ASSERT_EQ(iface_->center_id(), "430100");
  }

  // What the session holds survived the fault.
  void ExpectSessionKept() {
    EXPECT_EQ(iface_->login_info(), kToken);
    EXPECT_EQ(iface_->center_id(), "430100");
    EXPECT_EQ(iface_->staff_id(), "0701");
    EXPECT_EQ(iface_->staff_name(), Gbk(u8"王秀兰"));
    EXPECT_TRUE(iface_->initialised());
  }

  platform::fake::FakeFileSystem files_;
  FakePrompts prompts_;
  std::unique_ptr<platform::HttpClient> http_;
  platform::Env env_;
  std::unique_ptr<InsuranceInterface> iface_;
};

using Answer = FaultServer::Answer;

struct TransportCase {
  const char* name;
  Answer fault;
  const char* description;  // part of the failure's description, after "传数据出错,"
  std::string box;          // the one box the clerk sees (GBK), or empty for none
  int connections = 1;      // connections the fault takes (a redirect comes back for more)
};

TEST_F(CenterFaultsTest, BrokenExchangesEndInTransferFailureAndLoseNothing) {
  const std::vector<TransportCase> cases = {
      {"reset mid-body",
       [](FaultServer&, int fd) {
         FaultServer::Send(
             fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(400000, 'x'));
         FaultServer::Reset(fd);
       },
       "", ""},
      {"stalled past the time-out",
       [](FaultServer& server, int fd) {
         FaultServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<Program>");
         server.Stall(fd, 8000);
       },
       "Timeout", ""},
      {"stalled before the headers", [](FaultServer& server, int fd) { server.Stall(fd, 8000); },
       "Timeout", ""},
      {"chunked body cut short",
       [](FaultServer&, int fd) {
         FaultServer::Send(fd,
                           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                           "1d\r\n<Program><ErrorNo>1</ErrorNo>\r\n");
       },
       "", ""},
      {"closed without a status line", [](FaultServer&, int) {}, "", ""},
      {"endless redirect chain",
       [](FaultServer& server, int fd) {
         FaultServer::Send(fd, "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" +
                                   std::to_string(server.port()) +
                                   "/again\r\nContent-Length: 0\r\n\r\n");
       },
       "", "Error: Got status code.", 2},
      {"401 with the credentials refused",
       FaultServer::Canned("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"qx\"\r\n"
                           "Content-Length: 3\r\n\r\n401"),
       "", Gbk(u8"无效的口令.")},
  };
  for (const TransportCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Answer> answers = {FaultServer::Canned(FaultServer::Ok(LoginReply())),
                                   FaultServer::Canned(FaultServer::Ok(UserInfoReply()))};
    answers.insert(answers.end(), static_cast<std::size_t>(c.connections), c.fault);
    answers.push_back(FaultServer::Canned(FaultServer::Ok(PersonReply())));
    FaultServer server(answers);
    Start(server.port());
    LogIn();
    prompts_.Clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Call(kPerson), -4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);  // a bound, not a speed target
    EXPECT_EQ(iface_->status(), -4);
    const std::string head = Gbk(u8"传数据出错,");
    EXPECT_TRUE(StartsWith(iface_->message(), head)) << iface_->message();
    EXPECT_NE(iface_->message().find(c.description), std::string::npos) << iface_->message();
    EXPECT_LE(iface_->message().size(), InsuranceInterface::kMaxMessageLength);
    EXPECT_EQ(iface_->output(), ResultXml(-4, iface_->message()));
    // Nothing of a broken body is passed on as the reply.
    EXPECT_EQ(iface_->output().find("xxxx"), std::string::npos);
    const std::vector<FakePrompts::Shown> boxes = prompts_.Boxes();
    if (c.box.empty()) {
      EXPECT_TRUE(boxes.empty());
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.box);
    }
    ExpectSessionKept();

    // The next call goes through and still carries the login and user information.
    ASSERT_EQ(Call(kPerson), 0);
    EXPECT_EQ(iface_->output(), PersonReply());
    const std::vector<std::string> seen = server.Requests();
    ASSERT_EQ(seen.size(), 3u + static_cast<std::size_t>(c.connections));
    EXPECT_NE(seen.back().find("<add1>QXTOKEN-20240001</add1>"), std::string::npos);
    EXPECT_NE(seen.back().find("<center_id>430100</center_id>"), std::string::npos);
  }
}

TEST_F(CenterFaultsTest, ARefusedConnectionIsATransferFailureWithoutABox) {
  uint16_t port = 0;
  {
    FaultServer gone({FaultServer::Canned("")});
    port = gone.port();
  }
  Start(port);
  EXPECT_EQ(Call(kLogin), -4);
  EXPECT_EQ(iface_->status(), -4);
  EXPECT_TRUE(StartsWith(iface_->message(), Gbk(u8"传数据出错,"))) << iface_->message();
  EXPECT_NE(iface_->message().find("onnect"), std::string::npos) << iface_->message();
  EXPECT_EQ(iface_->output(), ResultXml(-4, iface_->message()));
  EXPECT_TRUE(iface_->login_info().empty());
  EXPECT_TRUE(prompts_.shown().empty());
}

TEST_F(CenterFaultsTest, CredentialsAskedForeverAreAskedOnceThenThePageIsTheReply) {
  CenterSimProcess sim;
  ASSERT_TRUE(sim.ok()) << sim.error();
  Start(sim.port(), "/scenario/401-forever");
  prompts_.QueueCredentials(platform::Credentials{"clerk", "s3cret"});
  prompts_.QueueCredentials(platform::Credentials{"clerk", "s3cret"});
  // Not a login reply: no addition-xml, so the selection fails and "no support." is kept.
  EXPECT_EQ(Call(kLogin), -110);
  // One retry with the credentials, no loop: the second 401 page is what the center answered.
  EXPECT_EQ(sim.Requests().size(), 2u);
  EXPECT_NE(iface_->output().find("401"), std::string::npos) << Utf8(iface_->output());
  std::size_t asked = 0;
  for (const FakePrompts::Shown& shown : prompts_.shown()) {
    asked += shown.kind == FakePrompts::Kind::kCredentials ? 1 : 0;
  }
  EXPECT_EQ(asked, 1u);
  EXPECT_EQ(iface_->status(), -110);
  EXPECT_EQ(iface_->login_info(), "no support.");
}

struct ReplyCase {
  const char* name;
  std::string body;
};

TEST_F(CenterFaultsTest, OddRepliesAreHandedOverUnchangedAndLoseNothing) {
  std::string deep = "<Program><ErrorNo>1</ErrorNo>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  deep += "</Program>";
  const std::vector<ReplyCase> cases = {
      {"not XML", "HTTP Status 500 - java.lang.NullPointerException\r\n\tat Servlet"},
      {"an HTML page", Gbk(u8"<html><body><h1>500 服务器内部错误</h1><br></body></html>")},
      {"empty", ""},
      {"invalid GBK", Bytes("<Program><ErrorNo>1</ErrorNo><name>\x81\x20\xff\x80\xfe</name>"
                            "</Program>")},
      {"100 000 levels deep", deep},
      {"a zero byte inside",
       Bytes("<Program><ErrorNo>1</ErrorNo>\0<readic><row1><card_no/></row1></readic></Program>")},
      {"a zero byte before a FunctionID",
       Bytes("<Program><ErrorNo>1</ErrorNo>\0<FunctionID>59</FunctionID></Program>")},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    FaultServer server({FaultServer::Canned(FaultServer::Ok(LoginReply())),
                        FaultServer::Canned(FaultServer::Ok(UserInfoReply())),
                        FaultServer::Canned(FaultServer::Ok(c.body)),
                        FaultServer::Canned(FaultServer::Ok(PersonReply()))});
    Start(server.port());
    LogIn();
    prompts_.Clear();
    EXPECT_EQ(Call(kPerson), 0);
    EXPECT_EQ(iface_->status(), 0);
    EXPECT_EQ(iface_->message(), Gbk(u8"系统处理成功！"));
    EXPECT_EQ(iface_->output(), c.body);
    std::string handed(iface_->output().size() + 1, '\0');
    EXPECT_EQ(iface_->ResultHandle(handed.data()), static_cast<int32_t>(c.body.size()));
    EXPECT_EQ(handed.substr(0, c.body.size()), c.body);
    EXPECT_TRUE(prompts_.shown().empty());
    ExpectSessionKept();
    ASSERT_EQ(Call(kPerson), 0);
    EXPECT_EQ(iface_->output(), PersonReply());
    EXPECT_EQ(server.Requests().size(), 4u);
  }
}

TEST_F(CenterFaultsTest, AFiftyMegabyteReplyIsDeliveredWhole) {
  const std::string big = Catalogue(100000);
  ASSERT_GT(big.size(), 50u * 1000 * 1000);
  FaultServer server({FaultServer::Canned(FaultServer::Ok(LoginReply())),
                      FaultServer::Canned(FaultServer::Ok(UserInfoReply())),
                      FaultServer::Canned(FaultServer::Ok(big)),
                      FaultServer::Canned(FaultServer::Ok(PersonReply()))});
  Start(server.port());
  LogIn();
  std::string small(1000, ' ');
  EXPECT_EQ(iface_->BusinessHandle(kPerson.c_str(), small.data()), 0);
  // Too large for the host's buffer: left alone, handed out by result_handle.
  EXPECT_EQ(small, std::string(1000, ' '));
  EXPECT_EQ(iface_->ResultHandle(nullptr), static_cast<int32_t>(big.size()));
  EXPECT_TRUE(iface_->output() == big);
  EXPECT_EQ(iface_->SelectRecordSet("catalog"), 100000);
  std::string value;
  ASSERT_GE(iface_->GetItem("item_code", &value), 1);
  EXPECT_EQ(value, "Y1");
  ExpectSessionKept();
  ASSERT_EQ(Call(kPerson), 0);
  EXPECT_EQ(iface_->output(), PersonReply());
}

}  // namespace
}  // namespace qx::test
