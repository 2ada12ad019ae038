#include "card/card_values.h"

#include <gtest/gtest.h>

namespace qx::card {
namespace {

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

}  // namespace
}  // namespace qx::card
