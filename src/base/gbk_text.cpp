#include "base/gbk_text.h"

namespace qx {

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

}  // namespace qx
