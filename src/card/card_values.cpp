#include "card/card_values.h"

namespace qx::card {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

BalanceReading ReadBalance(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlank(text[end - 1])) {
    --end;
  }
  if (begin == end) {
    return BalanceReading::kZeroOrMore;  // a blank balance: a card never written reads as 0.00
  }
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
    negative = text[begin] == '-';
    ++begin;
  }
  bool any_digit = false;
  bool non_zero = false;
  bool point = false;
  for (std::size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      any_digit = true;
      non_zero = non_zero || c != '0';
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return BalanceReading::kNotANumber;
    }
  }
  if (!any_digit) {
    return BalanceReading::kNotANumber;
  }
  return negative && non_zero ? BalanceReading::kBelowZero : BalanceReading::kZeroOrMore;
}

}  // namespace qx::card
