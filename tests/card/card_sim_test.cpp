// The simulated card reader libqxic-sim.so and its variants, loaded with the POSIX loader exactly
// as the interface library loads the vendor's library, driven through CardLibrary's wrappers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "card/card_library.h"
#include "platform/default_parts.h"
#include "platform/dynamic_library.h"
#include "support/card_sim.h"
#include "support/gbk.h"

namespace qx::card {
namespace {

using Lines = std::vector<std::string>;

class CardSimTest : public ::testing::Test {
 protected:
  CardSimTest()
      : card_file_(dir_.File("card.txt")),
        journal_file_(dir_.File("journal.txt")),
        card_env_("QXIC_CARD_FILE", card_file_),
        journal_env_("QXIC_JOURNAL", journal_file_),
        faults_env_("QXIC_FAULTS", std::nullopt),
        faults_file_env_("QXIC_FAULTS_FILE", std::nullopt),
        port_env_("QXIC_PORT", std::nullopt) {
    test::WriteFileBytes(card_file_, kCard);
  }

  CardLibrary Open(const std::string& variant = "qxic", int32_t port = 1) {
    return CardLibrary(platform::posix::DefaultLibraryLoader(), test::CardSimLibrary(variant),
                       port);
  }

  const std::string kCard =
      "card_no=A100\nindi_id=P7\nlast_balance=12.50\nname=" + test::Gbk(u8"张三") + "\n";

