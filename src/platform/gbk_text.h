// Byte-level rules for the system's texts that every layer needs: cutting GBK text so that it
// ends on a whole character, and wiping secrets (typed passwords, card values) from memory.
#ifndef QX_PLATFORM_GBK_TEXT_H_
#define QX_PLATFORM_GBK_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace qx::platform {

// A GBK lead byte (0x81-0xFE), and a byte that completes one as its trail (0x40-0x7E, 0x80-0xFE).
inline bool IsGbkLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
inline bool IsGbkTrail(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// The longest prefix of text, at most max_bytes long, that ends on a whole GBK character. A lead
// byte (0x81-0xFE) followed by a trail byte (0x40-0x7E, 0x80-0xFE) is one character of two bytes;
// a lead byte that ends the text has lost its trail and is dropped; every other byte is one
// character.
std::string_view CutToWholeGbkCharacters(std::string_view text, std::size_t max_bytes);

// Overwrites bytes with zeros in a way the compiler cannot drop as a dead store.
void WipeBytes(void* data, std::size_t size);
// Wipes the string's characters (its whole capacity), then empties it.
void WipeString(std::string* text);

}  // namespace qx::platform

#endif  // QX_PLATFORM_GBK_TEXT_H_
