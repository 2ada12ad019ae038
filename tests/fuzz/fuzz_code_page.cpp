// The code page on arbitrary bytes. Code page 936 defines every lead byte (0x81-0xFE) with every
// trail byte (0x40-0xFE but 0x7F), and every other single byte, so a round trip through UTF-8
// gives the bytes back exactly, except a lead byte without a trail byte after it, which becomes
// '?'. The text converted whole equals its characters converted one by one (the fast path over
// ASCII and the pieces of the bulk conversion change nothing), and so does the way back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/code_page.h"

namespace {

bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const qx::platform::CodePage page;
  const std::string ansi(reinterpret_cast<const char*>(data), size);
  std::string expected_back;
  std::string unit_by_unit;
  for (size_t i = 0; i < size;) {
    const size_t length = IsLead(data[i]) && i + 1 < size && IsTrail(data[i + 1]) ? 2 : 1;
    const std::string unit = ansi.substr(i, length);
    unit_by_unit += page.ToUtf8(unit);
    expected_back += length == 1 && IsLead(data[i]) ? std::string("?") : unit;
    i += length;
  }
  const std::string utf8 = page.ToUtf8(ansi);
  if (utf8 != unit_by_unit) std::abort();
  if (page.ToAnsi(utf8) != expected_back) std::abort();
  // Arbitrary bytes read as UTF-8: what comes back is ANSI that converts to UTF-8 and back
  // unchanged (the way back never writes a lead byte without its trail byte).
  const std::string from_utf8 = page.ToAnsi(ansi);
  if (page.ToAnsi(page.ToUtf8(from_utf8)) != from_utf8) std::abort();
  return 0;
}
