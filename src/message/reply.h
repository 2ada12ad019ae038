// Reply: the center's reply to one business call, and everything read from it. It owns the reply
// text, the document parsed from it (once, when a reader first needs it, in the DOM's reading
// form) and what the byte search found of the names every call looks for, so that the card
// step's counts, the recordsets and the chained FunctionID all read one parse, and a catalogue
// that holds none of those names is not parsed at all.
//
// A failure of the DOM, or a document that cannot be built for want of memory, is a result; no
// reader lets it pass for a text without the element looked for.
#ifndef QX_MESSAGE_REPLY_H_
#define QX_MESSAGE_REPLY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"
#include "message/element_scan.h"
#include "message/row_store.h"
#include "platform/http_client.h"
#include "platform/xml_document.h"

namespace qx::message {

// What a look for the FunctionID found.
enum class FunctionIdLookup { kFound, kNone, kTooLong, kDomFailure };

// The longest function identifier accepted (it is kept in a 52-byte field); a longer one is
// refused, never cut.
inline constexpr std::size_t kMaxFunctionIdLength = 51;

class Reply final : public platform::HttpSink {
 public:
  // The names every call looks for: the card step's blocks and the chained function.
  static constexpr std::string_view kCallNames[] = {"writeic", "readic", "FunctionID"};

  // text: the reply so far (the transport appends to text(); a buffer handed in keeps its room).
  Reply(platform::XmlFactory& factory, std::string text);
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;

  // The text so far.
  std::string& text() { return text_; }
  // As the reply arrives from the center: room for the length it announces (the room of an
  // earlier reply is kept up to 8 MB; a larger one is handed back first, unless this reply
  // announces more than 8 MB and fits it with no more than as much again to spare), then each piece
  // appended to the text, the names of kCallNames searched while its bytes are still in the
  // cache. Call Arrived afterwards.
  platform::HeadAction OnHead(platform::HttpResponse& response) override;
  Status OnBody(std::string_view piece) override;
  // The whole reply is in: what the search found stands for the text from now on.
  void Arrived();
  // Replaces the text (the reply with the card's values): parsed and searched afresh when read.
  void Replace(std::string text);
  // Gives the text away; the object is then empty.
  std::string Release();

  // The rows of the recordset `folded_name` (already lower case; matched case-sensitively):
  //  - the first element of that name anywhere in the document, in document order, is the
  //    recordset; its child nodes are the rows, whatever their names;
  //  - every child node of a row other than a text node is an item (a comment too, with an
  //    empty value); its value is the value of its first child node, empty when it has none or
  //    when that child is an element;
  //  - a row without items adds no row, so row numbers stay dense.
  // Returns status::kOk (rows cleared, then filled), status::kNoSuchRecordSet (also when the
  // text does not parse; rows untouched) or status::kUnpackFailed (rows hold what was stored
  // before the failure).
  int32_t UnpackRecordSet(std::string_view folded_name, RowStore* rows);

  // The text of the first "FunctionID" element anywhere, as the DOM's text of that element;
  // *function_id is set only when kFound.
  FunctionIdLookup FunctionId(std::string* function_id);

  // The number of elements named `tag` anywhere (0 when the text does not parse), or -1 when the
  // DOM fails or the document cannot be built.
  int32_t CountElements(std::string_view tag);

  // The parsed text for the card run (card/card_run.h), which reads the "readic" and "writeic"
  // blocks from the same parse as every other reader, and fills the card's values into the
  // "readic" block. Null when no document can be had (the DOM failed, or no memory). After a card
  // run the document no longer stands for the text: the caller replaces the text (Replace, with
  // the run's card_xml()) or drops the reply.
  platform::XmlDocument* CardDocument();

 private:
  // Whether the text may hold an element `tag` (MayHoldElement), from what the search found.
  bool MayHold(std::string_view tag);
  // The parsed text; null when it could not be had (then each reader parses for itself).
  platform::XmlDocument* Document();
  // Parses the text afresh for one reader: the document above failed.
  std::unique_ptr<platform::XmlDocument> ParseAlone();

  platform::XmlFactory& factory_;
  std::string text_;
  ElementNamesScan scan_{kCallNames};
  bool names_known_ = false;
  uint32_t names_ = 0;  // bits of kCallNames the text may hold, once known
  std::unique_ptr<platform::XmlDocument> document_;
  bool document_failed_ = false;
};

}  // namespace qx::message

#endif  // QX_MESSAGE_REPLY_H_
