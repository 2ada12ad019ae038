#include "message/request.h"

#include <algorithm>
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

// A block's element with plain text, as the DOM writes it: "<name/>" when it is empty.
void AppendPlainElement(std::string_view name, std::string_view text, std::string* out) {
  out->append("<").append(name);
  if (text.empty()) {
    out->append("/>");
    return;
  }
  out->append(">").append(text).append("</").append(name).append(">");
}

}  // namespace

Request::Request(platform::XmlFactory& factory, std::string text, Assembly assembly)
    : factory_(factory),
      text_(std::move(text)),
      splicing_(assembly == Assembly::kSpliceWherePlain) {}

Request::~Request() = default;

XmlDocument& Request::Document() {
  if (!document_) {
    std::unique_ptr<XmlDocument> doc = factory_.NewDocument();
    doc->LoadXml(text_);  // a text that does not parse leaves an empty document
    document_ = std::move(doc);
  }
  return *document_;
}

const PlainMarkup* Request::Plain() {
  if (!splicing_) return nullptr;
  if (!plain_read_) {
    plain_ = ReadPlainMarkup(text_);
    plain_read_ = true;
  }
  return plain_ ? &*plain_ : nullptr;
}

bool Request::LeaveSplicing() {
  splicing_ = false;
  std::vector<Spliced> spliced = std::move(spliced_);
  spliced_.clear();
  spliced_text_.clear();
  for (const Spliced& block : spliced) {
    if (block.user && !DomInsertUserInfo(*block.user)) return false;
    if (block.login && !DomInsertLoginInfo(*block.login)) return false;
  }
  return true;
}

FunctionIdLookup Request::FunctionId(std::string* function_id) {
  // Blocks spliced in may have become part of the element's text (a FunctionID document
  // element): the document read as the DOM has it answers then.
  if (!spliced_.empty() && !LeaveSplicing()) return FunctionIdLookup::kDomFailure;
  if (const PlainMarkup* plain = Plain()) {
    if (!plain->has_function_id) return FunctionIdLookup::kNone;
    if (plain->function_id.size() > kMaxFunctionIdLength) return FunctionIdLookup::kTooLong;
    function_id->assign(plain->function_id);
    return FunctionIdLookup::kFound;
  }
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
  if (const PlainMarkup* plain = Plain()) {
    const bool first = std::none_of(spliced_.begin(), spliced_.end(),
                                    [](const Spliced& block) { return block.user.has_value(); });
    if (first && !plain->has_user_info && IsPlainText(user.center_id) &&
        IsPlainText(user.staff_id) && IsPlainText(user.staff_name)) {
      spliced_text_.append("<user_info><row1>");
      AppendPlainElement("center_id", user.center_id, &spliced_text_);
      AppendPlainElement("staff_id", user.staff_id, &spliced_text_);
      AppendPlainElement("staff_name", user.staff_name, &spliced_text_);
      spliced_text_.append("</row1></user_info>");
      spliced_.push_back({user, std::nullopt});
      return true;
    }
  }
  if (splicing_ && !LeaveSplicing()) return false;
  return DomInsertUserInfo(user);
}

bool Request::DomInsertUserInfo(const UserInfo& user) {
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
  if (const PlainMarkup* plain = Plain()) {
    const bool first = std::none_of(spliced_.begin(), spliced_.end(),
                                    [](const Spliced& block) { return block.login.has_value(); });
    if (first && !plain->has_addition_xml && IsPlainText(login_info)) {
      spliced_text_.append("<addition-xml><row1>");
      AppendPlainElement("add1", login_info, &spliced_text_);
      spliced_text_.append("</row1></addition-xml>");
      spliced_.push_back({std::nullopt, std::string(login_info)});
      return true;
    }
  }
  if (splicing_ && !LeaveSplicing()) return false;
  return DomInsertLoginInfo(login_info);
}

bool Request::DomInsertLoginInfo(std::string_view login_info) {
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
  if (!spliced_.empty()) {
    std::string completed;
    completed.reserve(text_.size() + spliced_text_.size());
    completed.append(text_, 0, plain_->root_close).append(spliced_text_);
    completed.append(text_, plain_->root_close);
    return completed;
  }
  if (!changed_) return text_;
  try {
    return document_->Xml(document_->DocumentElement());
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace qx::message
