// Card runs over replies from the center: the password check, the read step, the write step with
// its refusals and its single commit, and failures of every entry point. Each scenario runs
// twice: on the in-memory card reader and on the simulated card reader library libqxic-sim.so,
// loaded with the POSIX loader.
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
#include "platform/fake/fake_prompts.h"
#include "platform/xml_document.h"
#include "support/card_sim.h"
#include "support/fake_card_reader.h"
#include "support/gbk.h"

namespace qx::card {
namespace {

using platform::BoxAnswer;
using platform::BoxButtons;
using platform::BoxIcon;
using platform::fake::CardItems;
using platform::fake::FakePrompts;
using Lines = std::vector<std::string>;

// Where the card lives for one test: the in-memory reader or the simulator's card file.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual platform::LibraryLoader& loader() = 0;
  virtual std::string library_name() = 0;
  virtual void SetCard(const CardItems& items) = 0;
  virtual void RemoveCard() = 0;
  virtual CardItems Card() = 0;
  // The card as stored, byte for byte.
  virtual std::string CardBytes() = 0;
  virtual void SetFaults(const std::string& rules) = 0;
  virtual Lines Journal() = 0;
  // The library is not there at all.
  virtual void RemoveLibrary() = 0;
  // The library does not export entry (ICStart, ICGeterrMsg, ...).
  virtual void RemoveEntryPoint(const std::string& entry) = 0;
};

class FakeBackend final : public Backend {
 public:
  FakeBackend() : loader_(reader_) {}
  platform::LibraryLoader& loader() override { return loader_; }
  std::string library_name() override { return kCardLibraryName; }
  void SetCard(const CardItems& items) override {
    reader_.card() = items;
    reader_.set_card_present(true);
  }
  void RemoveCard() override { reader_.set_card_present(false); }
  CardItems Card() override { return reader_.card(); }
  std::string CardBytes() override {
    std::string bytes;
    for (const auto& [name, value] : reader_.card()) bytes += name + "=" + value + "\n";
    return bytes;
  }
  void SetFaults(const std::string& rules) override {
    faults_ = rules;
    Apply();
  }
  Lines Journal() override { return reader_.journal(); }
  void RemoveLibrary() override { loader_.set_library_present(false); }
  void RemoveEntryPoint(const std::string& entry) override {
    missing_ += entry + "=missing;";
    Apply();
  }

 private:
  void Apply() {
    std::string error;
    ASSERT_TRUE(reader_.faults().Parse(missing_ + faults_, &error)) << error;
  }
  platform::fake::FakeCardReader reader_;
  platform::fake::FakeLibraryLoader loader_;
  std::string faults_;
  std::string missing_;
};

#if !defined(_WIN32)  // the simulated card reader is a POSIX shared library
class SimBackend final : public Backend {
 public:
  SimBackend()
      : card_env_("QXIC_CARD_FILE", dir_.File("card.txt")),
        journal_env_("QXIC_JOURNAL", dir_.File("journal.txt")),
        faults_env_(std::in_place, "QXIC_FAULTS", std::nullopt),
        faults_file_env_("QXIC_FAULTS_FILE", std::nullopt),
        port_env_("QXIC_PORT", std::nullopt) {}
  platform::LibraryLoader& loader() override { return *platform::DefaultEnv().libraries; }
  std::string library_name() override { return test::CardSimLibrary(variant_); }
  void SetCard(const CardItems& items) override {
    std::string bytes;
    for (const auto& [name, value] : items) bytes += name + "=" + value + "\n";
    test::WriteFileBytes(dir_.File("card.txt"), bytes);
  }
  void RemoveCard() override { std::remove(dir_.File("card.txt").c_str()); }
  CardItems Card() override {
    CardItems items;
    for (const std::string& line : test::ReadLines(dir_.File("card.txt"))) {
      const std::size_t equals = line.find('=');
      items[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return items;
  }
  std::string CardBytes() override {
    return test::ReadFileBytes(dir_.File("card.txt")).value_or("(no card file)");
  }
  void SetFaults(const std::string& rules) override { faults_env_.emplace("QXIC_FAULTS", rules); }
  Lines Journal() override { return test::ReadLines(dir_.File("journal.txt")); }
  void RemoveLibrary() override { variant_ = "qxic_not_built"; }
  void RemoveEntryPoint(const std::string& entry) override {
    std::string lower;
    for (char c : entry.substr(2)) lower.push_back(static_cast<char>(std::tolower(c)));
    variant_ = "qxic_no_" + lower;
  }

 private:
  test::CardScratchDir dir_;
  test::ScopedEnvVar card_env_;
  test::ScopedEnvVar journal_env_;
  std::optional<test::ScopedEnvVar> faults_env_;
  test::ScopedEnvVar faults_file_env_;
  test::ScopedEnvVar port_env_;
  std::string variant_ = "qxic";
};

#endif

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

enum class Kind { kFake, kSim };

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  return info.param == Kind::kFake ? "InMemory" : "Simulator";
}

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

class CardRunTest : public ::testing::TestWithParam<Kind> {
 protected:
  CardRunTest() { FreshBackend(); }