  test::CardScratchDir dir_;
  std::string card_file_;
  std::string journal_file_;
  test::ScopedEnvVar card_env_;
  test::ScopedEnvVar journal_env_;
  test::ScopedEnvVar faults_env_;
  test::ScopedEnvVar faults_file_env_;
  test::ScopedEnvVar port_env_;
};

TEST_F(CardSimTest, ReadsStagesAndCommitsInOnePiece) {
  {
    CardLibrary card = Open();
    ASSERT_EQ(card.Reset(), 0);
    ASSERT_EQ(card.Start(), 0) << test::Utf8(card.message());
    std::string value;
    EXPECT_EQ(card.Get("name", &value), 0);
    EXPECT_EQ(value, test::Gbk(u8"张三"));
    EXPECT_EQ(card.Put("last_balance", "7.00"), 0);
    EXPECT_EQ(card.Put("name", test::Gbk(u8"李四")), 0);
    EXPECT_EQ(test::ReadFileBytes(card_file_), kCard);  // staged only
    EXPECT_EQ(card.Execute(), 0);
  }
  EXPECT_EQ(test::ReadFileBytes(card_file_),
            "card_no=A100\nindi_id=P7\nlast_balance=7.00\nname=" + test::Gbk(u8"李四") + "\n");
  EXPECT_EQ(test::ReadLines(journal_file_),
            (Lines{"ICReset()=0", "ICStart(1)=0", "ICGet(name)=0", "ICPut(last_balance,7.00)=0",
                   "ICPut(name," + test::Gbk(u8"李四") + ")=0", "ICExecute(1)=0"}));
}

TEST_F(CardSimTest, FailingCommitLeavesTheCardFileAsItWas) {
  test::ScopedEnvVar faults("QXIC_FAULTS", "ICExecute=fail");
  CardLibrary card = Open();
  ASSERT_EQ(card.Start(), 0);
  ASSERT_EQ(card.Put("last_balance", "7.00"), 0);
  EXPECT_EQ(card.Execute(), -1);
  EXPECT_EQ(card.status(), -303);
  EXPECT_EQ(card.message(), test::Gbk(u8"写IC卡时出错：") + "ICExecute failed (injected fault)");
  EXPECT_EQ(test::ReadFileBytes(card_file_), kCard);
}

TEST_F(CardSimTest, NoCardAndWrongPort) {
  {
    test::ScopedEnvVar port("QXIC_PORT", "2");
    CardLibrary card = Open();
    EXPECT_EQ(card.Start(), -300);
    EXPECT_EQ(card.message(), test::Gbk(u8"启动IC卡操作时出错：") + "no card reader on port 1");
  }
  std::remove(card_file_.c_str());
  CardLibrary card = Open();
  EXPECT_EQ(card.Start(), -300);
  EXPECT_EQ(card.message(), test::Gbk(u8"启动IC卡操作时出错：") + "no card in the reader");
}

TEST_F(CardSimTest, FaultCountsStartAfreshWithEveryLoad) {
  test::ScopedEnvVar faults("QXIC_FAULTS", "ICStart=fail-times:1");
  for (int load = 0; load < 2; ++load) {
    CardLibrary card = Open();
    EXPECT_EQ(card.Start(), -300) << "load " << load;
    EXPECT_EQ(card.Start(), 0) << "load " << load;
  }
}

TEST_F(CardSimTest, FaultsFromAControlFile) {
  test::WriteFileBytes(dir_.File("faults"), "# a comment\nICGet:card_no=fail\n");
  test::ScopedEnvVar faults("QXIC_FAULTS_FILE", dir_.File("faults"));
  CardLibrary card = Open();
  ASSERT_EQ(card.Start(), 0);
  std::string value;
  EXPECT_EQ(card.Get("indi_id", &value), 0);
  EXPECT_EQ(card.Get("card_no", &value), -301);
  EXPECT_EQ(card.message(), test::Gbk(u8"执行底层IC卡函数(get)出错：") +
                                "ICGet failed (injected fault) for item card_no");
}

TEST_F(CardSimTest, VariantsLackingAnEntryPoint) {
  {
    CardLibrary card = Open("qxic_no_start");
    EXPECT_EQ(card.Reset(), 0);
    EXPECT_EQ(card.Start(), -200);
    EXPECT_EQ(card.message(), test::Gbk(u8"找不到IC卡函数(ICStart)！"));
  }
  {
    CardLibrary card = Open("qxic_no_reset");
    EXPECT_EQ(card.Reset(), -204);
    EXPECT_EQ(card.Start(), 0);
  }
  {
    CardLibrary card = Open("qxic_no_execute");
    ASSERT_EQ(card.Start(), 0);
    EXPECT_EQ(card.Put("last_balance", "1"), 0);
    EXPECT_EQ(card.Execute(), -203);
    EXPECT_EQ(card.message(), test::Gbk(u8"找不到IC卡函数(ICExecute)！"));
  }
  {
    test::ScopedEnvVar faults("QXIC_FAULTS", "ICStart=fail");
    CardLibrary card = Open("qxic_no_geterrmsg");
    EXPECT_EQ(card.Start(), -211);
    EXPECT_EQ(card.message(), test::Gbk(u8"找不到IC卡函数(ICGeterrMsg)！"));
  }
  {
    CardLibrary card = Open("qxic_not_there");
    EXPECT_EQ(card.Reset(), -204);
    EXPECT_EQ(card.Start(), -200);
  }
  EXPECT_EQ(test::ReadFileBytes(card_file_), kCard);
}

TEST_F(CardSimTest, ExportsTheVendorsEntryPoints) {
  platform::LibraryLoader& loader = platform::posix::DefaultLibraryLoader();
  std::unique_ptr<platform::DynamicLibrary> library;
  ASSERT_TRUE(loader.Load(test::CardSimLibrary(), &library).ok());
  ASSERT_NE(library, nullptr);
  for (const char* name : {"ICReset", "ICStart", "ICGet", "ICPut", "ICExecute", "ICGeterrMsg",
                           "ICGetjymx", "ICAPPUnblock", "ICAPPBlock"}) {
    EXPECT_NE(library->FindEntryPoint(name), nullptr) << name;
  }
  EXPECT_EQ(library->FindEntryPoint("ICNothing"), nullptr);
  std::unique_ptr<platform::DynamicLibrary> none;
  EXPECT_EQ(loader.Load("", &none).kind(), Status::Kind::kNotFound);
  EXPECT_EQ(none, nullptr);
  const Status missing = loader.Load("libqx-no-such-library.so", &none);
  EXPECT_NE(missing.words().find("libqx-no-such-library.so"), std::string::npos);  // dlerror's
}

}  // namespace
}  // namespace qx::card
