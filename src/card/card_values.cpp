#include "card/card_values.h"

namespace qx::card {
namespace {

bool IsGbkLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

bool IsGbkTrail(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string_view CutToWholeGbkCharacters(std::string_view text, std::size_t max_bytes) {
  // GBK cannot be walked backwards (a trail byte can also be a lead byte), so walk from the start.
  std::size_t end = 0;
  while (end < text.size()) {
    const auto byte = static_cast<unsigned char>(text[end]);
    std::size_t length = 1;
    if (IsGbkLead(byte)) {
      if (end + 1 >= text.size()) {
        break;  // half a character: its trail byte is gone
      }
      if (IsGbkTrail(static_cast<unsigned char>(text[end + 1]))) {
        length = 2;
      }
    }
    if (end + length > max_bytes) {
      break;
    }
    end += length;
  }
  return text.substr(0, end);
}

BalanceReading ReadBalance(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlank(text[end - 1])) {
    --end;
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

void WipeBytes(void* data, std::size_t size) {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = 0;
  }
}

void WipeString(std::string* text) {
  // The whole capacity: an earlier, longer content may still sit behind the current size.
  if (text->capacity() > 0) {
    text->resize(text->capacity());
    WipeBytes(text->data(), text->size());
  }
  text->clear();
}

}  // namespace qx::card