  // A new card reader holding kCard, with no faults and an empty journal.
  void FreshBackend() {
    backend_.reset();  // the simulator's environment goes back before the new one is set
#if !defined(_WIN32)
    if (GetParam() == Kind::kSim) {
      backend_ = std::make_unique<SimBackend>();
    }
#endif
    if (!backend_) {
      backend_ = std::make_unique<FakeBackend>();
    }
    backend_->SetCard(kCard);
  }

  // One card run, as the card step does it: a fresh CardLibrary, Run, destroyed.
  int32_t Run(const std::string& reply) {
    CardLibrary card(backend_->loader(), backend_->library_name(), 1);
    CardRun run(card, prompts_, *platform::DefaultEnv().xml);
    const int32_t result = run.Run(reply);
    status_ = card.status();
    message_ = card.message();
    card_xml_ = run.card_xml();
    return result;
  }

  Lines Journal() { return backend_->Journal(); }
  long Count(const std::string& line) {
    const Lines journal = Journal();
    return std::count(journal.begin(), journal.end(), line);
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

  std::unique_ptr<Backend> backend_;
  ClerkPrompts prompts_;
  int32_t status_ = 1;
  std::string message_;
  std::string card_xml_;
};

#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(Readers, CardRunTest, ::testing::Values(Kind::kFake), KindName);
#else
INSTANTIATE_TEST_SUITE_P(Readers, CardRunTest, ::testing::Values(Kind::kFake, Kind::kSim),
                         KindName);
#endif

// ---------------------------------------------------------------------------------------------
// Reading

TEST_P(CardRunTest, ReadWithThePasswordTypedRight) {
  prompts_.recorded.QueuePassword("123456");
  const std::string reply =
      Reply(ReadBlock("<card_no/><indi_id>earlier</indi_id><verifyic>pwd</verifyic>"));
  EXPECT_EQ(Run(reply), 0);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(message_, kOk);
  EXPECT_EQ(card_xml_,
            "<Program><ErrorNo>1</ErrorNo><readic><row1><card_no>A100</card_no>"
            "<indi_id>P7</indi_id><verifyic>pwd</verifyic></row1></readic></"
            "Program>");
  const auto& shown = prompts_.recorded.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, FakePrompts::Kind::kPassword);
  EXPECT_EQ(shown[0].text, test::Gbk(u8"请用户输入6位密码"));
  EXPECT_EQ(Journal(), (Lines{"ICReset()=0", "ICStart(1)=0", "ICGet(pwd)=0", "ICGet(card_no)=0",
                              "ICGet(indi_id)=0"}));
}

TEST_P(CardRunTest, PasswordTypedWrongEscapedOrUnreadable) {
  const struct {
    const char* label;
    std::optional<std::string> typed;  // nullopt: Escape
    const char* faults;
    bool dialog;
  } cases[] = {
      {"typed wrong", "654321", "", true},
      {"typed in part", "12345", "", true},
      {"escaped", std::nullopt, "", true},
      {"password item unreadable", "123456", "ICGet:pwd=fail", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    prompts_.recorded.Clear();
    backend_->SetFaults(c.faults);
    if (c.typed) prompts_.recorded.QueuePassword(*c.typed);
    const std::string before = backend_->CardBytes();
    EXPECT_EQ(Run(Reply(ReadBlock("<verifyic>pwd</verifyic><card_no/>") +
                        WriteBlock("<last_balance>1.00</last_balance>"))),
              -401);
    EXPECT_EQ(message_, kPasswordFailed);
    EXPECT_EQ(card_xml_, "");
    EXPECT_EQ(prompts_.recorded.shown().size(), c.dialog ? 1u : 0u);
    EXPECT_EQ(Count("ICGet(card_no)=0"), 0);            // nothing read
    EXPECT_EQ(Count("ICPut(last_balance,1.00)=0"), 0);  // no write step
    EXPECT_EQ(backend_->CardBytes(), before);
  }
}

TEST_P(CardRunTest, EmptyVerifyicAsksNoPassword) {
  EXPECT_EQ(Run(Reply(ReadBlock("<verifyic/><card_no/><name/>"))), 0);
  EXPECT_TRUE(prompts_.recorded.shown().empty());
  EXPECT_EQ(card_xml_,
            "<Program><ErrorNo>1</ErrorNo><readic><row1><verifyic/><card_no>A100"
            "</card_no><name>" +
                test::Gbk(u8"张三") + "</name></row1></readic></Program>");
}

TEST_P(CardRunTest, OnlyTheFirstReadBlockAndRowAreRead) {
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

TEST_P(CardRunTest, FailedReadEndsTheRunBeforeAnyWrite) {
  backend_->SetFaults("ICGet:name=fail");
  EXPECT_EQ(Run(Reply(ReadBlock("<card_no/><name/><indi_id/>") +
                      WriteBlock("<last_balance>1.00</last_balance>"))),
            -301);
  EXPECT_EQ(message_, test::Gbk(u8"执行底层IC卡函数(get)出错：") +
                          "ICGet failed (injected fault) for item name");
  EXPECT_EQ(card_xml_, "");
  EXPECT_EQ(Count("ICGet(indi_id)=0"), 0);
  EXPECT_EQ(Count("ICPut(last_balance,1.00)=0"), 0);
}

TEST_P(CardRunTest, ValuesFillingTheirBufferWithoutAZeroAreFilledInAsNinetyNineBytes) {
  backend_->SetFaults("ICGet=unterminated");
  EXPECT_EQ(Run(Reply(ReadBlock("<card_no/>"))), 0);
  // "A100" and the reader's filler: 99 bytes end in a lead byte, which is dropped.
  std::string value = "A100";
  while (value.size() < 98) value += "\xB4\xED";
  EXPECT_EQ(card_xml_, "<Program><ErrorNo>1</ErrorNo><readic><row1><card_no>" + value +
                           "</card_no></row1></readic></Program>");
  EXPECT_EQ(backend_->Card(), kCard);
}

TEST_P(CardRunTest, ReplyWithoutCardWorkStillResetsAndStarts) {
  EXPECT_EQ(Run(Reply("<user_info><row1><staff_id>7</staff_id></row1></user_info>")), 0);
  EXPECT_EQ(card_xml_, "");
  EXPECT_EQ(Journal(), (Lines{"ICReset()=0", "ICStart(1)=0"}));
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST_P(CardRunTest, WritesOnlyDifferingItemsAndCommitsOnce) {
  const std::string reply =
      Reply(WriteBlock("<card_no>A100</card_no><indi_id>P8</"
                       "indi_id><issuer_code>I9</issuer_code>"
                       "<last_balance>20.00</last_balance><name>" +
                       test::Gbk(u8"张三") + "</name><pwd/>"));
  EXPECT_EQ(Run(reply), 0);
  EXPECT_EQ(message_, kOk);
  EXPECT_EQ(card_xml_, "");  // the write step never changes the reply
  EXPECT_EQ(Journal(),
            (Lines{"ICReset()=0", "ICStart(1)=0", "ICGet(card_no)=0", "ICGet(indi_id)=0",
                   "ICGet(issuer_code)=0", "ICGet(last_balance)=0", "ICPut(last_balance,20.00)=0",
                   "ICGet(name)=0", "ICGet(pwd)=0", "ICPut(pwd,)=0", "ICExecute(1)=0"}));
  CardItems expected = kCard;
  expected["last_balance"] = "20.00";
  expected["pwd"] = "";
  EXPECT_EQ(backend_->Card(),
            expected);  // indi_id and issuer_code never written
}

TEST_P(CardRunTest, AllItemsEqualStillCommitsOnce) {
  EXPECT_EQ(Run(Reply(WriteBlock("<card_no>A100</card_no><last_balance>12.50</last_balance>"))), 0);
  EXPECT_EQ(Count("ICExecute(1)=0"), 1);
  for (const std::string& line : Journal()) EXPECT_EQ(line.rfind("ICPut", 0), std::string::npos);
}

TEST_P(CardRunTest, OtherCardNumberCancelled) {
  backend_->SetCard([&] {
    CardItems other = kCard;
    other["card_no"] = "B200";
    return other;
  }());
  const std::string before = backend_->CardBytes();
  // The balance comes first, so something is staged when the card number differs.
  EXPECT_EQ(Run(Reply(WriteBlock("<last_balance>1.00</last_balance><card_no>A100</card_no>"))),
            -320);
  EXPECT_EQ(message_, kError);
  ExpectOneBox(test::Gbk(u8"写卡时发现卡号不一致，可能是已换了一张卡。\n请换回原来的卡。"),
               test::Gbk(u8"卡号不一致"));
  EXPECT_EQ(Count("ICExecute(1)=0"), 0);
  EXPECT_EQ(backend_->CardBytes(), before);
}

TEST_P(CardRunTest, OtherCardNumberRetriedAfterTheRightCardIsBack) {
  CardItems other = kCard;
  other["card_no"] = "B200";
  other["last_balance"] = "99.00";
  backend_->SetCard(other);
  prompts_.recorded.QueueBoxAnswer(BoxAnswer::kRetry);
  prompts_.on_box = [&] { backend_->SetCard(kCard); };
  EXPECT_EQ(Run(Reply(WriteBlock("<last_balance>1.00</last_balance><card_no>A100</card_no>"))), 0);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Journal(), (Lines{"ICReset()=0", "ICStart(1)=0", "ICGet(last_balance)=0",
                              "ICPut(last_balance,1.00)=0", "ICGet(card_no)=0", "ICReset()=0",
                              "ICStart(1)=0", "ICGet(last_balance)=0", "ICPut(last_balance,1.00)=0",
                              "ICGet(card_no)=0", "ICExecute(1)=0"}));
  CardItems expected = kCard;
  expected["last_balance"] = "1.00";
  EXPECT_EQ(backend_->Card(), expected);
}

TEST_P(CardRunTest, BalanceOnTheCardDecidesWhetherToWrite) {
  const struct {
    const char* on_card;
    int32_t result;
  } cases[] = {
      {"-5", -321}, {"-0.5", -321}, {"abc", -321}, {" + ", -321}, {"1e3", -321}, {"0", 0},
      {"-0", 0},    {" 3.5 ", 0},   {"+2", 0},     {"", 0},       {" \t", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("balance \"") + c.on_card + "\"");
    CardItems card = kCard;
    card["last_balance"] = c.on_card;
    backend_->SetCard(card);
    const std::string before = backend_->CardBytes();
    EXPECT_EQ(Run(Reply(WriteBlock("<name>x</name><last_balance>8.00</last_balance>"))), c.result);
    if (c.result < 0) {
      EXPECT_EQ(message_, kError);
      EXPECT_EQ(backend_->CardBytes(), before);
    } else {
      EXPECT_EQ(backend_->Card()["last_balance"], "8.00");
      EXPECT_EQ(backend_->Card()["name"], "x");
    }
  }
}

TEST_P(CardRunTest, FailingCommitReportsTheLibrarysText) {
  backend_->SetFaults("ICExecute=fail");
  const std::string before = backend_->CardBytes();
  EXPECT_EQ(Run(Reply(WriteBlock("<last_balance>1.00</last_balance>"))), -303);
  EXPECT_EQ(message_, test::Gbk(u8"写IC卡时出错：") + "ICExecute failed (injected fault)");
  EXPECT_EQ(backend_->CardBytes(), before);
}

TEST_P(CardRunTest, FailureInTheMiddleOfAWriteCommitsNothing) {
  const std::string put_prefix = test::Gbk(u8"执行底层IC卡函数(put)出错：");
  const std::string put_text = "ICPut failed (injected fault) for item name";
  const struct {
    const char* faults;
    int32_t status;
    std::string message;
  } cases[] = {
      {"ICPut=fail-after:1", -302, put_prefix + put_text},
      {"ICPut:name=return:-9", -302, put_prefix + put_text},
      // A positive answer is no failure of the library's own: its error text is empty.
      {"ICPut:name=return:3", -207, test::Gbk(u8"IC卡函数(ICPut)执行出错！")},
      {"ICGet:name=fail", -301,
       test::Gbk(u8"执行底层IC卡函数(get)出错：") + "ICGet failed (injected fault) for item name"},
      // 27 + 43 bytes, then the filler's 953 bytes of room hold 476 whole characters.
      {"ICPut:name=fail;ICGeterrMsg=unterminated", -302,
       put_prefix + put_text +
           [] {
             std::string filler;
             for (int i = 0; i < 476; ++i) filler += "\xB4\xED";
             return filler;
           }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    FreshBackend();
    backend_->SetFaults(c.faults);
    const std::string before = backend_->CardBytes();
    EXPECT_EQ(Run(Reply(WriteBlock("<last_balance>1.00</last_balance><name>x</name>"
                                   "<pwd>000000</pwd>"))),
              c.status);
    EXPECT_EQ(message_, c.message) << test::Utf8(message_);
    EXPECT_EQ(Count("ICExecute(1)=0") + Count("ICExecute(1)=-1"), 0);
    EXPECT_EQ(Count("ICGet(pwd)=0"), 0);  // the walk stopped at the failure
    EXPECT_EQ(backend_->CardBytes(), before);
  }
}

// Every call of one write run failing in turn: the card ends either fully updated or exactly as
// it was, and a failure is never reported as success.
TEST_P(CardRunTest, EveryCallFailingInTurnNeverHalfWritesTheCard) {
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
    backend_->SetCard(kCard);
    const std::string before = backend_->CardBytes();
    backend_->SetFaults("*=fail-on:" + std::to_string(call));
    const int32_t result = Run(reply);
    if (result < 0) {
      ++failures_seen;
      EXPECT_EQ(backend_->CardBytes(), before);
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(backend_->Card(), updated);
    }
  }
  // ICReset's failure is wiped out by the start; the calls after the commit do not exist.
  EXPECT_EQ(failures_seen, 9);
}

// ---------------------------------------------------------------------------------------------
// Starting the reader

TEST_P(CardRunTest, FailedStartRetriedThenSucceeds) {
  backend_->SetFaults("ICStart=fail-times:1");
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

TEST_P(CardRunTest, NoCardCancelled) {
  backend_->RemoveCard();
  EXPECT_EQ(Run(Reply(ReadBlock("<card_no/>"))), -300);
  EXPECT_EQ(message_, test::Gbk(u8"启动IC卡操作时出错：") + "no card in the reader");
  ExpectOneBox(message_, kRunCaption);
}

TEST_P(CardRunTest, LibraryAbsentOrLackingAnEntryPoint) {
  const struct {
    const char* label;
    const char* missing;  // nullptr: no library at all; "": every entry point there
    const char* faults;
    int32_t result;
    std::string message;
  } cases[] = {
      {"no library", nullptr, "", -200, test::Gbk(u8"找不到IC卡函数(ICStart)！")},
      {"no ICStart", "ICStart", "", -200, test::Gbk(u8"找不到IC卡函数(ICStart)！")},
      {"no ICGeterrMsg", "ICGeterrMsg", "ICStart=fail", -211,
       test::Gbk(u8"找不到IC卡函数(ICGeterrMsg)！")},
      {"no ICGet", "ICGet", "", -201, test::Gbk(u8"找不到IC卡函数(ICGet)！")},
      {"no ICPut", "ICPut", "", -202, test::Gbk(u8"找不到IC卡函数(ICPut)！")},
      {"no ICExecute", "ICExecute", "", -203, test::Gbk(u8"找不到IC卡函数(ICExecute)！")},
      {"no ICReset", "ICReset", "", 0, kOk},
      {"failing ICReset", "", "ICReset=fail", 0, kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    FreshBackend();  // a missing entry point cannot come back
    if (c.missing && *c.missing) {
      backend_->RemoveEntryPoint(c.missing);
    } else if (!c.missing) {
      backend_->RemoveLibrary();
    }
    backend_->SetFaults(c.faults);
    prompts_.recorded.Clear();
    prompts_.recorded.QueueBoxAnswer(BoxAnswer::kRetry);  // the second box is cancelled
    const std::string before = backend_->CardBytes();
    EXPECT_EQ(Run(Reply(ReadBlock("<card_no/>") + WriteBlock("<name>z</name>"))), c.result);
    EXPECT_EQ(message_, c.message) << test::Utf8(message_);
    const bool start_fails = c.result == -200 || c.result == -211;
    EXPECT_EQ(Boxes().size(), start_fails ? 2u : 0u);
    if (c.result < 0) {
      EXPECT_EQ(backend_->CardBytes(), before);
    }
  }
}

}  // namespace
}  // namespace qx::card
