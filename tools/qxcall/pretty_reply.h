// A readable view of a message for the command-line host: the XML indented, one line per row of
// each recordset. Self-contained (qxcall links nothing of ours but the public header).
#ifndef QX_TOOLS_QXCALL_PRETTY_REPLY_H_
#define QX_TOOLS_QXCALL_PRETTY_REPLY_H_

#include <string>
#include <string_view>

namespace qxcall {

// Lays out the UTF-8 message xml:
//
//   Program
//     ErrorNo: 1
//     ErrorMessage: 处理成功！
//     parameters: user=admin password=123456
//     user_info (1 row)
//       row1: center_id=430100 staff_id=0701 staff_name=王秀兰
//
// An element without child elements is "name: text"; one whose children are all such elements
// (a row, or a flat recordset) is one line of name=value pairs; any other element gets a line of
// its own and its children below it, two spaces further in. A value that is empty, holds a
// blank or a quote is quoted; line breaks and tabs in values are written \n, \r, \t.
// Returns true with the text (each line ending in '\n') in *out, or false with the reason the
// text is not well-formed XML ("line L, column C: ...") in *reason.
bool PrettyReply(std::string_view xml, std::string* out, std::string* reason);

}  // namespace qxcall

#endif  // QX_TOOLS_QXCALL_PRETTY_REPLY_H_
