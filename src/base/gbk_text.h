// Byte rules for the system's texts, which are GBK (code page 936) bytes: the one rule of the
// house for what a lead byte and a trail byte are, and cutting a text so that it ends on a whole
// character. Standard C++ only, as all of base/. (Wiping secrets from memory is the platform's:
// platform/memory_wipe.h.)
#ifndef QX_BASE_GBK_TEXT_H_
#define QX_BASE_GBK_TEXT_H_

#include <cstddef>
#include <string_view>

namespace qx {

// A GBK lead byte (0x81-0xFE), and a byte that completes one as its trail (0x40-0x7E, 0x80-0xFE).
// 0x80 and 0xFF are characters of one byte.
inline bool IsGbkLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
inline bool IsGbkTrail(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// The longest prefix of text, at most max_bytes long, that ends on a whole GBK character. A lead
// byte followed by a trail byte is one character of two bytes; a lead byte that ends the text has
// lost its trail and is dropped; every other byte is one character.
std::string_view CutToWholeGbkCharacters(std::string_view text, std::size_t max_bytes);

}  // namespace qx

#endif  // QX_BASE_GBK_TEXT_H_
