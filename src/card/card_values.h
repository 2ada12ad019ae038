// Small rules about the bytes the card binding handles: judging the balance held on a card.
#ifndef QX_CARD_CARD_VALUES_H_
#define QX_CARD_CARD_VALUES_H_

#include <string_view>

namespace qx::card {

enum class BalanceReading { kNotANumber, kBelowZero, kZeroOrMore };

// Reads a balance held on the card as a decimal number: optional spaces or tabs around it, an
// optional sign "+" or "-", then digits with at most one decimal point and at least one digit
// ("12", "-5", "+0.50", ".5", "3."). A blank text (empty, or only spaces and tabs) is 0.00, as on
// a card whose balance was never written. Anything else (letters, "1e3", "1,000", "0x10", two
// signs, spaces inside, a sign alone) is kNotANumber. A minus sign with any non-zero digit is
// kBelowZero ("-0.5"); "-0" and "-0.00" are zero.
BalanceReading ReadBalance(std::string_view text);

}  // namespace qx::card

#endif  // QX_CARD_CARD_VALUES_H_
