// Request: the host's request for one business call, parsed once (when first needed) for its
// FunctionID and for completing it before it goes to the center: the user information block
// ("user_info") and the login information block ("addition-xml"), each one recordset with one
// row "row1", appended as the last child of the document element after every earlier element of
// the same name has been taken out. No member throws except std::bad_alloc.
#ifndef QX_MESSAGE_REQUEST_H_
#define QX_MESSAGE_REQUEST_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

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
  Request(platform::XmlFactory& factory, std::string text);
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
  // The parsed text (LoadXml); throws what the DOM throws.
  platform::XmlDocument& Document();
  bool ReplaceBlock(std::string_view block_name, platform::XmlNode* block);

  platform::XmlFactory& factory_;
  std::string text_;
  std::unique_ptr<platform::XmlDocument> document_;
  bool changed_ = false;
};

}  // namespace qx::message

#endif  // QX_MESSAGE_REQUEST_H_
