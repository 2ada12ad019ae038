#include "message/reply_reader.h"

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace qx::message {

using platform::XmlDocument;
using platform::XmlNode;

int32_t UnpackRecordSet(XmlDocument& doc, std::string_view folded_name, RowStore* rows) {
  try {
    std::vector<XmlNode> found = doc.ElementsByTagName(folded_name);
    if (found.empty()) return kNoRecordSet;
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
    return kUnpacked;
  } catch (...) {
    return kDomFailure;
  }
}

int32_t UnpackRecordSet(platform::XmlFactory& factory, std::string_view reply,
                        std::string_view folded_name, RowStore* rows) {
  try {
    std::unique_ptr<XmlDocument> doc = factory.NewDocument();
    doc->LoadXml(reply);  // a text that does not parse has no recordset: found below
    return UnpackRecordSet(*doc, folded_name, rows);
  } catch (...) {
    return kDomFailure;
  }
}

int32_t ExtractFunctionId(XmlDocument& doc, std::string* function_id) {
  try {
    std::vector<XmlNode> found = doc.ElementsByTagName("FunctionID");
    if (found.empty()) return kNoFunctionId;
    std::string text = doc.Text(found.front());
    if (text.size() > kMaxFunctionIdLength) return kFunctionIdTooLong;
    *function_id = std::move(text);
    return kFunctionIdFound;
  } catch (...) {
    return kDomFailure;
  }
}

int32_t ExtractFunctionId(platform::XmlFactory& factory, std::string_view xml,
                          std::string* function_id) {
  try {
    std::unique_ptr<XmlDocument> doc = factory.NewDocument();
    doc->LoadXml(xml);
    return ExtractFunctionId(*doc, function_id);
  } catch (...) {
    return kDomFailure;
  }
}

int32_t CountElements(XmlDocument& doc, std::string_view tag) {
  try {
    return static_cast<int32_t>(doc.ElementsByTagName(tag).size());
  } catch (...) {
    return -1;
  }
}

int32_t CountElements(platform::XmlFactory& factory, std::string_view xml, std::string_view tag) {
  try {
    std::unique_ptr<XmlDocument> doc = factory.NewDocument();
    doc->LoadXml(xml);
    return CountElements(*doc, tag);
  } catch (...) {
    return -1;
  }
}

bool MayHoldElement(std::string_view text, std::string_view name) {
  std::string needle = "<";
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  needle.append(name);
#if defined(__GLIBC__)
  // glibc's memmem skips ahead on pairs of bytes: about four times as fast as a search from
  // every '<' of a reply made of short elements.
  return memmem(text.data(), text.size(), needle.data(), needle.size()) != nullptr;
#else
  return text.find(needle) != std::string_view::npos;
#endif
}

}  // namespace qx::message
