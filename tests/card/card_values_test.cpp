#include "card/card_values.h"

#include <gtest/gtest.h>

#include <string>

#include "support/gbk.h"

namespace qx::card {
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

TEST(ReadBalanceTest, DecimalNumbersAndEverythingElse) {
  struct Case {
    const char* text;
    BalanceReading expected;
  } cases[] = {
      {"0", BalanceReading::kZeroOrMore},     {"12.50", BalanceReading::kZeroOrMore},
      {"+3", BalanceReading::kZeroOrMore},    {" 7 ", BalanceReading::kZeroOrMore},
      {"\t7", BalanceReading::kZeroOrMore},   {".5", BalanceReading::kZeroOrMore},
      {"3.", BalanceReading::kZeroOrMore},    {"-0", BalanceReading::kZeroOrMore},
      {"-0.00", BalanceReading::kZeroOrMore}, {"-5", BalanceReading::kBelowZero},
      {"-0.5", BalanceReading::kBelowZero},   {" -0.01 ", BalanceReading::kBelowZero},
      {"", BalanceReading::kZeroOrMore},      {" \t ", BalanceReading::kZeroOrMore},
      {"+", BalanceReading::kNotANumber},     {" - ", BalanceReading::kNotANumber},
      {"abc", BalanceReading::kNotANumber},   {"1e3", BalanceReading::kNotANumber},
      {"1,000", BalanceReading::kNotANumber}, {"0x10", BalanceReading::kNotANumber},
      {"--5", BalanceReading::kNotANumber},   {"+-5", BalanceReading::kNotANumber},
      {"1 2", BalanceReading::kNotANumber},   {"1.2.3", BalanceReading::kNotANumber},
      {"-", BalanceReading::kNotANumber},     {".", BalanceReading::kNotANumber},
      {"- 5", BalanceReading::kNotANumber},   {"nan", BalanceReading::kNotANumber},
      {"-inf", BalanceReading::kNotANumber},  {"5-", BalanceReading::kNotANumber},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadBalance(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(WipeTest, WipesTheWholeCapacity) {
  std::string secret = "a longer secret than the small buffer holds";
  secret = "123456";  // the earlier, longer text still sits in the capacity
  const char* data = secret.data();
  const std::size_t capacity = secret.capacity();
  WipeString(&secret);
  EXPECT_TRUE(secret.empty());
  for (std::size_t i = 0; i < capacity; ++i) {
    ASSERT_EQ(data[i], '\0') << "byte " << i;
  }
}

}  // namespace
}  // namespace qx::card
