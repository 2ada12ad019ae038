// Plain markup: a text that the DOM would write back byte for byte, so that blocks can be added
// to it as text. It is one element holding only elements and text:
//  - tags are "<name>", "</name>" or "<name/>", names of ASCII letters, digits, '_', '-' and '.'
//    (no prefix, no attribute, no blank inside a tag);
//  - text is printable ASCII without '&', '<' and '>', and whole GBK characters (a lead byte with
//    its trail byte, which the DOM's round trip through UTF-8 gives back as they were), neither
//    starting nor ending with a blank (the DOM drops and re-indents whitespace, trims a text, and
//    escapes markup characters); a FunctionID's text is ASCII without blanks;
//  - an element written "<name></name>" is not plain (the DOM writes it "<name/>");
//  - nothing stands before the element or after it: no declaration, comment or line end.
// Anything else is left to the DOM.
#ifndef QX_MESSAGE_PLAIN_MARKUP_H_
#define QX_MESSAGE_PLAIN_MARKUP_H_

#include <cstddef>
#include <optional>
#include <string_view>

namespace qx::message {

struct PlainMarkup {
  // Where the document element's closing tag starts: blocks appended as its last children go
  // there.
  std::size_t root_close = 0;
  // The text of the first element named "FunctionID" in document order, when that element
  // holds exactly one text (no element) or nothing; has_function_id is false when there is no
  // such element.
  bool has_function_id = false;
  std::string_view function_id;
};

// The shape of text when it is plain markup; nullopt when it is not, or when its first
// FunctionID element holds anything but one text.
std::optional<PlainMarkup> ReadPlainMarkup(std::string_view text);

// True when value, written as an element's text, is plain (see above), or empty.
bool IsPlainText(std::string_view value);

}  // namespace qx::message

#endif  // QX_MESSAGE_PLAIN_MARKUP_H_
