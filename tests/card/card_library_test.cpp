// The wrappers of the card library's entry points, SetStatus and the error texts, through the
// in-memory card reader.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "card/card_library.h"
#include "support/fake_card_reader.h"
#include "support/gbk.h"

namespace qx::card {
namespace {

using platform::fake::FakeCardReader;
using platform::fake::FakeLibraryLoader;

class CardLibraryTest : public ::testing::Test {
 protected:
  CardLibraryTest() : loader_(reader_) {
    reader_.card() = {{"card_no", "A100"}, {"name", test::Gbk(u8"张三")}};
  }

  void Faults(const std::string& rules) {
    std::string error;
    ASSERT_TRUE(reader_.faults().Parse(rules, &error)) << error;
  }

  CardLibrary Open(int32_t port = 1) { return CardLibrary(loader_, kCardLibraryName, port); }

  FakeCardReader reader_;
  FakeLibraryLoader loader_;
};

struct WrapperCase {
  const char* label;
  const char* faults;
  std::function<int32_t(CardLibrary&)> call;
  int32_t result;
  int32_t status;
  std::string message;
};

const std::string kOk = test::Gbk(u8"系统处理成功！");
const std::string kNoErrMsg = test::Gbk(u8"找不到IC卡函数(ICGeterrMsg)！");

int32_t StartThen(CardLibrary& card, const std::function<int32_t(CardLibrary&)>& call) {
  card.Start();
  return call(card);
}

TEST_F(CardLibraryTest, ResultTableOfEveryWrapper) {
  const auto reset = [](CardLibrary& c) { return c.Reset(); };
  const auto start = [](CardLibrary& c) { return c.Start(); };
  const auto get = [](CardLibrary& c) {
    std::string value;
    return StartThen(c, [&](CardLibrary& s) { return s.Get("card_no", &value); });
  };
  const auto put = [](CardLibrary& c) {
    return StartThen(c, [](CardLibrary& s) { return s.Put("card_no", "A200"); });
  };
  const auto execute = [](CardLibrary& c) {
    return StartThen(c, [](CardLibrary& s) { return s.Execute(); });
  };
  const WrapperCase cases[] = {
      {"reset missing", "ICReset=missing", reset, -204, -204,
       test::Gbk(u8"找不到IC卡函数(ICReset)！")},
      {"reset fails", "ICReset=fail", reset, -304, -304,
       test::Gbk(u8"IC卡复位时出错：") + "ICReset failed (injected fault)"},
      {"reset fails, no error text", "ICReset=fail;ICGeterrMsg=missing", reset, -211, -211,
       kNoErrMsg},
      {"reset answers 2", "ICReset=return:2", reset, 0, 0, kOk},
      {"reset", "", reset, 0, 0, kOk},
      {"start missing", "ICStart=missing", start, -200, -200,
       test::Gbk(u8"找不到IC卡函数(ICStart)！")},
      {"start fails", "ICStart=fail", start, -300, -300,
       test::Gbk(u8"启动IC卡操作时出错：") + "ICStart failed (injected fault)"},
      {"start fails, no error text", "ICStart=fail;ICGeterrMsg=missing", start, -211, -211,
       kNoErrMsg},
      {"start", "", start, 0, 0, kOk},
      {"get missing", "ICGet=missing", get, -201, -201, test::Gbk(u8"找不到IC卡函数(ICGet)！")},
      {"get fails", "ICGet:card_no=fail", get, -301, -301,
       test::Gbk(u8"执行底层IC卡函数(get)出错：") +
           "ICGet failed (injected fault) for item card_no"},
      {"get fails, no error text", "ICGet=fail;ICGeterrMsg=missing", get, -211, -211, kNoErrMsg},
      {"get", "", get, 0, 0, kOk},
      {"put missing", "ICPut=missing", put, -202, -202, test::Gbk(u8"找不到IC卡函数(ICPut)！")},
      {"put fails", "ICPut=fail", put, -1, -302,
       test::Gbk(u8"执行底层IC卡函数(put)出错：") +
           "ICPut failed (injected fault) for item card_no"},
      {"put fails, no error text", "ICPut=fail;ICGeterrMsg=missing", put, -1, -211, kNoErrMsg},
      {"put answers -7", "ICPut=return:-7", put, -7, -302,
       test::Gbk(u8"执行底层IC卡函数(put)出错：") +
           "ICPut failed (injected fault) for item card_no"},
      {"put answers 3", "ICPut=return:3", put, 3, 0, kOk},
      {"put", "", put, 0, 0, kOk},
      {"execute missing", "ICExecute=missing", execute, -203, -203,
       test::Gbk(u8"找不到IC卡函数(ICExecute)！")},
      {"execute fails", "ICExecute=fail", execute, -1, -303,
       test::Gbk(u8"写IC卡时出错：") + "ICExecute failed (injected fault)"},
      {"execute fails, no error text", "ICExecute=fail;ICGeterrMsg=missing", execute, -1, -211,
       kNoErrMsg},
      {"execute", "", execute, 0, 0, kOk},
  };
  for (const WrapperCase& c : cases) {
    SCOPED_TRACE(c.label);
    Faults(c.faults);
    CardLibrary card = Open();
    EXPECT_EQ(c.call(card), c.result);
    EXPECT_EQ(card.status(), c.status);
    EXPECT_EQ(card.message(), c.message) << test::Utf8(card.message());
  }
  EXPECT_EQ(loader_.loaded(), 0);
}

TEST_F(CardLibraryTest, GetHandsBackTheCardValue) {
  CardLibrary card = Open();
  ASSERT_EQ(card.Start(), 0);
  std::string value = "stale";
  EXPECT_EQ(card.Get("name", &value), 0);
  EXPECT_EQ(value, test::Gbk(u8"张三"));
  EXPECT_EQ(card.Get("no_such_item", &value), -301);
  EXPECT_EQ(value, "");
  EXPECT_EQ(card.message(),
            test::Gbk(u8"执行底层IC卡函数(get)出错：") + "no item no_such_item on the card");
}

TEST_F(CardLibraryTest, ASuccessfulCallWipesOutAnEarlierFailure) {
  Faults("ICReset=fail");
  CardLibrary card = Open();
  EXPECT_EQ(card.Reset(), -304);
  EXPECT_EQ(card.Start(), 0);
  EXPECT_EQ(card.status(), 0);
  EXPECT_EQ(card.message(), kOk);
}

TEST_F(CardLibraryTest, PortGoesToStartAndExecute) {
  reader_.set_reader_port(3);
  CardLibrary card = Open(3);
  EXPECT_EQ(card.Start(), 0);
  EXPECT_EQ(card.Put("card_no", "A200"), 0);
  EXPECT_EQ(card.Execute(), 0);
  EXPECT_EQ(reader_.journal(),
            (std::vector<std::string>{"ICStart(3)=0", "ICPut(card_no,A200)=0", "ICExecute(3)=0"}));
  EXPECT_EQ(reader_.card()["card_no"], "A200");

  CardLibrary wrong = Open(2);
  EXPECT_EQ(wrong.Start(), -300);
  EXPECT_EQ(wrong.message(), test::Gbk(u8"启动IC卡操作时出错：") + "no card reader on port 2");
}

TEST_F(CardLibraryTest, AbsentLibraryMeansEveryEntryPointIsMissing) {
  loader_.set_library_present(false);
  CardLibrary card = Open();
  std::string value;
  EXPECT_EQ(card.Reset(), -204);
  EXPECT_EQ(card.Start(), -200);
  EXPECT_EQ(card.Get("card_no", &value), -201);
  EXPECT_EQ(card.Put("card_no", "x"), -202);
  EXPECT_EQ(card.Execute(), -203);
  std::string text;
  EXPECT_EQ(card.FetchErrorText(&text), -211);
  EXPECT_EQ(card.message(), kNoErrMsg);
  EXPECT_EQ(card.loaded().kind(), Status::Kind::kNotFound);  // the loader said why, to us alone
  EXPECT_EQ(loader_.loads(), 0);
  EXPECT_TRUE(reader_.journal().empty());
}

TEST_F(CardLibraryTest, OtherLibraryNameIsNotLoaded) {
  CardLibrary card(loader_, "libother.so", 1);
  EXPECT_EQ(card.Start(), -200);
  EXPECT_EQ(loader_.loads(), 0);
}

// The codes -205 to -210 carry the library's last error text after their own; the codes around
// them do not. (Every code's own text: tests/interface/status_test.cpp.)
TEST_F(CardLibraryTest, SetStatusAddsTheLibrarysTextFrom205To210) {
  Faults("ICPut=fail");
  CardLibrary card = Open();
  card.Start();
  card.Put("card_no", "x");  // leaves the library's last error text
  const std::string lib = "ICPut failed (injected fault) for item card_no";
  const struct {
    int32_t code;
    std::string message;
  } cases[] = {
      {-401, test::Gbk(u8"读卡时用户口令校验失败。")},
      {-211, kNoErrMsg},
      {-210, test::Gbk(u8"IC卡函数(ICReset)执行出错！") + lib},
      {-205, test::Gbk(u8"IC卡函数(ICStart)执行出错！") + lib},
      {-204, test::Gbk(u8"找不到IC卡函数(ICReset)！")},
      {0, kOk},
  };
  for (const auto& c : cases) {
    card.SetStatus(c.code);
    EXPECT_EQ(card.status(), c.code);
    EXPECT_EQ(card.message(), c.message) << c.code << ": " << test::Utf8(card.message());
  }
}

TEST_F(CardLibraryTest, SetStatusWithLibraryTextButNoErrMsgGives211) {
  Faults("ICGeterrMsg=missing");
  CardLibrary card = Open();
  card.SetStatus(-207);
  EXPECT_EQ(card.status(), -211);
  EXPECT_EQ(card.message(), kNoErrMsg);
}

// GBK characters "错" (and the half of one more when bytes is odd): what the double pads long
// texts with.
std::string Filler(std::size_t bytes) {
  std::string out;
  while (out.size() < bytes) out += "\xB4\xED";
  out.resize(bytes);
  return out;
}

// The card's own cut (its message is also a box's text): 27 + 41 bytes, then 955 bytes of room
// hold 477 whole characters, not the 478th half.
TEST_F(CardLibraryTest, AnUnterminatedErrorTextIsCutOnAWholeCharacter) {
  Faults("ICGeterrMsg=unterminated;ICGet=fail");
  CardLibrary card = Open();
  ASSERT_EQ(card.Start(), 0);
  std::string value;
  EXPECT_EQ(card.Get("ab", &value), -301);
  EXPECT_EQ(card.message(), test::Gbk(u8"执行底层IC卡函数(get)出错：") +
                                "ICGet failed (injected fault) for item ab" + Filler(954));
}

TEST_F(CardLibraryTest, ValueWithoutTerminatingZeroIsTakenUpTo99Bytes) {
  Faults("ICGet=unterminated");
  CardLibrary card = Open();
  ASSERT_EQ(card.Start(), 0);
  std::string value;
  EXPECT_EQ(card.Get("card_no", &value), 0);
  // "A100" then filler up to 100 bytes; 99 of them end in the lead byte of a character: dropped.
  EXPECT_EQ(value, "A100" + Filler(94));
}

}  // namespace
}  // namespace qx::card
