// Small rules about the bytes the card binding handles: cutting GBK text on a whole character,
// judging the balance held on a card, and wiping secrets from memory.
#ifndef QX_CARD_CARD_VALUES_H_
#define QX_CARD_CARD_VALUES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace qx::card {

// The longest prefix of text, at most max_bytes long, that ends on a whole GBK character. A lead
// byte (0x81-0xFE) followed by a trail byte (0x40-0x7E, 0x80-0xFE) is one character of two bytes;
// a lead byte that ends the text has lost its trail and is dropped; every other byte is one
// character.
std::string_view CutToWholeGbkCharacters(std::string_view text, std::size_t max_bytes);

enum class BalanceReading { kNotANumber, kBelowZero, kZeroOrMore };

// Reads a balance held on the card as a decimal number: optional spaces or tabs around it, an
// optional sign "+" or "-", then digits with at most one decimal point and at least one digit
// ("12", "-5", "+0.50", ".5", "3."). Anything else (empty, letters, "1e3", "1,000", "0x10", two
// signs, spaces inside) is kNotANumber. A minus sign with any non-zero digit is kBelowZero
// ("-0.5"); "-0" and "-0.00" are zero.
BalanceReading ReadBalance(std::string_view text);

// Overwrites bytes with zeros in a way the compiler cannot drop as a dead store.
void WipeBytes(void* data, std::size_t size);
// Wipes the string's characters, then empties it.
void WipeString(std::string* text);

}  // namespace qx::card

#endif  // QX_CARD_CARD_VALUES_H_
