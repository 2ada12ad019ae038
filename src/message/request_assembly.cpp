#include "message/request_assembly.h"

#include <memory>
#include <utility>
#include <vector>

namespace qx::message {

using platform::DomError;
using platform::XmlDocument;
using platform::XmlNode;

namespace {

// Loads xml, takes out every element named block_name (last first; each must be a child of
// the document element) and appends a new, empty one. Returns the new block element.
XmlNode ReplaceBlock(XmlDocument& doc, std::string_view xml, std::string_view block_name) {
  doc.LoadXml(xml);  // a text that does not parse has no document element: fails below
  XmlNode root = doc.DocumentElement();
  if (!root) throw DomError("the request has no document element");
  std::vector<XmlNode> old_blocks = doc.ElementsByTagName(block_name);
  for (auto it = old_blocks.rbegin(); it != old_blocks.rend(); ++it) doc.RemoveChild(root, *it);
  XmlNode block = doc.CreateElement(block_name);
  doc.AppendChild(root, block);
  return block;
}

void AppendTextElement(XmlDocument& doc, XmlNode parent, std::string_view name,
                       std::string_view text) {
  XmlNode element = doc.CreateElement(name);
  doc.SetText(element, text);
  doc.AppendChild(parent, element);
}

}  // namespace

std::optional<std::string> InsertUserInfo(platform::XmlFactory& factory, std::string_view xml,
                                          const UserInfo& user) {
  if (user.center_id.empty()) return std::string(xml);
  try {
    std::unique_ptr<XmlDocument> doc = factory.NewDocument();
    XmlNode block = ReplaceBlock(*doc, xml, "user_info");
    XmlNode row = doc->CreateElement("row1");
    AppendTextElement(*doc, row, "center_id", user.center_id);
    AppendTextElement(*doc, row, "staff_id", user.staff_id);
    AppendTextElement(*doc, row, "staff_name", user.staff_name);
    doc->AppendChild(block, row);
    return doc->Xml(doc->DocumentElement());
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> InsertLoginInfo(platform::XmlFactory& factory, std::string_view xml,
                                           std::string_view login_info) {
  try {
    std::unique_ptr<XmlDocument> doc = factory.NewDocument();
    XmlNode block = ReplaceBlock(*doc, xml, "addition-xml");
    XmlNode row = doc->CreateElement("row1");
    AppendTextElement(*doc, row, "add1", login_info);
    doc->AppendChild(block, row);
    return doc->Xml(doc->DocumentElement());
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace qx::message
