// The two foldings of names to lower case. Both change only the ASCII letters A-Z.
#ifndef QX_MESSAGE_CASE_FOLDING_H_
#define QX_MESSAGE_CASE_FOLDING_H_

#include <string>
#include <string_view>

namespace qx::message {

// Double-byte aware: a GBK lead byte (0x81-0xFE) takes the byte after it along unchanged, so the
// second byte of a Chinese character is never folded even when it lies in A-Z. Used for stored
// item names and selected recordset names.
std::string FoldLowerDoubleByte(std::string_view text);

// Bytewise: every byte in A-Z is folded, second bytes of double-byte characters included. Used
// for the names that lookups ask for.
std::string FoldLowerBytewise(std::string_view text);

}  // namespace qx::message

#endif  // QX_MESSAGE_CASE_FOLDING_H_
