#include "message/plain_markup.h"

#include <vector>

#include "base/gbk_text.h"

namespace qx::message {
namespace {

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

bool IsTextByte(char c) { return c >= 0x20 && c <= 0x7E && c != '&' && c != '<' && c != '>'; }

}  // namespace

bool IsPlainText(std::string_view value) {
  if (value.empty()) return true;
  if (value.front() == ' ' || value.back() == ' ') return false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto b = static_cast<unsigned char>(value[i]);
    if (IsGbkLead(b)) {
      // A whole GBK character: through UTF-8 and back it is the same two bytes.
      if (i + 1 >= value.size() || !IsGbkTrail(static_cast<unsigned char>(value[i + 1]))) {
        return false;
      }
      ++i;
    } else if (!IsTextByte(value[i])) {
      return false;
    }
  }
  return true;
}

std::optional<PlainMarkup> ReadPlainMarkup(std::string_view text) {
  PlainMarkup shape;
  std::vector<std::string_view> open;  // the names of the elements not yet closed
  open.reserve(16);
  bool in_function_id = false;  // inside the first FunctionID
  bool just_opened = false;     // the last thing read was an opening tag
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '<') {
      if (open.empty()) return std::nullopt;  // text outside the element
      const std::size_t start = i;
      while (i < text.size() && text[i] != '<') ++i;
      const std::string_view run = text.substr(start, i - start);
      if (!IsPlainText(run)) return std::nullopt;
      if (in_function_id) {
        for (char c : run) {
          if (c == ' ' || static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
        }
        shape.function_id = run;
      }
      just_opened = false;
      continue;
    }
    const bool closing = i + 1 < text.size() && text[i + 1] == '/';
    const std::size_t name_start = i + (closing ? 2 : 1);
    std::size_t end = name_start;
    if (end >= text.size() || !IsNameStart(text[end])) return std::nullopt;
    while (end < text.size() && IsNameByte(text[end])) ++end;
    const std::string_view name = text.substr(name_start, end - name_start);
    if (closing) {
      if (end >= text.size() || text[end] != '>' || open.empty() || open.back() != name) {
        return std::nullopt;
      }
      if (just_opened) return std::nullopt;  // "<name></name>": the DOM writes "<name/>"
      just_opened = false;
      in_function_id = false;
      open.pop_back();
      if (open.empty()) {
        shape.root_close = i;
        if (end + 1 != text.size()) return std::nullopt;  // something after the element
        return shape;
      }
      i = end + 1;
      continue;
    }
    const bool empty = end < text.size() && text[end] == '/';
    const std::size_t close = empty ? end + 1 : end;
    if (close >= text.size() || text[close] != '>') return std::nullopt;
    if (open.empty() && (i != 0 || empty)) return std::nullopt;  // a second element, or <root/>
    if (in_function_id) return std::nullopt;                     // an element inside FunctionID
    if (name == "FunctionID" && !shape.has_function_id) {
      shape.has_function_id = true;
      in_function_id = !empty;
    }
    if (!empty) open.push_back(name);
    just_opened = !empty;
    i = close + 1;
  }
  return std::nullopt;  // an element left open
}

}  // namespace qx::message
