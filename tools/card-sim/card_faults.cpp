#include "card-sim/card_faults.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace qxic {
namespace {

constexpr std::size_t kErrorBufferSize = 1024;
constexpr std::size_t kValueBufferSize = 100;
// Longest error text a rule may ask for; a caller must survive it, not hold it.
constexpr std::size_t kMaxLongErrorText = 15000;
// GBK for "错", repeated to pad error texts.
constexpr char kFiller[] = "\xB4\xED";

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  const std::size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string_view::npos) {
    return {};
  }
  const std::size_t end = text.find_last_not_of(blanks);
  return text.substr(begin, end - begin + 1);
}

bool ParseNumber(std::string_view text, long* number) {
  text = Trim(text);
  if (text.empty()) {
    return false;
  }
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *number);
  return ec == std::errc() && ptr == end;
}

// text, then filler, up to exactly size bytes.
std::string Padded(std::string_view text, std::size_t size) {
  std::string out(text.substr(0, size));
  std::size_t i = 0;
  while (out.size() < size) {
    out.push_back(kFiller[i % 2]);
    ++i;
  }
  return out;
}

}  // namespace

void CardFaults::Clear() {
  rules_.clear();
  shape_ = ErrorTextShape::kTerminated;
  long_length_ = 0;
  unterminated_values_ = false;
}

bool CardFaults::Parse(std::string_view rules, std::string* error) {
  Clear();
  while (!rules.empty()) {
    const std::size_t end = rules.find_first_of(";\n");
    std::string_view rule = Trim(rules.substr(0, end));
    rules = end == std::string_view::npos ? std::string_view() : rules.substr(end + 1);
    if (rule.empty() || rule.front() == '#') {
      continue;
    }
    if (!ParseRule(rule, error)) {
      return false;
    }
  }
  return true;
}

bool CardFaults::ParseRule(std::string_view text, std::string* error) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    *error = "no '=' in fault rule: " + std::string(text);
    return false;
  }
  std::string_view target = Trim(text.substr(0, equals));
  std::string_view action = Trim(text.substr(equals + 1));
  Rule rule;
  const std::size_t colon = target.find(':');
  rule.entry = std::string(Trim(target.substr(0, colon)));
  if (colon != std::string_view::npos) {
    rule.item = std::string(Trim(target.substr(colon + 1)));
  }
  if (rule.entry.empty()) {
    *error = "no entry point in fault rule: " + std::string(text);
    return false;
  }

  std::string_view verb = action;
  std::string_view argument;
  const std::size_t action_colon = action.find(':');
  if (action_colon != std::string_view::npos) {
    verb = Trim(action.substr(0, action_colon));
    argument = action.substr(action_colon + 1);
  }
  const bool has_argument = action_colon != std::string_view::npos;
  long number = 0;
  if (has_argument && !ParseNumber(argument, &number)) {
    *error = "bad number in fault rule: " + std::string(text);
    return false;
  }

  if (rule.entry == "ICGet" && rule.item.empty() && verb == "unterminated" && !has_argument) {
    unterminated_values_ = true;
    return true;
  }
  if (rule.entry == "ICGeterrMsg" && verb == "unterminated" && !has_argument) {
    shape_ = ErrorTextShape::kUnterminated;
    return true;
  }
  if (rule.entry == "ICGeterrMsg" && verb == "long" && has_argument && number >= 0 &&
      static_cast<std::size_t>(number) <= kMaxLongErrorText) {
    shape_ = ErrorTextShape::kLong;
    long_length_ = static_cast<std::size_t>(number);
    return true;
  }
  if (verb == "fail" && !has_argument) {
    rule.kind = Kind::kFail;
  } else if (verb == "missing" && !has_argument) {
    rule.kind = Kind::kMissing;
  } else if (verb == "fail-times" && has_argument && number >= 0) {
    rule.kind = Kind::kFailTimes;
  } else if (verb == "fail-after" && has_argument && number >= 0) {
    rule.kind = Kind::kFailAfter;
  } else if (verb == "fail-on" && has_argument && number >= 1) {
    rule.kind = Kind::kFailOn;
  } else if (verb == "return" && has_argument) {
    rule.kind = Kind::kReturn;
  } else {
    *error = "unknown fault action: " + std::string(text);
    return false;
  }
  rule.number = number;
  rules_.push_back(std::move(rule));
  return true;
}

std::optional<int> CardFaults::Check(std::string_view entry, std::string_view item) {
  std::optional<int> decided;
  for (Rule& rule : rules_) {
    const bool entry_matches = rule.entry == entry || (rule.entry == "*" && entry != "ICGeterrMsg");
    if (!entry_matches || (!rule.item.empty() && rule.item != item) ||
        rule.kind == Kind::kMissing) {
      continue;
    }
    ++rule.calls;
    std::optional<int> outcome;
    switch (rule.kind) {
      case Kind::kFail:
        outcome = -1;
        break;
      case Kind::kFailTimes:
        if (rule.calls <= rule.number) outcome = -1;
        break;
      case Kind::kFailAfter:
        if (rule.calls > rule.number) outcome = -1;
        break;
      case Kind::kFailOn:
        if (rule.calls == rule.number) outcome = -1;
        break;
      case Kind::kReturn:
        outcome = static_cast<int>(rule.number);
        break;
      case Kind::kMissing:
        break;
    }
    if (!decided && outcome) {
      decided = outcome;
    }
  }
  return decided;
}

bool CardFaults::IsMissing(std::string_view entry) const {
  for (const Rule& rule : rules_) {
    if (rule.kind == Kind::kMissing && rule.entry == entry) {
      return true;
    }
  }
  return false;
}

void CardFaults::WriteErrorText(std::string_view text, char* buffer) const {
  switch (shape_) {
    case ErrorTextShape::kTerminated: {
      const std::size_t size = std::min(text.size(), kErrorBufferSize - 1);
      std::memcpy(buffer, text.data(), size);
      buffer[size] = '\0';
      break;
    }
    case ErrorTextShape::kUnterminated: {
      const std::string bytes = Padded(text, kErrorBufferSize);
      std::memcpy(buffer, bytes.data(), bytes.size());
      break;
    }
    case ErrorTextShape::kLong: {
      const std::string bytes = Padded(text, long_length_);
      std::memcpy(buffer, bytes.data(), bytes.size());
      buffer[bytes.size()] = '\0';
      break;
    }
  }
}

void CardFaults::WriteValue(std::string_view value, char* buffer) const {
  if (unterminated_values_) {
    const std::string bytes = Padded(value, kValueBufferSize);
    std::memcpy(buffer, bytes.data(), bytes.size());
    return;
  }
  const std::size_t size = std::min(value.size(), kValueBufferSize - 1);
  std::memcpy(buffer, value.data(), size);
  buffer[size] = '\0';
}

}  // namespace qxic
