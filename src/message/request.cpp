#include "message/request.h"

#include <utility>
#include <vector>

namespace qx::message {

using platform::DomError;
using platform::XmlDocument;
using platform::XmlNode;

namespace {

void AppendTextElement(XmlDocument& doc, XmlNode parent, std::string_view name,
                       std::string_view text) {
  XmlNode element = doc.CreateElement(name);
  doc.SetText(element, text);
  doc.AppendChild(parent, element);
}

}  // namespace

Request::Request(platform::XmlFactory& factory, std::string text)
    : factory_(factory), text_(std::move(text)) {}

Request::~Request() = default;

XmlDocument& Request::Document() {
  if (!document_) {
    std::unique_ptr<XmlDocument> doc = factory_.NewDocument();
    doc->LoadXml(text_);  // a text that does not parse leaves an empty document
    document_ = std::move(doc);
  }
  return *document_;
}

FunctionIdLookup Request::FunctionId(std::string* function_id) {
  if (!MayHoldElement(text_, "FunctionID")) return FunctionIdLookup::kNone;
  try {
    std::vector<XmlNode> found = Document().ElementsByTagName("FunctionID");
    if (found.empty()) return FunctionIdLookup::kNone;
    std::string text = Document().Text(found.front());
    if (text.size() > kMaxFunctionIdLength) return FunctionIdLookup::kTooLong;
    *function_id = std::move(text);
    return FunctionIdLookup::kFound;
  } catch (...) {
    return FunctionIdLookup::kDomFailure;
  }
}

// Takes out every element named block_name (last first; each must be a child of the document
// element) and appends a new, empty one as *block.
bool Request::ReplaceBlock(std::string_view block_name, XmlNode* block) {
  try {
    XmlDocument& doc = Document();
    XmlNode root = doc.DocumentElement();
    if (!root) return false;  // the text did not parse
    changed_ = true;          // from here on the text as given no longer stands
    std::vector<XmlNode> old_blocks = doc.ElementsByTagName(block_name);
    for (auto it = old_blocks.rbegin(); it != old_blocks.rend(); ++it) doc.RemoveChild(root, *it);
    *block = doc.CreateElement(block_name);
    doc.AppendChild(root, *block);
    return true;
  } catch (...) {
    return false;
  }
}

bool Request::InsertUserInfo(const UserInfo& user) {
  if (user.center_id.empty()) return true;
  XmlNode block;
  if (!ReplaceBlock("user_info", &block)) return false;
  try {
    XmlDocument& doc = Document();
    XmlNode row = doc.CreateElement("row1");
    AppendTextElement(doc, row, "center_id", user.center_id);
    AppendTextElement(doc, row, "staff_id", user.staff_id);
    AppendTextElement(doc, row, "staff_name", user.staff_name);
    doc.AppendChild(block, row);
    return true;
  } catch (...) {
    return false;
  }
}

bool Request::InsertLoginInfo(std::string_view login_info) {
  XmlNode block;
  if (!ReplaceBlock("addition-xml", &block)) return false;
  try {
    XmlDocument& doc = Document();
    XmlNode row = doc.CreateElement("row1");
    AppendTextElement(doc, row, "add1", login_info);
    doc.AppendChild(block, row);
    return true;
  } catch (...) {
    return false;
  }
}

std::optional<std::string> Request::Completed() {
  if (!changed_) return text_;
  try {
    return document_->Xml(document_->DocumentElement());
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace qx::message
