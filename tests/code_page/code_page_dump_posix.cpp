// The POSIX code page in the form code_page_dump_win32.c writes code page 936 (see there): the
// Windows suite compares the two, line for line.
#include <cstdio>
#include <string>

#include "platform/posix/code_page.h"

namespace {

// The code point of s when s is exactly one UTF-8 character of the BMP, else -1.
long OneCharacter(const std::string& s) {
  const auto* u = reinterpret_cast<const unsigned char*>(s.data());
  if (s.size() == 1 && u[0] < 0x80) return u[0];
  if (s.size() == 2 && (u[0] & 0xE0) == 0xC0) return ((u[0] & 0x1F) << 6) | (u[1] & 0x3F);
  if (s.size() == 3 && (u[0] & 0xF0) == 0xE0) {
    return ((u[0] & 0x0F) << 12) | ((u[1] & 0x3F) << 6) | (u[2] & 0x3F);
  }
  return -1;
}

std::string Utf8(unsigned unit) {
  std::string out;
  if (unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit < 0x800) {
    out += static_cast<char>(0xC0 | (unit >> 6));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
  return out;
}

}  // namespace

int main() {
  try {
    qx::platform::CodePage page;
    for (unsigned byte = 0; byte < 256; ++byte) {
      const long unit = OneCharacter(page.ToUtf8(std::string(1, static_cast<char>(byte))));
      if (unit >= 0 && (unit != '?' || byte == '?')) std::printf("M %02X %04lX\n", byte, unit);
    }
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
        const long unit = OneCharacter(page.ToUtf8(pair));
        if (unit >= 0 && unit != '?') std::printf("M %02X%02X %04lX\n", lead, trail, unit);
      }
    }
    for (unsigned unit = 1; unit < 0x10000; ++unit) {
      if (unit >= 0xD800 && unit <= 0xDFFF) continue;
      const std::string ansi = page.ToAnsi(Utf8(unit));
      if (ansi == "?" && unit != '?') continue;
      std::printf("W %04X ", unit);
      for (unsigned char c : ansi) std::printf("%02X", c);
      std::printf("\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  return 0;
}
