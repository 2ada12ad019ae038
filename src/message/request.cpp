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
  const std::vector<SplicedBlock> spliced = std::move(spliced_);
  spliced_.clear();
  spliced_text_.clear();
  for (const SplicedBlock& block : spliced) {
    std::vector<Item> items;
    for (const auto& [name, value] : block.items) items.push_back({name, value});
    if (!DomInsertBlock(block.name, items)) return false;
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
  const Item items[] = {
      {"center_id", user.center_id}, {"staff_id", user.staff_id}, {"staff_name", user.staff_name}};
  return InsertBlock("user_info", items);
}

bool Request::InsertLoginInfo(std::string_view login_info) {
  const Item items[] = {{"add1", login_info}};
  return InsertBlock("addition-xml", items);
}

bool Request::InsertBlock(std::string_view block_name, std::span<const Item> items) {
  // Spliced only where the DOM would have nothing to take out: no element of that name stands in
  // the text, and none was spliced in before.
  if (Plain() != nullptr && !MayHoldElement(text_, block_name) &&
      std::none_of(spliced_.begin(), spliced_.end(),
                   [&](const SplicedBlock& block) { return block.name == block_name; }) &&
      std::all_of(items.begin(), items.end(),
                  [](const Item& item) { return IsPlainText(item.value); })) {
    SplicedBlock block{block_name, {}};
    spliced_text_.append("<").append(block_name).append("><row1>");
    for (const Item& item : items) {
      AppendPlainElement(item.name, item.value, &spliced_text_);
      block.items.emplace_back(item.name, std::string(item.value));
    }
    spliced_text_.append("</row1></").append(block_name).append(">");
    spliced_.push_back(std::move(block));
    return true;
  }
  if (splicing_ && !LeaveSplicing()) return false;
  return DomInsertBlock(block_name, items);
}

bool Request::DomInsertBlock(std::string_view block_name, std::span<const Item> items) {
  XmlNode block;
  if (!ReplaceBlock(block_name, &block)) return false;
  try {
    XmlDocument& doc = Document();
    XmlNode row = doc.CreateElement("row1");
    for (const Item& item : items) AppendTextElement(doc, row, item.name, item.value);
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
