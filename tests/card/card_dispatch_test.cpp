// The card step's dispatcher: which replies ask for card work, and one card run with the card
// library unloaded again whatever happened.
#include "card/card_dispatch.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/env.h"
#include "support/fake_card_reader.h"
#include "support/fake_prompts.h"
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

// What a run hands back reaches the host (the card rows of tests/scenarios/scenarios.txt); here,
// that the library is loaded for each run and unloaded again whatever happened.
TEST_F(RunCardWorkTest, EveryRunLoadsTheLibraryAndUnloadsItAgain) {
  CardWork failed = Run("ICExecute=fail",
                        "<Program><readic><row1><card_no/></row1></readic>"
                        "<writeic><row1><name>y</name></row1></writeic></Program>");
  EXPECT_EQ(failed.result, -303);
  EXPECT_EQ(failed.card_xml, "");  // the values read are not handed out
  EXPECT_EQ(Run("", "<Program><readic><row1><card_no/></row1></readic></Program>").result, 0);
}

}  // namespace
}  // namespace qx::card
