#include "pretty_reply.h"

#include <cstdint>
#include <vector>

namespace qxcall {
namespace {

// Deeper documents are refused rather than recursed into.
constexpr int kMaxDepth = 200;

struct Element {
  std::string name;
  std::string text;
  std::vector<Element> children;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-' || c == '.' || c == ':';
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// A small non-validating reader of the message XML: elements, attributes (read and dropped),
// text with the five named and the numeric character references, CDATA, comments, processing
// instructions and a DOCTYPE without an internal subset.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}

  bool Document(Element* root) {
    if (in_.substr(0, 3) == "\xEF\xBB\xBF") {
      pos_ = 3;
    }
    if (!Misc(true)) {
      return false;
    }
    if (pos_ >= in_.size() || in_[pos_] != '<') {
      return Fail(pos_ >= in_.size() ? "no root element" : "text before the root element");
    }
    if (!ReadElement(root, 1) || !Misc(false)) {
      return false;
    }
    if (pos_ < in_.size()) {
      return Fail("content after the root element");
    }
    return true;
  }

  const std::string& reason() const { return reason_; }

 private:
  bool Fail(const std::string& what) {
    if (reason_.empty()) {
      size_t line = 1;
      size_t column = 1;
      for (size_t i = 0; i < pos_ && i < in_.size(); ++i) {
        if (in_[i] == '\n') {
          ++line;
          column = 1;
        } else if ((static_cast<unsigned char>(in_[i]) & 0xC0) != 0x80) {
          ++column;
        }
      }
      reason_ = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
    }
    return false;
  }

  bool StartsWith(std::string_view s) const { return in_.substr(pos_, s.size()) == s; }

  void SkipBlanks() {
    while (pos_ < in_.size() && IsBlank(in_[pos_])) {
      ++pos_;
    }
  }

  // Skips up to and past terminator; false when the input ends first.
  bool SkipPast(std::string_view terminator, const char* what) {
    size_t end = in_.find(terminator, pos_);
    if (end == std::string_view::npos) {
      return Fail(std::string("unterminated ") + what);
    }
    pos_ = end + terminator.size();
    return true;
  }

  // Blanks, comments and processing instructions around the root element (and a DOCTYPE before
  // it).
  bool Misc(bool prolog) {
    for (;;) {
      SkipBlanks();
      if (StartsWith("<?")) {
        if (!SkipPast("?>", "processing instruction")) {
          return false;
        }
      } else if (StartsWith("<!--")) {
        if (!SkipPast("-->", "comment")) {
          return false;
        }
      } else if (prolog && StartsWith("<!DOCTYPE")) {
        if (in_.find('[', pos_) < in_.find('>', pos_)) {
          return Fail("a DOCTYPE with an internal subset is not read");
        }
        if (!SkipPast(">", "DOCTYPE")) {
          return false;
        }
      } else {
        return true;
      }
    }
  }

  bool ReadName(std::string* name) {
    size_t start = pos_;
    while (pos_ < in_.size() && IsNameChar(in_[pos_])) {
      ++pos_;
    }
    if (pos_ == start) {
      return Fail("expected a name");
    }
    name->assign(in_.substr(start, pos_ - start));
    return true;
  }

  bool ReadReference(std::string* out) {
    size_t end = in_.find(';', pos_);
    if (end == std::string_view::npos || end - pos_ > 12) {
      return Fail("'&' that starts no reference");
    }
    std::string_view ref = in_.substr(pos_ + 1, end - pos_ - 1);
    if (ref == "lt") {
      out->push_back('<');
    } else if (ref == "gt") {
      out->push_back('>');
    } else if (ref == "amp") {
      out->push_back('&');
    } else if (ref == "quot") {
      out->push_back('"');
    } else if (ref == "apos") {
      out->push_back('\'');
    } else if (ref.size() > 1 && ref[0] == '#') {
      bool hex = ref[1] == 'x';
      std::string_view digits = ref.substr(hex ? 2 : 1);
      std::uint32_t cp = 0;
      for (char c : digits) {
        int d = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
        if (d < 0) {
          return Fail("bad character reference &" + std::string(ref) + ";");
        }
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      }
      if (digits.empty() || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return Fail("bad character reference &" + std::string(ref) + ";");
      }
      AppendUtf8(cp, out);
    } else {
      return Fail("unknown entity &" + std::string(ref) + ";");
    }
    pos_ = end + 1;
    return true;
  }

