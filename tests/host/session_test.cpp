// Whole sessions through the built shared library, loaded with dlopen as a host loads it, against
// the simulated center on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/center_sim_process.h"
#include "support/fake_dialog.h"
#include "support/gbk.h"
#include "support/host_library.h"

namespace qx::test {
namespace {

const std::string kLogin =
    "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
    "<password>123456</password></parameters></Program>";
const std::string kUserInfo = "<Program><FunctionID>8</FunctionID></Program>";

std::string Request(const std::string& function, const std::string& parameters = "") {
  return "<Program><FunctionID>" + function + "</FunctionID><parameters>" + parameters +
         "</parameters></Program>";
}

std::string ResultXml(int code, const std::string& gbk_message) {
  return "<Program><ErrorNo>" + std::to_string(code) + "</ErrorNo><ErrorMessage>" + gbk_message +
         "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim_.ok()) << sim_.error(); }

  FakeDialog dialog_;  // nobody answers: every box is recorded and cancelled
  CenterSimProcess sim_;
};

TEST_F(SessionTest, LoginUserInformationAndABusinessCallCarryTheirBlocks) {
  HostLibrary host(HostLibrary::IniFor(sim_.port()));
  ASSERT_EQ(host.Init(), 1);
  EXPECT_EQ(host.last_message(), Gbk(u8"初始化成功"));

  ASSERT_EQ(host.Business(kLogin), 0);
  EXPECT_TRUE(Contains(host.reply(), "<add1>QXTOKEN-20240001</add1>")) << host.reply();
  ASSERT_EQ(host.Business(kUserInfo), 0);
  EXPECT_TRUE(Contains(host.reply(), "<ErrorNo>1</ErrorNo>")) << Utf8(host.reply());
  ASSERT_EQ(host.Business(Request("11", "<indi_id>430102198001010012</indi_id>")), 0);
  EXPECT_TRUE(Contains(host.reply(), "<ErrorNo>1</ErrorNo>")) << Utf8(host.reply());
  EXPECT_TRUE(Contains(host.reply(), Gbk(u8"<name>张伟</name>")));
  EXPECT_EQ(host.Result(), host.reply());

  const std::vector<CenterSimRequest> seen = sim_.Requests();
  ASSERT_EQ(seen.size(), 3u);
  // The login goes out byte for byte as the host gave it.
  EXPECT_EQ(seen[0].body, kLogin);
  EXPECT_TRUE(Contains(seen[1].body,
                       "<addition-xml><row1><add1>QXTOKEN-20240001</add1></row1></addition-xml>"));
  EXPECT_FALSE(Contains(seen[1].body, "user_info"));
  // Every other function gets the user information, then the login information, at the end.
  const std::string tail = "<user_info><row1><center_id>430100</center_id><staff_id>0701</staff_id>"
                           "<staff_name>" + Gbk(u8"王秀兰") + "</staff_name></row1></user_info>"
                           "<addition-xml><row1><add1>QXTOKEN-20240001</add1></row1></addition-xml>"
                           "</Program>";
  ASSERT_GE(seen[2].body.size(), tail.size());
  EXPECT_EQ(seen[2].body.substr(seen[2].body.size() - tail.size()), tail) << Utf8(seen[2].body);
  EXPECT_TRUE(dialog_.Calls().empty());
}

TEST_F(SessionTest, LoginWithoutAdditionXmlAndUserInformationWithoutRows) {
  HostLibrary host(HostLibrary::IniFor(sim_.port()));
  ASSERT_EQ(host.Init(), 1);
  // The selection fails (-110), the reply is still delivered.
  EXPECT_EQ(host.Business(Request("0", "<mode>no-addition</mode>")), -110);
  EXPECT_TRUE(Contains(host.reply(), "<ErrorNo>1</ErrorNo>")) << Utf8(host.reply());
  // The center refuses the token "no support." and answers without user_info: the selection
  // fails again, and the refusal is delivered.
  EXPECT_EQ(host.Business(kUserInfo), -110);
  EXPECT_TRUE(Contains(host.reply(), "<ErrorNo>-12</ErrorNo>")) << Utf8(host.reply());
  std::vector<CenterSimRequest> seen = sim_.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(Contains(seen[1].body, "<add1>no support.</add1>")) << seen[1].body;

  // Log in properly; user information without rows empties the stored values, so the next
  // business request carries no user_info block.
  ASSERT_EQ(host.Business(kLogin), 0);
  ASSERT_EQ(host.Business(kUserInfo), 0);
  ASSERT_EQ(host.Business(Request("8", "<mode>empty-user-info</mode>")), 0);
  ASSERT_EQ(host.Business(Request("11")), 0);
  seen = sim_.Requests();
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_FALSE(Contains(seen[5].body, "user_info")) << seen[5].body;
  EXPECT_TRUE(Contains(seen[5].body, "<add1>QXTOKEN-20240001</add1>"));
  // The center's own refusal reaches the host as a reply, not as a library failure.
  EXPECT_TRUE(Contains(host.reply(), "<ErrorNo>-13</ErrorNo>")) << Utf8(host.reply());
}

TEST_F(SessionTest, ChainedRepliesAreFollowedAndBounded) {
  HostLibrary host(HostLibrary::IniFor(sim_.port()));
  ASSERT_EQ(host.Init(), 1);
  ASSERT_EQ(host.Business(kLogin), 0);
  ASSERT_EQ(host.Business(kUserInfo), 0);

  ASSERT_EQ(host.Business(Request("51")), 0);
  EXPECT_TRUE(Contains(host.reply(), "<serial_no>LS202405200007</serial_no>"));
  EXPECT_TRUE(Contains(host.reply(), Gbk(u8"已结算"))) << Utf8(host.reply());
  EXPECT_EQ(host.Result(), host.reply());
  std::vector<CenterSimRequest> seen = sim_.Requests();
  ASSERT_EQ(seen.size(), 4u);
  // The reply naming function 52 went back to the center as the next request, completed.
  EXPECT_TRUE(Contains(seen[3].body, "<FunctionID>52</FunctionID>"));
  EXPECT_TRUE(Contains(seen[3].body, "<add1>QXTOKEN-20240001</add1>"));

  // A center that chains without end is stopped after 16 rounds.
  EXPECT_EQ(host.Business(Request("59")), -117);
  EXPECT_EQ(host.reply(), ResultXml(-117, Gbk(u8"中心连续要求的业务调用超过16层.")));
  EXPECT_EQ(sim_.Requests().size(), 4u + 16u);
}

TEST_F(SessionTest, RequestsTheLibraryRefusesNeverReachTheCenter) {
  HostLibrary host(HostLibrary::IniFor(sim_.port()));
  ASSERT_EQ(host.Init(), 1);
  EXPECT_EQ(host.Business("", 4096), -1);
  EXPECT_EQ(host.reply(), ResultXml(-8, Gbk(u8"没有入参串")));
  EXPECT_EQ(host.Business(nullptr, 4096), -1);
  EXPECT_EQ(host.reply(), ResultXml(-8, Gbk(u8"没有入参串")));
  EXPECT_EQ(host.Business("<Program><parameters/></Program>", 4096), -1);
  EXPECT_EQ(host.reply(), ResultXml(-115, Gbk(u8"入参串中没有FunctionID.")));
  EXPECT_EQ(host.Business("not xml at all", 4096), -1);
  EXPECT_EQ(host.reply(), ResultXml(-115, Gbk(u8"入参串中没有FunctionID.")));
  EXPECT_EQ(host.Business(Request(std::string(52, '1')), 4096), -1);
  EXPECT_EQ(host.reply(), ResultXml(-116, Gbk(u8"入参串的FunctionID超过51字节.")));
  EXPECT_TRUE(sim_.Requests().empty());
}

TEST_F(SessionTest, AReplyLongerThanTheBufferIsHandedOutByResultHandle) {
  HostLibrary host(HostLibrary::IniFor(sim_.port()));
  ASSERT_EQ(host.Init(), 1);
  ASSERT_EQ(host.Business(kLogin), 0);
  ASSERT_EQ(host.Business(kUserInfo), 0);
  EXPECT_EQ(host.Business(Request("21", "<count>3000</count>"), 1000), 0);
  EXPECT_EQ(host.reply(), std::string(1000, ' '));
  const std::string whole = host.Result();
  EXPECT_GT(whole.size(), 300000u);
  EXPECT_TRUE(Contains(whole, "<row3000>")) << whole.substr(0, 200);
  EXPECT_EQ(whole.substr(whole.size() - 10), "</Program>");
}

TEST_F(SessionTest, ACenterThatIsDownGivesTransferFailureWithItsDescription) {
  const uint16_t port = sim_.port();
  sim_.Stop();
  HostLibrary host(HostLibrary::IniFor(port));
  ASSERT_EQ(host.Init(), 1);
  EXPECT_EQ(host.Business(kLogin, 4096), -4);
  const std::string prefix = "<Program><ErrorNo>-4</ErrorNo><ErrorMessage>" + Gbk(u8"传数据出错,");
  EXPECT_EQ(host.reply().substr(0, prefix.size()), prefix) << Utf8(host.reply());
  EXPECT_GT(host.reply().size(), ResultXml(-4, Gbk(u8"传数据出错,")).size());
  EXPECT_TRUE(dialog_.Calls().empty());
}

}  // namespace
}  // namespace qx::test
