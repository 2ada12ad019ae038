// Card runs over replies from the center, on the in-memory card reader: what the host-level
// scenarios (tests/scenarios/scenarios.txt) cannot set up or see. The password item unreadable or
// typed in part, which read blocks and rows count, the read and write steps failing at each
// entry point, every call of a write failing in turn, the clerk's Retry, a missing library or
// entry point.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card/card_library.h"
#include "card/card_run.h"
#include "platform/dynamic_library.h"
#include "platform/env.h"
#include "platform/xml_document.h"
#include "support/fake_card_reader.h"
#include "support/fake_prompts.h"
#include "support/gbk.h"

namespace qx::card {
namespace {

using platform::BoxAnswer;
using platform::BoxButtons;
using platform::BoxIcon;
using platform::fake::CardItems;
using platform::fake::FakePrompts;
using Lines = std::vector<std::string>;

// FakePrompts, and something done while a box is up (the clerk swaps the card back).
class ClerkPrompts final : public platform::Prompts {
 public:
  BoxAnswer ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                    BoxIcon icon) override {
    if (on_box) on_box();
    return recorded.ShowBox(text, caption, buttons, icon);
  }
  std::string AskPassword(std::string_view label, std::size_t max_length) override {
    return recorded.AskPassword(label, max_length);
  }
  std::optional<platform::Credentials> AskCredentials(std::string_view target) override {
    return recorded.AskCredentials(target);
  }

  FakePrompts recorded;
  std::function<void()> on_box;
};

const std::string kOk = test::Gbk(u8"系统处理成功！");
const std::string kError = test::Gbk(u8"系统处理出错！");
const std::string kPasswordFailed = test::Gbk(u8"读卡时用户口令校验失败。");
const std::string kRunCaption = test::Gbk(u8"IC卡操作失败");

std::string Reply(const std::string& body) {
  return "<?xml version=\"1.0\" "
         "encoding=\"GBK\"?><Program><ErrorNo>1</ErrorNo>" +
         body + "</Program>";
}

std::string ReadBlock(const std::string& items) {
  return "<readic><row1>" + items + "</row1></readic>";
}
std::string WriteBlock(const std::string& items) {
  return "<writeic><row1>" + items + "</row1></writeic>";
}

class CardRunTest : public ::testing::Test {
 protected:
  CardRunTest() { FreshReader(); }

  // A new reader holding kCard, with no faults, no error text and an empty journal.
  void FreshReader() {
    loader_.reset();
    reader_ = std::make_unique<platform::fake::FakeCardReader>();
    loader_ = std::make_unique<platform::fake::FakeLibraryLoader>(*reader_);
    reader_->card() = kCard;
  }
  void Faults(const std::string& rules) {
    std::string error;
    ASSERT_TRUE(reader_->faults().Parse(rules, &error)) << error;
  }
  std::string CardBytes() {
    std::string bytes;
    for (const auto& [name, value] : reader_->card()) bytes += name + "=" + value + "\n";
    return bytes;
  }

  // One card run, as the card step does it: a fresh CardLibrary, Run, destroyed.
  int32_t Run(const std::string& reply) {
    CardLibrary card(*loader_, kCardLibraryName, 1);
    CardRun run(card, prompts_, *platform::DefaultEnv().xml);
    const int32_t result = run.Run(reply);
    status_ = card.status();
    message_ = card.message();
    card_xml_ = run.card_xml();
    return result;
  }

  const Lines& Journal() { return reader_->journal(); }
  long Count(const std::string& line) {
    return std::count(Journal().begin(), Journal().end(), line);
  }
  std::vector<FakePrompts::Shown> Boxes() { return prompts_.recorded.Boxes(); }
  void ExpectOneBox(const std::string& text, const std::string& caption) {
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text) << test::Utf8(boxes[0].text);
    EXPECT_EQ(boxes[0].caption, caption);
    EXPECT_EQ(boxes[0].buttons, BoxButtons::kRetryCancel);
    EXPECT_EQ(boxes[0].icon, BoxIcon::kNone);
  }

  const CardItems kCard = {{"card_no", "A100"},           {"indi_id", "P7"},
                           {"issuer_code", "I1"},         {"last_balance", "12.50"},
                           {"name", test::Gbk(u8"张三")}, {"pwd", "123456"}};

