// Completing a request before it goes to the center: the user information block ("user_info")
// and the login information block ("addition-xml"), each one recordset with one row "row1",
// appended as the last child of the document element after every earlier element of the same
// name has been taken out. Neither function throws.
#ifndef QX_MESSAGE_REQUEST_ASSEMBLY_H_
#define QX_MESSAGE_REQUEST_ASSEMBLY_H_

#include <optional>
#include <string>
#include <string_view>

#include "platform/xml_document.h"

namespace qx::message {

struct UserInfo {
  std::string center_id;
  std::string staff_id;
  std::string staff_name;
};

// With an empty center id: `xml` unchanged, byte for byte, without parsing it. Otherwise the
// document element of `xml` serialised (no declaration) with
// <user_info><row1><center_id/><staff_id/><staff_name/></row1></user_info> appended.
// nullopt when that cannot be done: the text does not parse, or a "user_info" element is not a
// direct child of the document element (the document element itself included).
std::optional<std::string> InsertUserInfo(platform::XmlFactory& factory, std::string_view xml,
                                          const UserInfo& user);

// The document element of `xml` serialised with <addition-xml><row1><add1/></row1></addition-xml>
// appended, add1 holding login_info (no content when it is empty). nullopt as above, for
// "addition-xml" elements.
std::optional<std::string> InsertLoginInfo(platform::XmlFactory& factory, std::string_view xml,
                                           std::string_view login_info);

}  // namespace qx::message

#endif  // QX_MESSAGE_REQUEST_ASSEMBLY_H_
