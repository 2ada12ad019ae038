// CenterConnection on the real POSIX client, against the simulated center on loopback: what a
// host cannot reach through the four functions (a request holding a zero byte, the time-outs, a
// server no connection can be made to). The exchange's rules on their own are in
// center_connection_test.cpp; everything a host sees of the exchange is in tests/scenarios.
#include "transport/center_connection.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/http_client.h"
#include "support/center_sim_process.h"
#include "support/fake_prompts.h"
#include "support/gbk.h"

namespace qx::transport {
namespace {

using platform::fake::FakePrompts;
using test::CenterSimProcess;
using test::CenterSimRequest;
using namespace std::chrono_literals;

const std::string kLogin =
    "<Program><FunctionID>0</FunctionID><parameters><user>admin</user><password>123456</password>"
    "</parameters></Program>";

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
    ASSERT_TRUE(connection_.Connect().ok());
    logged_before_ = sim_->Requests().size();
  }

  // The requests the sim received during this test.
  std::vector<CenterSimRequest> NewRequests() const {
    std::vector<CenterSimRequest> all = sim_->Requests();
    return std::vector<CenterSimRequest>(all.begin() + static_cast<long>(logged_before_),
                                         all.end());
  }

  static CenterSimProcess* sim_;
  std::unique_ptr<platform::HttpClient> http_ = platform::NewHttpClient();
  FakePrompts prompts_;
  CenterConnection connection_{*http_, prompts_};
  std::size_t logged_before_ = 0;
};

CenterSimProcess* CenterConnectionTest::sim_ = nullptr;

// The reply's body as text.
struct TextReply final : platform::HttpSink {
  platform::HeadAction OnHead(platform::HttpResponse&) override {
    return platform::HeadAction::kBody;
  }
  Status OnBody(std::string_view piece) override {
    text.append(piece);
    return Status::Ok();
  }
  std::string text;
};

TEST_F(CenterConnectionTest, SendsTheRequestOnlyUpToItsFirstZeroByte) {
  std::string request = kLogin;
  request.push_back('\0');
  request += "left over";
  TextReply reply;
  ASSERT_TRUE(connection_.Exchange("/qx/servlet", request, reply).ok());
  std::vector<CenterSimRequest> seen = NewRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, kLogin);
}

// Statuses the center answers with that are read as the reply, never followed or refused.
TEST_F(CenterConnectionTest, GivesUpOnAStalledCenter) {
  http_->SetTimeouts(5s, 1s);
  for (const char* path : {"/scenario/stall/20", "/scenario/stall-headers/20"}) {
    SCOPED_TRACE(path);
    TextReply reply;
    auto start = std::chrono::steady_clock::now();
    Status status = connection_.Exchange(path, kLogin, reply);
    EXPECT_EQ(status.kind(), Status::Kind::kNetwork);
    // A bound, not a speed target: the stall lasts 20 s, the time-out is 1 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_NE(status.words().find("Timeout"), std::string::npos) << status.words();
  }
  EXPECT_TRUE(prompts_.shown().empty());
}

}  // namespace
}  // namespace qx::transport