  std::unique_ptr<platform::fake::FakeCardReader> reader_;
  std::unique_ptr<platform::fake::FakeLibraryLoader> loader_;
  ClerkPrompts prompts_;
  int32_t status_ = 1;
  std::string message_;
  std::string card_xml_;
};

// ---------------------------------------------------------------------------------------------
// Reading

// Typed in part, or the password item unreadable (then no dialog): -401, nothing read, no write.
TEST_F(CardRunTest, PasswordTypedInPartOrUnreadable) {
  const struct {
    const char* label;
    const char* faults;
    bool dialog;
  } cases[] = {{"typed in part", "", true}, {"password item unreadable", "ICGet:pwd=fail", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    prompts_.recorded.Clear();
    Faults(c.faults);
    prompts_.recorded.QueuePassword("12345");
    const std::string before = CardBytes();
    EXPECT_EQ(Run(Reply(ReadBlock("<verifyic>pwd</verifyic><card_no/>") +
                        WriteBlock("<last_balance>1.00</last_balance>"))),
              -401);
    EXPECT_EQ(message_, kPasswordFailed);
    EXPECT_EQ(card_xml_, "");
    const auto& shown = prompts_.recorded.shown();
    ASSERT_EQ(shown.size(), c.dialog ? 1u : 0u);
    if (c.dialog) {
      EXPECT_EQ(shown[0].kind, FakePrompts::Kind::kPassword);
      EXPECT_EQ(shown[0].text, test::Gbk(u8"请用户输入6位密码"));
    }
    EXPECT_EQ(Count("ICGet(card_no)=0"), 0);            // nothing read
    EXPECT_EQ(Count("ICPut(last_balance,1.00)=0"), 0);  // no write step
    EXPECT_EQ(CardBytes(), before);
  }
}

TEST_F(CardRunTest, EmptyVerifyicAsksNoPassword) {
  EXPECT_EQ(Run(Reply(ReadBlock("<verifyic/><card_no/><name/>"))), 0);
  EXPECT_TRUE(prompts_.recorded.shown().empty());
  EXPECT_EQ(card_xml_,
            "<Program><ErrorNo>1</ErrorNo><readic><row1><verifyic/><card_no>A100"
            "</card_no><name>" +
                test::Gbk(u8"张三") + "</name></row1></readic></Program>");
}

TEST_F(CardRunTest, OnlyTheFirstReadBlockAndRowAreRead) {
  const std::string reply = Reply(
      "<readic><row1><card_no/></row1><row2><indi_id/></row2></readic>"
      "<other><readic><row1><name/></row1></readic></other>");
  EXPECT_EQ(Run(reply), 0);
  EXPECT_EQ(Journal(), (Lines{"ICReset()=0", "ICStart(1)=0", "ICGet(card_no)=0"}));
  EXPECT_EQ(card_xml_,
            "<Program><ErrorNo>1</ErrorNo><readic><row1><card_no>A100</"
            "card_no></row1><row2>"
            "<indi_id/></row2></readic><other><readic><row1><name/></row1></"
            "readic></other>"
            "</Program>");
}

TEST_F(CardRunTest, FailedReadEndsTheRunBeforeAnyWrite) {
  Faults("ICGet:name=fail");
  EXPECT_EQ(Run(Reply(ReadBlock("<card_no/><name/><indi_id/>") +
                      WriteBlock("<last_balance>1.00</last_balance>"))),
            -301);
  EXPECT_EQ(message_, test::Gbk(u8"执行底层IC卡函数(get)出错：") +
                          "ICGet failed (injected fault) for item name");
  EXPECT_EQ(card_xml_, "");
  EXPECT_EQ(Count("ICGet(indi_id)=0"), 0);
  EXPECT_EQ(Count("ICPut(last_balance,1.00)=0"), 0);
}

TEST_F(CardRunTest, ReplyWithoutCardWorkStillResetsAndStarts) {
  EXPECT_EQ(Run(Reply("<user_info><row1><staff_id>7</staff_id></row1></user_info>")), 0);
  EXPECT_EQ(card_xml_, "");
  EXPECT_EQ(Journal(), (Lines{"ICReset()=0", "ICStart(1)=0"}));
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST_F(CardRunTest, AllItemsEqualStillCommitsOnce) {
  EXPECT_EQ(Run(Reply(WriteBlock("<card_no>A100</card_no><last_balance>12.50</last_balance>"))), 0);
  EXPECT_EQ(Count("ICExecute(1)=0"), 1);
  for (const std::string& line : Journal()) EXPECT_EQ(line.rfind("ICPut", 0), std::string::npos);
}

// The clerk puts the right card back while the box is up and chooses Retry: the whole write
// runs again from the reset, and commits once.
TEST_F(CardRunTest, OtherCardNumberRetriedAfterTheRightCardIsBack) {
  reader_->card()["card_no"] = "B200";
  reader_->card()["last_balance"] = "99.00";
  prompts_.recorded.QueueBoxAnswer(BoxAnswer::kRetry);
  prompts_.on_box = [&] { reader_->card() = kCard; };
  EXPECT_EQ(Run(Reply(WriteBlock("<last_balance>1.00</last_balance><card_no>A100</card_no>"))), 0);
  ExpectOneBox(test::Gbk(u8"写卡时发现卡号不一致，可能是已换了一张卡。\n请换回原来的卡。"),
               test::Gbk(u8"卡号不一致"));
  EXPECT_EQ(Journal(), (Lines{"ICReset()=0", "ICStart(1)=0", "ICGet(last_balance)=0",
                              "ICPut(last_balance,1.00)=0", "ICGet(card_no)=0", "ICReset()=0",
                              "ICStart(1)=0", "ICGet(last_balance)=0", "ICPut(last_balance,1.00)=0",
                              "ICGet(card_no)=0", "ICExecute(1)=0"}));
  CardItems expected = kCard;
  expected["last_balance"] = "1.00";
  EXPECT_EQ(reader_->card(), expected);
}

// A balance that is no number is refused as an overdrawn one is (the rows play -5 and blank).
TEST_F(CardRunTest, ABalanceThatIsNoNumberIsNotWritten) {
  reader_->card()["last_balance"] = "1e3";
  const std::string before = CardBytes();
  EXPECT_EQ(Run(Reply(WriteBlock("<name>x</name><last_balance>8.00</last_balance>"))), -321);
  EXPECT_EQ(message_, kError);
  EXPECT_EQ(CardBytes(), before);
}

TEST_F(CardRunTest, FailureInTheMiddleOfAWriteCommitsNothing) {
  const struct {
    const char* faults;
    int32_t status;
    std::string message;
  } cases[] = {
      {"ICPut:name=return:-9", -302,
       test::Gbk(u8"执行底层IC卡函数(put)出错：") + "ICPut failed (injected fault) for item name"},
      // A positive answer is no failure of the library's own: its error text is empty.
      {"ICPut:name=return:3", -207, test::Gbk(u8"IC卡函数(ICPut)执行出错！")},
      {"ICGet:name=fail", -301,
       test::Gbk(u8"执行底层IC卡函数(get)出错：") + "ICGet failed (injected fault) for item name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    FreshReader();
    Faults(c.faults);
    const std::string before = CardBytes();
    EXPECT_EQ(Run(Reply(WriteBlock("<last_balance>1.00</last_balance><name>x</name>"
                                   "<pwd>000000</pwd>"))),
              c.status);
    EXPECT_EQ(message_, c.message) << test::Utf8(message_);
    EXPECT_EQ(Count("ICExecute(1)=0") + Count("ICExecute(1)=-1"), 0);
    EXPECT_EQ(Count("ICGet(pwd)=0"), 0);  // the walk stopped at the failure
    EXPECT_EQ(CardBytes(), before);
  }
}

// Every call of one write run failing in turn: the card ends either fully updated or exactly as
// it was, and a failure is never reported as success.
TEST_F(CardRunTest, EveryCallFailingInTurnNeverHalfWritesTheCard) {
  const std::string reply =
      Reply(WriteBlock("<card_no>A100</card_no><last_balance>1.00</"
                       "last_balance><name>x</name><pwd>9</pwd>"));
  CardItems updated = kCard;
  updated["last_balance"] = "1.00";
  updated["name"] = "x";
  updated["pwd"] = "9";
  int failures_seen = 0;
  for (int call = 1; call <= 12; ++call) {
    SCOPED_TRACE("call " + std::to_string(call) + " fails");
    reader_->card() = kCard;
    const std::string before = CardBytes();
    Faults("*=fail-on:" + std::to_string(call));
    const int32_t result = Run(reply);
    if (result < 0) {
      ++failures_seen;
      EXPECT_EQ(CardBytes(), before);
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(reader_->card(), updated);
    }
  }
  // ICReset's failure is wiped out by the start; the calls after the commit do not exist.
  EXPECT_EQ(failures_seen, 9);
}

// ---------------------------------------------------------------------------------------------
// Starting the reader

TEST_F(CardRunTest, FailedStartRetriedThenSucceeds) {
  Faults("ICStart=fail-times:1");
  prompts_.recorded.QueueBoxAnswer(BoxAnswer::kRetry);
  EXPECT_EQ(Run(Reply(ReadBlock("<card_no/>") + WriteBlock("<name>y</name>"))), 0);
  ExpectOneBox(test::Gbk(u8"启动IC卡操作时出错：") + "ICStart failed (injected fault)",
               kRunCaption);
  EXPECT_EQ(Journal(),
            (Lines{"ICReset()=0", "ICStart(1)=-1", "ICGeterrMsg()=0", "ICReset()=0", "ICStart(1)=0",
                   "ICGet(card_no)=0", "ICGet(name)=0", "ICPut(name,y)=0", "ICExecute(1)=0"}));
  EXPECT_EQ(card_xml_,
            "<Program><ErrorNo>1</ErrorNo><readic><row1><card_no>A100</"
            "card_no></row1></readic>"
            "<writeic><row1><name>y</name></row1></writeic></Program>");
}

TEST_F(CardRunTest, NoCardCancelled) {
  reader_->set_card_present(false);
  EXPECT_EQ(Run(Reply(ReadBlock("<card_no/>"))), -300);
  EXPECT_EQ(message_, test::Gbk(u8"启动IC卡操作时出错：") + "no card in the reader");
  ExpectOneBox(message_, kRunCaption);
}

TEST_F(CardRunTest, LibraryAbsentOrLackingAnEntryPoint) {
  const struct {
    const char* label;
    bool library;
    const char* faults;
    int32_t result;
    std::string message;
  } cases[] = {
      {"no library", false, "", -200, test::Gbk(u8"找不到IC卡函数(ICStart)！")},
      {"no ICStart", true, "ICStart=missing", -200, test::Gbk(u8"找不到IC卡函数(ICStart)！")},
      {"no ICGeterrMsg", true, "ICGeterrMsg=missing;ICStart=fail", -211,
       test::Gbk(u8"找不到IC卡函数(ICGeterrMsg)！")},
      {"no ICGet", true, "ICGet=missing", -201, test::Gbk(u8"找不到IC卡函数(ICGet)！")},
      {"no ICPut", true, "ICPut=missing", -202, test::Gbk(u8"找不到IC卡函数(ICPut)！")},
      {"no ICExecute", true, "ICExecute=missing", -203, test::Gbk(u8"找不到IC卡函数(ICExecute)！")},
      {"no ICReset", true, "ICReset=missing", 0, kOk},
      {"failing ICReset", true, "ICReset=fail", 0, kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FreshReader();
    loader_->set_library_present(c.library);
    Faults(c.faults);
    prompts_.recorded.Clear();
    prompts_.recorded.QueueBoxAnswer(BoxAnswer::kRetry);  // the second box is cancelled
    const std::string before = CardBytes();
    EXPECT_EQ(Run(Reply(ReadBlock("<card_no/>") + WriteBlock("<name>z</name>"))), c.result);
    EXPECT_EQ(message_, c.message) << test::Utf8(message_);
    const bool start_fails = c.result == -200 || c.result == -211;
    EXPECT_EQ(Boxes().size(), start_fails ? 2u : 0u);
    if (c.result < 0) {
      EXPECT_EQ(CardBytes(), before);
    }
  }
}

}  // namespace
}  // namespace qx::card
