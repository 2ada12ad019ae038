// Request: the host's request for one business call, parsed once (when first needed) for its
// FunctionID and for completing it before it goes to the center: the user information block
// ("user_info") and the login information block ("addition-xml"), each one recordset with one
// row "row1", appended as the last child of the document element after every earlier element of
// the same name has been taken out. No member throws except std::bad_alloc.
//
// A request of plain markup (message/plain_markup.h), which the DOM would write back byte for
// byte, is not parsed at all: its FunctionID is read from the text, and blocks whose values are
// plain text are spliced in before the document element's closing tag, exactly as the DOM would
// write them. As soon as a block cannot be (a value with GBK or markup characters, a block of that
// name already there), the text is parsed and every block goes through the DOM, the spliced ones
// first, in the order they were added.
#ifndef QX_MESSAGE_REQUEST_H_
#define QX_MESSAGE_REQUEST_H_

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "message/plain_markup.h"
#include "message/reply.h"
#include "platform/xml_document.h"

namespace qx::message {

struct UserInfo {
  std::string center_id;
  std::string staff_id;
  std::string staff_name;
};

class Request {
 public:
  // kDomOnly parses every request and adds every block through the DOM (for comparison).
  enum class Assembly { kSpliceWherePlain, kDomOnly };

  Request(platform::XmlFactory& factory, std::string text,
          Assembly assembly = Assembly::kSpliceWherePlain);
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request();

  // The text of the first "FunctionID" element anywhere, as Reply::FunctionId reads it. A text
  // that does not parse has none.
  FunctionIdLookup FunctionId(std::string* function_id);

  // Appends <user_info><row1><center_id/><staff_id/><staff_name/></row1></user_info>. With an
  // empty center id nothing changes, and the text is not parsed for it. False when it cannot be
  // done: the text does not parse, or a "user_info" element is not a direct child of the
  // document element (the document element itself included); the request is then unusable.
  bool InsertUserInfo(const UserInfo& user);

  // Appends <addition-xml><row1><add1/></row1></addition-xml>, add1 holding login_info (no
  // content when it is empty). False as above, for "addition-xml" elements.
  bool InsertLoginInfo(std::string_view login_info);

  // The request as it goes to the center: the text as given, byte for byte, when nothing was
  // inserted; else the document element serialised (no declaration). nullopt when that fails.
  std::optional<std::string> Completed();

 private:
  // One item of a block's row: <name>value</name>.
  struct Item {
    std::string_view name;
    std::string_view value;
  };
  // A block spliced in as text, kept to be added through the DOM instead if a later one must be.
  struct SplicedBlock {
    std::string_view name;
    std::vector<std::pair<std::string_view, std::string>> items;
  };

  // The parsed text (LoadXml); throws what the DOM throws.
  platform::XmlDocument& Document();
  // Appends <block_name><row1>items</row1></block_name>, spliced where the request and the
  // values are plain, else through the DOM.
  bool InsertBlock(std::string_view block_name, std::span<const Item> items);
  bool DomInsertBlock(std::string_view block_name, std::span<const Item> items);
  bool ReplaceBlock(std::string_view block_name, platform::XmlNode* block);
  // The text's shape when it is plain markup and splicing is still possible; null otherwise.
  const PlainMarkup* Plain();
  // From now on every block goes through the DOM; the spliced ones are added there first.
  bool LeaveSplicing();

  platform::XmlFactory& factory_;
  std::string text_;
  std::unique_ptr<platform::XmlDocument> document_;
  bool changed_ = false;

  bool splicing_;  // blocks may still be spliced in as text
  bool plain_read_ = false;
  std::optional<PlainMarkup> plain_;
  std::vector<SplicedBlock> spliced_;  // in the order they were added
  std::string spliced_text_;
};

}  // namespace qx::message

#endif  // QX_MESSAGE_REQUEST_H_
