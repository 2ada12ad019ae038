// Card work asked for by the center, through the loaded library, the simulated center and the
// simulated card reader (libqxic.so beside the library). The clerk's answers come from the
// scripted dialog helper; the card is a file compared before and after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/card_sim.h"
#include "support/center_sim_process.h"
#include "support/fake_dialog.h"
#include "support/gbk.h"
#include "support/host_library.h"

namespace qx::test {
namespace {

std::string Card(const std::string& card_no, const std::string& balance) {
  return "card_no=" + card_no + "\nindi_id=430102198001010012\nname=" + Gbk(u8"张伟") +
         "\npassword=123456\nlast_balance=" + balance + "\nlast_pay_date=2024-05-01\n";
}

std::string ResultXml(int code, const std::string& gbk_message) {
  return "<Program><ErrorNo>" + std::to_string(code) + "</ErrorNo><ErrorMessage>" + gbk_message +
         "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : lines) {
    n += line.rfind(prefix, 0) == 0;
  }
  return n;
}

class CardSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << sim_.error();
    WriteFileBytes(card_file_, Card("C43010012345", "1500.00"));
    host_ = std::make_unique<HostLibrary>(HostLibrary::IniFor(sim_.port()));
    ASSERT_EQ(host_->Init(), 1);
    ASSERT_EQ(host_->Business("<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
                              "<password>123456</password></parameters></Program>"),
              0);
    ASSERT_EQ(host_->Business("<Program><FunctionID>8</FunctionID></Program>"), 0);
  }

  std::string Call(const std::string& function, const std::string& parameters = "") {
    return "<Program><FunctionID>" + function + "</FunctionID><parameters>" + parameters +
           "</parameters></Program>";
  }

  FakeDialog dialog_;
  CenterSimProcess sim_;
  CardScratchDir dir_;
  std::string card_file_ = dir_.File("card.txt");
  std::string journal_ = dir_.File("journal.txt");
  ScopedEnvVar card_env_{"QXIC_CARD_FILE", card_file_};
  ScopedEnvVar journal_env_{"QXIC_JOURNAL", journal_};
  ScopedEnvVar faults_env_{"QXIC_FAULTS", std::nullopt};
  std::unique_ptr<HostLibrary> host_;
};

TEST_F(CardSessionTest, ReadWithThePasswordTypedRightWrongOrEscaped) {
  dialog_.QueueAnswer(0, "123456");
  ASSERT_EQ(host_->Business(Call("31")), 0);
  // The values read from the card stand in the reply the host receives.
  EXPECT_TRUE(Contains(host_->reply(), "<card_no>C43010012345</card_no>")) << host_->reply();
  EXPECT_TRUE(Contains(host_->reply(), "<name>" + Gbk(u8"张伟") + "</name>"));
  EXPECT_EQ(host_->Result(), host_->reply());

  const std::string refused = ResultXml(-401, Gbk(u8"读卡时用户口令校验失败。"));
  dialog_.QueueAnswer(0, "654321");
  EXPECT_EQ(host_->Business(Call("31")), -401);
  EXPECT_EQ(host_->reply(), refused);
  dialog_.QueueAnswer(1);  // Escape
  EXPECT_EQ(host_->Business(Call("31")), -401);
  EXPECT_EQ(host_->reply(), refused);

  const auto calls = dialog_.Calls();
  ASSERT_EQ(calls.size(), 3u);
  bool labelled = false;
  for (const std::string& arg : calls[0]) {
    labelled |= arg == std::string("--text=") + "请用户输入6位密码";
  }
  EXPECT_TRUE(labelled);
  // Reading never writes.
  EXPECT_EQ(Count(ReadLines(journal_), "ICExecute"), 0);
  EXPECT_EQ(ReadFileBytes(card_file_), Card("C43010012345", "1500.00"));
}

TEST_F(CardSessionTest, WriteChangesOnlyDifferingItemsWithOneCommit) {
  ASSERT_EQ(host_->Business(Call("41", "<last_balance>1250.40</last_balance>")), 0);
  EXPECT_TRUE(Contains(host_->reply(), "<serial_no>JS202405200001</serial_no>"));
  const std::vector<std::string> journal = ReadLines(journal_);
  EXPECT_EQ(Count(journal, "ICExecute"), 1);
  EXPECT_EQ(Count(journal, "ICPut(last_balance,1250.40)"), 1);
  EXPECT_EQ(Count(journal, "ICPut(last_pay_date,2024-05-20)"), 1);
  EXPECT_EQ(Count(journal, "ICPut(card_no"), 0);
  EXPECT_EQ(Count(journal, "ICPut(indi_id"), 0);
  const std::string card = *ReadFileBytes(card_file_);
  EXPECT_TRUE(Contains(card, "last_balance=1250.40")) << card;
  EXPECT_TRUE(Contains(card, "last_pay_date=2024-05-20"));
}

TEST_F(CardSessionTest, RefusedOrFailingWritesLeaveTheCardAsItWas) {
  // Another card in the reader: the clerk is asked, and Cancel writes nothing.
  WriteFileBytes(card_file_, Card("C43099999999", "1500.00"));
  const std::string other = *ReadFileBytes(card_file_);
  EXPECT_EQ(host_->Business(Call("41")), -320);
  EXPECT_EQ(host_->reply(), ResultXml(-320, Gbk(u8"系统处理出错！")));
  EXPECT_EQ(ReadFileBytes(card_file_), other);
  ASSERT_EQ(dialog_.Calls().size(), 1u);

  // An overdrawn account.
  WriteFileBytes(card_file_, Card("C43010012345", "-5"));
  const std::string overdrawn = *ReadFileBytes(card_file_);
  EXPECT_EQ(host_->Business(Call("41")), -321);
  EXPECT_EQ(ReadFileBytes(card_file_), overdrawn);

  // The card reader refuses the second value staged: nothing is committed.
  WriteFileBytes(card_file_, Card("C43010012345", "1500.00"));
  const std::string good = *ReadFileBytes(card_file_);
  {
    ScopedEnvVar faults("QXIC_FAULTS", std::string("ICPut=fail-after:1"));
    EXPECT_EQ(host_->Business(Call("41")), -302);
    const std::string prefix = "<Program><ErrorNo>-302</ErrorNo><ErrorMessage>" +
                               Gbk(u8"执行底层IC卡函数(put)出错：");
    EXPECT_EQ(host_->reply().substr(0, prefix.size()), prefix) << Utf8(host_->reply());
  }
  EXPECT_EQ(ReadFileBytes(card_file_), good);
  EXPECT_EQ(Count(ReadLines(journal_), "ICExecute"), 0);

  // The commit itself fails: the library's text reaches the host.
  {
    ScopedEnvVar faults("QXIC_FAULTS", std::string("ICExecute=fail"));
    EXPECT_EQ(host_->Business(Call("41")), -303);
    EXPECT_TRUE(Contains(host_->reply(), Gbk(u8"写IC卡时出错："))) << Utf8(host_->reply());
  }
  EXPECT_EQ(ReadFileBytes(card_file_), good);
}

}  // namespace
}  // namespace qx::test
