// Passwords out of texts that are written down (the diagnostic log, qxcall's trace): the
// content of every element whose name holds "password", "passwd" or "pwd" (ASCII, any case)
// becomes "***". Header-only, so that qxcall, which links nothing of the library's, masks
// exactly as the library does.
#ifndef QX_BASE_PASSWORD_MASK_H_
#define QX_BASE_PASSWORD_MASK_H_

#include <algorithm>
#include <string>
#include <string_view>

namespace qx {

inline bool NamesPassword(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lower.find("password") != std::string::npos || lower.find("passwd") != std::string::npos ||
         lower.find("pwd") != std::string::npos;
}

inline std::string MaskPasswords(std::string_view xml) {
  std::string out;
  out.reserve(xml.size());
  std::size_t i = 0;
  while (i < xml.size()) {
    const std::size_t open = xml.find('<', i);
    if (open == std::string_view::npos) break;
    const std::size_t close = xml.find('>', open);
    if (close == std::string_view::npos) break;
    out.append(xml.substr(i, close + 1 - i));
    i = close + 1;
    std::string_view tag = xml.substr(open + 1, close - open - 1);
    if (tag.empty() || tag.front() == '/' || tag.front() == '?' || tag.front() == '!' ||
        tag.back() == '/') {
      continue;
    }
    tag = tag.substr(0, tag.find_first_of(" \t\r\n"));
    if (!NamesPassword(tag)) continue;
    const std::size_t next = xml.find('<', i);
    if (next != i) out += "***";
    i = next == std::string_view::npos ? xml.size() : next;
  }
  out.append(xml.substr(std::min(i, xml.size())));
  return out;
}

}  // namespace qx

#endif  // QX_BASE_PASSWORD_MASK_H_
