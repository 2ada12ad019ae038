// Faults injected into a card reader double, per entry point and per item, from rules such as
//   ICStart=fail            every ICStart fails
//   ICGet:card_no=fail      ICGet fails for the item card_no only
//   ICPut=fail-after:2      the first two ICPut calls succeed, every later one fails
//   ICStart=fail-times:1    the first ICStart fails, later ones succeed
//   *=fail-on:5             the fifth call of any entry point (ICGeterrMsg aside) fails
//   ICPut=return:3          ICPut answers 3 without staging anything
//   ICGeterrMsg=missing     the entry point is not exported (in-process double only)
//   ICGeterrMsg=unterminated  the error text fills all 1024 bytes, no terminating zero
//   ICGeterrMsg=long:5000   the error text is 5000 bytes, ignoring the 1024-byte buffer
//   ICGet=unterminated      values fill all 100 bytes of the buffer, no terminating zero
// Rules are separated by ';' or line breaks; blanks around them and lines starting with '#' are
// ignored. Every rule whose target matches a call counts that call, also when an earlier rule
// already decided it; the first rule that fires decides. Used by the in-process double and by
// the simulated card reader library alike, so both honour the same rules. Standard C++ only.
#ifndef QX_TOOLS_CARD_SIM_CARD_FAULTS_H_
#define QX_TOOLS_CARD_SIM_CARD_FAULTS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qxic {

class CardFaults {
 public:
  enum class ErrorTextShape { kTerminated, kUnterminated, kLong };

  // Replaces the rules and restarts every count. On a rule that does not parse returns false
  // with *error naming it; the rules before it are kept.
  bool Parse(std::string_view rules, std::string* error);
  void Clear();

  // Called once per call of entry (item: the item name of ICGet and ICPut, else empty). The
  // result the call must answer when a rule fires, else nullopt: the call proceeds normally.
  std::optional<int> Check(std::string_view entry, std::string_view item);

  // True when a rule removes entry from the library's exports.
  bool IsMissing(std::string_view entry) const;

  ErrorTextShape error_text_shape() const { return shape_; }
  bool unterminated_values() const { return unterminated_values_; }
  std::size_t long_error_text_length() const { return long_length_; }

  // Writes text into buffer as ICGeterrMsg does under these rules: terminated and cut to fit
  // 1024 bytes; or filling all 1024 bytes with no zero; or long_error_text_length() bytes and a
  // zero. Filler (GBK double-byte characters) pads the text where the shape asks for more bytes.
  void WriteErrorText(std::string_view text, char* buffer) const;

  // Writes value into a 100-byte ICGet buffer: terminated (at most 99 bytes), or, under
  // "ICGet=unterminated", padded with filler to fill all 100 bytes without a zero.
  void WriteValue(std::string_view value, char* buffer) const;

 private:
  enum class Kind { kFail, kFailTimes, kFailAfter, kFailOn, kReturn, kMissing };
  struct Rule {
    std::string entry;  // "*" for any entry point but ICGeterrMsg
    std::string item;   // empty for any item
    Kind kind = Kind::kFail;
    long number = 0;
    long calls = 0;
  };

  bool ParseRule(std::string_view text, std::string* error);

  std::vector<Rule> rules_;
  ErrorTextShape shape_ = ErrorTextShape::kTerminated;
  std::size_t long_length_ = 0;
  bool unterminated_values_ = false;
};

}  // namespace qxic

#endif  // QX_TOOLS_CARD_SIM_CARD_FAULTS_H_
