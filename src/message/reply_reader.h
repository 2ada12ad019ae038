// Reading messages: the rows of a named recordset, the function identifier, the number of
// elements of a name. Each call either parses the text afresh in a new document of the given
// factory, or reads a document the caller has already loaded (so that one reply is parsed once
// for all of them); none throws: a failure of the DOM becomes the result code kDomFailure.
#ifndef QX_MESSAGE_REPLY_READER_H_
#define QX_MESSAGE_REPLY_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "message/row_store.h"
#include "platform/xml_document.h"

namespace qx::message {

// Result codes of the readers below.
inline constexpr int32_t kUnpacked = 0;
inline constexpr int32_t kNoRecordSet = -110;  // also: the text does not parse, or is empty
inline constexpr int32_t kDomFailure = -106;

inline constexpr int32_t kFunctionIdFound = 1;
inline constexpr int32_t kNoFunctionId = -1;  // also: the text does not parse
inline constexpr int32_t kFunctionIdTooLong = -2;
// The longest function identifier accepted (it is kept in a 52-byte field); a longer one is
// refused, never cut.
inline constexpr std::size_t kMaxFunctionIdLength = 51;

// Loads the recordset `folded_name` (already lower case; matched case-sensitively) of `reply`
// into rows:
//  - the first element of that name anywhere in the document, in document order, is the
//    recordset; its child nodes are the rows, whatever their names;
//  - every child node of a row other than a text node is an item (a comment too, with an
//    empty value); its value is the value of its first child node, empty when it has none or
//    when that child is an element;
//  - a row without items adds no row, so row numbers stay dense.
// Returns kUnpacked (rows cleared, then filled; the current row is 1), kNoRecordSet (rows
// untouched) or kDomFailure (rows hold what was stored before the failure).
int32_t UnpackRecordSet(platform::XmlFactory& factory, std::string_view reply,
                        std::string_view folded_name, RowStore* rows);

// The same on a document already loaded with the reply (a reply that did not parse: an empty
// document). The document is only read.
int32_t UnpackRecordSet(platform::XmlDocument& doc, std::string_view folded_name, RowStore* rows);

// The text of the first "FunctionID" element anywhere in `xml`, as the DOM's text of that
// element. Returns kFunctionIdFound with *function_id set; kNoFunctionId, kFunctionIdTooLong
// (longer than kMaxFunctionIdLength bytes) or kDomFailure with *function_id untouched.
int32_t ExtractFunctionId(platform::XmlFactory& factory, std::string_view xml,
                          std::string* function_id);

int32_t ExtractFunctionId(platform::XmlDocument& doc, std::string* function_id);

// The number of elements named `tag` anywhere in `xml` (0 when it does not parse), or -1 when
// the DOM fails.
int32_t CountElements(platform::XmlFactory& factory, std::string_view xml, std::string_view tag);
int32_t CountElements(platform::XmlDocument& doc, std::string_view tag);

// False when `text` (ANSI bytes) cannot hold an element named `name` (ASCII), whatever the DOM
// would make of it: such an element needs the bytes '<' and `name` in a row (or ':' and
// `name`: the Windows DOM also finds "x:name" when asked for "name"), since the code page turns
// every ASCII byte into that character and no other byte into '<', ':' or a letter. True
// when it may (also for a name with a byte outside ASCII, or of fewer than two bytes): only
// parsing tells. Lets a reader skip a parse whose answer is known, which costs a parse of the
// whole reply for nothing when a catalogue of tens of megabytes asks for no card work and names
// no further function.
bool MayHoldElement(std::string_view text, std::string_view name);

// The same for up to kMaxNamesPerScan names in one pass over the text: bit k of the result
// answers for names[k].
inline constexpr std::size_t kMaxNamesPerScan = 8;
uint32_t MayHoldElements(std::string_view text, std::span<const std::string_view> names);

// MayHoldElements over a text that arrives in pieces, each searched while it is fresh: Feed
// after each piece with the text so far and the offset where the piece starts; seen() then
// answers as MayHoldElements(text, names) would. The names must outlive the object.
class ElementNamesScan {
 public:
  explicit ElementNamesScan(std::span<const std::string_view> names);
  void Feed(std::string_view text, std::size_t from);
  uint32_t seen() const { return seen_; }

 private:
  std::span<const std::string_view> names_;
  std::size_t longest_ = 0;
  uint32_t all_ = 0;
  uint32_t seen_ = 0;
};

}  // namespace qx::message

#endif  // QX_MESSAGE_REPLY_READER_H_
