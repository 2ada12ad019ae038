#include "message/reply.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <exception>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "base/status_codes.h"

namespace qx::message {

using platform::XmlDocument;
using platform::XmlNode;

namespace {

int32_t UnpackFrom(XmlDocument& doc, std::string_view folded_name, RowStore* rows) {
  std::vector<XmlNode> found = doc.ElementsByTagName(folded_name);
  if (found.empty()) return status::kNoSuchRecordSet;
  std::vector<XmlNode> row_nodes = doc.ChildNodes(found.front());
  rows->Clear();
  for (XmlNode row_node : row_nodes) {
    const int32_t number = rows->row_count() + 1;
    for (XmlNode item : doc.ChildNodes(row_node)) {
      std::string name = doc.NodeName(item);
      if (name == "#text") continue;
      std::string value;
      std::vector<XmlNode> content = doc.ChildNodes(item);
      if (!content.empty()) value = doc.NodeValue(content.front()).value_or(std::string());
      rows->AddItem(number, name, value);
    }
  }
  return status::kOk;
}

FunctionIdLookup FunctionIdFrom(XmlDocument& doc, std::string* function_id) {
  std::vector<XmlNode> found = doc.ElementsByTagName("FunctionID");
  if (found.empty()) return FunctionIdLookup::kNone;
  std::string text = doc.Text(found.front());
  if (text.size() > kMaxFunctionIdLength) return FunctionIdLookup::kTooLong;
  *function_id = std::move(text);
  return FunctionIdLookup::kFound;
}

}  // namespace

Reply::Reply(platform::XmlFactory& factory, std::string text)
    : factory_(factory), text_(std::move(text)) {}

platform::HeadAction Reply::OnHead(platform::HttpResponse& response) {
  // Room for the body the center announces, so that a catalogue of 50 MB is written once instead
  // of being copied at each doubling of the text (and the copies left behind). Only a hint: an
  // implausible length (over kMaxReserve) reserves nothing, and a body that turns out longer or
  // shorter is read as it comes.
  constexpr std::uint64_t kMaxReserve = std::uint64_t{256} << 20;
  // The room of an earlier reply is kept for the next one up to kKeptBytes. A larger one goes
  // back to the system, unless the reply now announced needs more than kKeptBytes itself and
  // fits the room with at most as much again to spare: the room then holds what a fresh one
  // would, and its pages are not taken afresh (bench/RESULTS.md has what that saves).
  constexpr std::size_t kKeptBytes = std::size_t{8} << 20;
  const std::optional<std::string> length = response.Header("Content-Length");
  std::uint64_t value = 0;
  const bool announced =
      length &&
      std::from_chars(length->data(), length->data() + length->size(), value).ec == std::errc() &&
      value <= kMaxReserve;
  const bool room_fits = announced && value > kKeptBytes && value <= text_.capacity() &&
                         text_.capacity() - value <= value;
  if (text_.empty() && text_.capacity() > kKeptBytes && !room_fits) std::string().swap(text_);
  if (announced) {
    try {
      text_.reserve(text_.size() + static_cast<std::size_t>(value));
    } catch (const std::exception&) {
      // No room ahead of time: the body is taken piece by piece all the same.
    }
  }
  return platform::HeadAction::kBody;
}

Status Reply::OnBody(std::string_view piece) {
  const std::size_t from = text_.size();
  text_.append(piece);
  scan_.Feed(text_, from);
  return Status::Ok();
}

void Reply::Arrived() {
  names_ = scan_.seen();
  names_known_ = true;
}

void Reply::Replace(std::string text) {
  text_ = std::move(text);
  document_.reset();
  document_failed_ = false;
  names_known_ = false;
}

std::string Reply::Release() {
  std::string text = std::move(text_);
  Replace(std::string());
  return text;
}

bool Reply::MayHold(std::string_view tag) {
  const auto known = std::find(std::begin(kCallNames), std::end(kCallNames), tag);
  if (known == std::end(kCallNames)) return MayHoldElement(text_, tag);
  if (!names_known_) {
    // Known from the exchange normally; the card's text is searched here.
    names_ = MayHoldElements(text_, kCallNames);
    names_known_ = true;
  }
  return (names_ >> (known - std::begin(kCallNames)) & 1u) != 0;
}

XmlDocument* Reply::Document() {
  if (document_failed_) return nullptr;
  if (!document_) {
    try {
      std::unique_ptr<XmlDocument> doc = factory_.NewDocument();
      // Only read, stored compactly where the DOM can; unless the card's values are to be
      // filled in ("readic"), which needs the form that can be changed. A text that does not
      // parse leaves an empty document.
      if (MayHold("readic")) {
        doc->LoadXml(text_);
      } else {
        doc->LoadXmlForReading(text_);
      }
      document_ = std::move(doc);
    } catch (...) {
      document_failed_ = true;  // each reader then parses for itself, and meets the failure there
      return nullptr;
    }
  }
  return document_.get();
}

std::unique_ptr<XmlDocument> Reply::ParseAlone() {
  std::unique_ptr<XmlDocument> doc = factory_.NewDocument();
  doc->LoadXml(text_);
  return doc;
}

XmlDocument* Reply::CardDocument() {
  if (XmlDocument* doc = Document()) return doc;
  try {
    // The shared parse failed: one of its own, as each reader makes then, kept for the others.
    document_ = ParseAlone();
    document_failed_ = false;
    return document_.get();
  } catch (...) {
    return nullptr;
  }
}

int32_t Reply::UnpackRecordSet(std::string_view folded_name, RowStore* rows) {
  try {
    if (XmlDocument* doc = Document()) return UnpackFrom(*doc, folded_name, rows);
    return UnpackFrom(*ParseAlone(), folded_name, rows);
  } catch (...) {
    return status::kUnpackFailed;
  }
}

FunctionIdLookup Reply::FunctionId(std::string* function_id) {
  if (!MayHold("FunctionID")) return FunctionIdLookup::kNone;  // as the DOM would find
  try {
    if (XmlDocument* doc = Document()) return FunctionIdFrom(*doc, function_id);
    return FunctionIdFrom(*ParseAlone(), function_id);
  } catch (...) {
    return FunctionIdLookup::kDomFailure;
  }
}

int32_t Reply::CountElements(std::string_view tag) {
  if (!MayHold(tag)) return 0;
  try {
    if (XmlDocument* doc = Document()) {
      return static_cast<int32_t>(doc->ElementsByTagName(tag).size());
    }
    return static_cast<int32_t>(ParseAlone()->ElementsByTagName(tag).size());
  } catch (...) {
    return -1;  // DomError, or no memory for the document
  }
}

}  // namespace qx::message
