// The card step's dispatcher: which replies ask for card work, and what a card run hands back to
// the interface object (the card's own status and message, or the reply with the card's values),
// with the card library unloaded again whatever happened.
#include "card/card_dispatch.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/env.h"
#include "platform/fake/fake_prompts.h"
#include "support/fake_card_reader.h"
#include "support/gbk.h"

namespace qx::card {
namespace {

TEST(CardDispatchTest, OnlyAWriteOrReadBlockIsCardWorkAndACountThatFailedIsNone) {
  const struct {
    int32_t writeic;
    int32_t readic;
    bool work;
  } cases[] = {{1, 0, true}, {0, 2, true}, {0, 0, false}, {-1, -1, false}, {-1, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.writeic) + " writeic, " + std::to_string(c.readic) + " readic");
    std::map<std::string, int> asked;
    const bool work = AsksForCardWork([&](std::string_view tag) {
      ++asked[std::string(tag)];
      return tag == "writeic" ? c.writeic : tag == "readic" ? c.readic : 99;
    });
    EXPECT_EQ(work, c.work);
    EXPECT_EQ(asked.count("verifyic"), 0u);  // a "verifyic" alone is no card work
    EXPECT_EQ(asked["writeic"], 1);
  }
}

class RunCardWorkTest : public ::testing::Test {
 protected:
  RunCardWorkTest() : loader_(reader_) {
    reader_.card() = {{"card_no", "A100"}, {"name", "x"}};
    env_.libraries = &loader_;
    env_.prompts = &prompts_;
    env_.xml = platform::DefaultEnv().xml;
  }

  CardWork Run(const std::string& faults, const std::string& reply) {
    std::string error;
    EXPECT_TRUE(reader_.faults().Parse(faults, &error)) << error;
    const int loads = loader_.loads();
    CardWork work = RunCardWork(env_, kCardLibraryName, 1, reply);
    EXPECT_EQ(loader_.loads(), loads + 1);
    EXPECT_EQ(loader_.loaded(), 0);
    return work;
  }

  platform::fake::FakeCardReader reader_;
  platform::fake::FakeLibraryLoader loader_;
  platform::fake::FakePrompts prompts_;  // every box is answered with Cancel
  platform::Env env_;
};

TEST_F(RunCardWorkTest, AFailureHandsBackTheCardsStatusAndItsWholeMessage) {
  CardWork work = Run("ICExecute=fail;ICGeterrMsg=long:5000",
                      "<Program><readic><row1><card_no/></row1></readic>"
                      "<writeic><row1><name>y</name></row1></writeic></Program>");
  EXPECT_EQ(work.result, -303);
  const std::string head = test::Gbk(u8"写IC卡时出错：") + "ICExecute failed (injected fault)";
  EXPECT_EQ(work.message.substr(0, head.size()), head) << test::Utf8(work.message);
  EXPECT_EQ(work.message.size(), 1023u);  // the card's cut, not another one
  EXPECT_EQ(work.card_xml, "");           // the values read are not handed out
  EXPECT_EQ(reader_.card()["name"], "x");
}

TEST_F(RunCardWorkTest, ASuccessHandsBackTheReplyWithTheCardsValuesOrNothing) {
  CardWork read = Run("", "<Program><readic><row1><card_no/></row1></readic></Program>");
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.message, "");
  EXPECT_EQ(read.card_xml,
            "<Program><readic><row1><card_no>A100</card_no></row1></readic></Program>");

  CardWork write = Run("", "<Program><writeic><row1><name>y</name></row1></writeic></Program>");
  EXPECT_EQ(write.result, 0);
  EXPECT_EQ(write.card_xml, "");
  EXPECT_EQ(reader_.card()["name"], "y");
}

}  // namespace
}  // namespace qx::card
