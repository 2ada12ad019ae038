// The card binding's own texts, in the ANSI code page (GBK bytes; card_texts.cpp is compiled
// with -fexec-charset=GBK). These are the bytes the clerk sees in the boxes and the host receives
// as the message of a failed card run.
#ifndef QX_CARD_CARD_TEXTS_H_
#define QX_CARD_CARD_TEXTS_H_

#include <cstdint>
#include <string_view>

namespace qx::card {

// The card binding's status table: the text for code. For -205 to -210 this is the part that
// comes before the card library's own error text.
std::string_view CardStatusText(int32_t code);

// The text put before the card library's error text when an entry point fails: code is the
// failure code of the step (-300 ICStart, -301 ICGet, -302 ICPut, -303 ICExecute, -304 ICReset).
std::string_view CardFailurePrefix(int32_t code);

// Caption of the Retry/Cancel box shown when the reader cannot be started.
std::string_view CardRunFailedCaption();
// Text and caption of the Retry/Cancel box shown when the card in the reader has another number.
std::string_view CardNumberDiffersText();
std::string_view CardNumberDiffersCaption();
// Label of the password entry.
std::string_view CardPasswordLabel();

}  // namespace qx::card

#endif  // QX_CARD_CARD_TEXTS_H_