  bool ReadAttributes() {
    for (;;) {
      size_t before = pos_;
      SkipBlanks();
      if (pos_ >= in_.size() || in_[pos_] == '>' || in_[pos_] == '/') {
        return true;
      }
      if (pos_ == before) {
        return Fail("expected a blank before an attribute");
      }
      std::string name;
      if (!ReadName(&name)) {
        return false;
      }
      SkipBlanks();
      if (pos_ >= in_.size() || in_[pos_] != '=') {
        return Fail("expected '=' after attribute " + name);
      }
      ++pos_;
      SkipBlanks();
      if (pos_ >= in_.size() || (in_[pos_] != '"' && in_[pos_] != '\'')) {
        return Fail("expected a quoted value of attribute " + name);
      }
      char quote = in_[pos_++];
      size_t end = in_.find(quote, pos_);
      if (end == std::string_view::npos) {
        return Fail("unterminated value of attribute " + name);
      }
      if (in_.substr(pos_, end - pos_).find('<') != std::string_view::npos) {
        return Fail("'<' in the value of attribute " + name);
      }
      pos_ = end + 1;
    }
  }

  bool ReadElement(Element* element, int depth) {
    if (depth > kMaxDepth) {
      return Fail("elements nested deeper than " + std::to_string(kMaxDepth));
    }
    ++pos_;  // '<'
    if (!ReadName(&element->name) || !ReadAttributes()) {
      return false;
    }
    if (StartsWith("/>")) {
      pos_ += 2;
      return true;
    }
    if (!StartsWith(">")) {
      return Fail(pos_ >= in_.size() ? "the input ends inside <" + element->name + ">"
                                     : "expected '>' in <" + element->name + ">");
    }
    ++pos_;
    for (;;) {
      if (pos_ >= in_.size()) {
        return Fail("<" + element->name + "> is not closed");
      }
      char c = in_[pos_];
      if (c == '&') {
        if (!ReadReference(&element->text)) {
          return false;
        }
      } else if (c != '<') {
        element->text.push_back(c);
        ++pos_;
      } else if (StartsWith("</")) {
        pos_ += 2;
        std::string name;
        if (!ReadName(&name)) {
          return false;
        }
        if (name != element->name) {
          return Fail("</" + name + "> closes <" + element->name + ">");
        }
        SkipBlanks();
        if (!StartsWith(">")) {
          return Fail("expected '>' in </" + name + ">");
        }
        ++pos_;
        return true;
      } else if (StartsWith("<!--")) {
        if (!SkipPast("-->", "comment")) {
          return false;
        }
      } else if (StartsWith("<![CDATA[")) {
        size_t start = pos_ + 9;
        if (!SkipPast("]]>", "CDATA section")) {
          return false;
        }
        element->text.append(in_.substr(start, pos_ - 3 - start));
      } else if (StartsWith("<?")) {
        if (!SkipPast("?>", "processing instruction")) {
          return false;
        }
      } else {
        element->children.emplace_back();
        if (!ReadElement(&element->children.back(), depth + 1)) {
          return false;
        }
      }
    }
  }

  std::string_view in_;
  size_t pos_ = 0;
  std::string reason_;
};

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlank(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

// One value on one line.
std::string Escaped(const std::string& value, bool quote_if_needed) {
  std::string out;
  bool quote = false;
  for (char c : value) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      quote = quote || c == ' ' || c == '"';
      out.push_back(c);
    }
  }
  if (quote_if_needed && (quote || out.empty())) {
    return '"' + out + '"';
  }
  return out;
}

bool IsLeaf(const Element& e) { return e.children.empty(); }

bool IsRowName(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "row") != 0) {
    return false;
  }
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') {
      return false;
    }
  }
  return true;
}

void Render(const Element& e, int depth, bool root, std::string* out) {
  out->append(static_cast<size_t>(depth) * 2, ' ');
  out->append(e.name);
  if (IsLeaf(e)) {
    std::string text = Escaped(Trimmed(e.text), false);
    if (!text.empty()) {
      *out += ": " + text;
    } else if (!root) {
      *out += ":";
    }
    out->push_back('\n');
    return;
  }
  bool flat = !root;
  bool rows = true;
  for (const Element& child : e.children) {
    flat = flat && IsLeaf(child);
    rows = rows && IsRowName(child.name);
  }
  if (flat) {
    out->push_back(':');
    for (const Element& child : e.children) {
      *out += ' ' + child.name + '=' + Escaped(Trimmed(child.text), true);
    }
    out->push_back('\n');
    return;
  }
  if (rows && !root) {
    size_t n = e.children.size();
    *out += " (" + std::to_string(n) + (n == 1 ? " row)" : " rows)");
  }
  out->push_back('\n');
  for (const Element& child : e.children) {
    Render(child, depth + 1, false, out);
  }
}

}  // namespace

bool PrettyReply(std::string_view xml, std::string* out, std::string* reason) {
  Element root;
  Reader reader(xml);
  if (!reader.Document(&root)) {
    *reason = reader.reason();
    return false;
  }
  out->clear();
  Render(root, 0, true, out);
  return true;
}

}  // namespace qxcall
