#include "base/gbk_text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/gbk.h"

namespace qx {
namespace {

TEST(CutToWholeGbkCharactersTest, NeverEndsInHalfACharacter) {
  const std::string card = test::Gbk(u8"卡");  // BF A8
  struct Case {
    std::string text;
    std::size_t max;
    std::string expected;
  } cases[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "abc"},
      {card + card, 3, card},  // the second character would be cut in half
      {card + card, 4, card + card},
      {"a" + card, 2, "a"},
      {"a" + card, 3, "a" + card},
      {std::string("\xBF"), 5, ""},  // a lead byte that lost its trail
      {"ab\xBF", 5, "ab"},
      {std::string("\x80\xFF"), 2, std::string("\x80\xFF")},  // single-byte characters
      {std::string("\xBF\x30"), 1, std::string("\xBF")},      // lead without a valid trail
      {std::string("\xBF\x30"), 2, std::string("\xBF\x30")},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutToWholeGbkCharacters(c.text, c.max), c.expected)
        << "text of " << c.text.size() << " bytes, max " << c.max;
  }
}

}  // namespace
}  // namespace qx
