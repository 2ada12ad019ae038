#include "message/case_folding.h"

#include "base/gbk_text.h"

namespace qx::message {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string FoldLowerDoubleByte(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    auto b = static_cast<unsigned char>(out[i]);
    if (IsGbkLead(b)) {
      ++i;  // the trail byte goes along as it is
    } else {
      out[i] = Lower(out[i]);
    }
  }
  return out;
}

std::string FoldLowerBytewise(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

}  // namespace qx::message
