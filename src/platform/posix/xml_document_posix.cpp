// The XML DOM document on POSIX, over pugixml, behaving as the Windows DOM component does with
// its defaults (whitespace not preserved). Texts cross in GBK and are held by pugixml in UTF-8;
// the conversion is the CodePage owned by each document.
//
// Quirks handled here:
//  - The Windows DOM drops whitespace-only text between markup at load, but remembers where it
//    was: `text` puts one space for each such run between content, and `xml` re-indents there
//    with CRLF and TABs. pugixml is therefore told to keep whitespace-only text
//    (parse_ws_pcdata); those nodes ("blanks") are hidden from every caller and only read by
//    Text() and Xml(). A whitespace-only text set through this interface later is real text and
//    is remembered as such (set_texts_).
//  - pugixml is lenient where the Windows DOM refuses: several top-level elements, text at top
//    level, an undeclared entity or a bare '&' left as it stands. Those are refused here, as is
//    any DOCTYPE (the Windows document is set to prohibit DTDs), so such a text leaves an empty
//    document.
//  - A document loaded for reading (LoadXmlForReading) is parsed with parse_embed_pcdata: the
//    text an element starts with is kept in the element itself, not in a node of its own, which
//    halves the nodes of a catalogue. Such a text is handed out as a text node all the same (its
//    element's address with the lowest bit set); only reading operations are offered.
//  - pugixml has no detached nodes and frees removed subtrees recursively. New elements are
//    therefore made inside a hidden holder element below the document node, and removed nodes
//    are moved into it rather than freed; the document frees its pages at once when it goes.
//    Every walk here is a loop, so 100 000 levels of nesting cost no stack.
#include <pugixml.hpp>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/default_parts.h"
#include "platform/posix/code_page.h"
#include "platform/posix/large_pages.h"
#include "platform/xml_document.h"

namespace qx::platform::posix {
namespace {

// parse_fragment keeps text at top level as nodes, so that it can be refused.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_ws_pcdata | pugi::parse_doctype |
                                 pugi::parse_fragment | pugi::parse_declaration;

// The nodes that carry a value of their own, as the Windows DOM's nodeValue: text, CDATA,
// comments and processing instructions.
bool HasValue(pugi::xml_node n) {
  switch (n.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      return true;
    default:
      return false;
  }
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsBlank(const char* s) {
  for (; *s != '\0'; ++s) {
    if (!IsXmlSpace(*s)) return false;
  }
  return true;
}

// An element name as the Windows DOM's createElement accepts it (ASCII rules; any byte of a
// multibyte character is allowed).
bool IsElementName(std::string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    bool letter =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
    bool later = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && !(i > 0 && later)) return false;
  }
  return true;
}

// Finds what pugixml would let through but the Windows DOM refuses: a '&' outside comments,
// CDATA sections and processing instructions that does not start a character reference or one
// of the five predefined entities.
bool HasUnknownReference(std::string_view text) {
  static constexpr std::string_view kKnown[] = {"lt;", "gt;", "amp;", "apos;", "quot;"};
  // Most replies hold no '&' at all: one memchr answers for them.
  if (text.find('&') == std::string_view::npos) return false;
  size_t i = 0;
  while (i < text.size()) {
    // A plain loop: find_first_of would call memchr once per byte.
    size_t amp = i;
    while (amp < text.size() && text[amp] != '&' && text[amp] != '<') ++amp;
    if (amp == text.size()) return false;
    std::string_view rest = text.substr(amp);
    if (rest[0] == '<') {
      std::string_view close;
      if (rest.starts_with("<!--")) {
        close = "-->";
      } else if (rest.starts_with("<![CDATA[")) {
        close = "]]>";
      } else if (rest.starts_with("<?")) {
        close = "?>";
      } else {
        i = amp + 1;
        continue;
      }
      size_t end = text.find(close, amp + 2);
      if (end == std::string_view::npos) return false;  // the parser refuses it anyway
      i = end + close.size();
      continue;
    }
    rest.remove_prefix(1);
    bool known = rest.starts_with('#');
    for (std::string_view entity : kKnown) known = known || rest.starts_with(entity);
    if (!known) return true;
    i = amp + 1;
  }
  return false;
}

// The text an element of a document loaded for reading starts with, as a node of its own.
bool IsHeldText(XmlNode node) { return (reinterpret_cast<std::uintptr_t>(node.impl()) & 1u) != 0; }

XmlNode HeldText(pugi::xml_node element) {
  return XmlNode(
      reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(element.internal_object()) | 1u));
}

pugi::xml_node HolderOf(XmlNode held) {
  return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(
      reinterpret_cast<std::uintptr_t>(held.impl()) & ~std::uintptr_t{1}));
}

pugi::xml_node ToPugi(XmlNode node) {
  if (!node) throw DomError("XML operation on a null node");
  if (IsHeldText(node)) throw DomError("a text of a document loaded for reading cannot change");
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node.impl()));
}

XmlNode FromPugi(pugi::xml_node node) { return XmlNode(node.internal_object()); }

// The next node after `node` in document order within the subtree of `root`, descending only
// when `descend` is true.
pugi::xml_node NextInSubtree(pugi::xml_node node, pugi::xml_node root, bool descend) {
  if (descend && node.first_child()) return node.first_child();
  while (node && node != root) {
    if (node.next_sibling()) return node.next_sibling();
    node = node.parent();
  }
  return pugi::xml_node();
}

// What pugixml may allocate to parse `size` bytes of UTF-8: kParseBytesPerByte a byte and a
// little more. No text needs more: pugixml's densest tree, an element and a text node for each
// five bytes ("<a/> "), takes 26 bytes of nodes a byte; a parse over the bound is out of memory.
constexpr std::size_t kParseBytesPerByte = 32;
constexpr std::size_t kParseBytesBase = std::size_t{1} << 20;

std::size_t ParseBudget(std::size_t size) {
  return size > (SIZE_MAX - kParseBytesBase) / kParseBytesPerByte
             ? SIZE_MAX - 1
             : size * kParseBytesPerByte + kParseBytesBase;
}

class PugiXmlDocument final : public XmlDocument {
 public:
  PugiXmlDocument() = default;

  bool LoadXml(std::string_view text) override { return Load(text, false); }

  bool LoadXmlForReading(std::string_view text) override { return Load(text, true); }

 private:
  bool Load(std::string_view text, bool for_reading) {
    try {
      return LoadOrRefuse(text, for_reading);
    } catch (const std::bad_alloc&) {
      Reset();
      throw DomError("no memory to parse the text");
    }
  }

  bool LoadOrRefuse(std::string_view text, bool for_reading) {
    Reset();
    for_reading_ = for_reading;
    // Parsed in place: the UTF-8 text is kept as long as the tree points into it. A large text
    // and its nodes go into large pages (large_pages.h).
    const bool large = text.size() >= kLargeTextBytes && text.size() <= (SIZE_MAX - 8) / 3 &&
                       large_source_.Allocate(CodePage::Utf8Room(text.size()));
    char* source = nullptr;
    std::size_t size = 0;
    if (large) {
      source = large_source_.data();
      size = code_page_.WriteUtf8(text, source);
    } else {
      source_.clear();
      code_page_.AppendUtf8(text, &source_);
      source = source_.data();
      size = source_.size();
    }
    if (HasUnknownReference(std::string_view(source, size))) {
      Reset();
      return false;
    }
    std::optional<LargePagesScope> pages;
    if (large) pages.emplace();
    const unsigned flags = for_reading ? kParseFlags | pugi::parse_embed_pcdata : kParseFlags;
    pugi::xml_parse_result result;
    {
      AllocationBudget budget(ParseBudget(size));
      result = document_.load_buffer_inplace(source, size, flags, pugi::encoding_utf8);
    }
    if (result.status == pugi::status_out_of_memory) {
      // Not a text that does not parse: the document could not be built.
      Reset();
      throw DomError("no memory to parse the text");
    }
    if (!result || !IsSingleRooted()) {
      Reset();
      return false;
    }
    return true;
  }

 public:
  XmlNode DocumentElement() override { return FromPugi(Root()); }

  std::vector<XmlNode> ElementsByTagName(std::string_view name) override {
    std::vector<XmlNode> found;
    if (name.find('*') != std::string_view::npos) return found;
    // pugixml's own traversal (one call per node) over each top-level node but the holder.
    struct Collector : pugi::xml_tree_walker {
      std::string wanted;
      std::vector<XmlNode>* found = nullptr;
      void Visit(pugi::xml_node& node) {
        if (node.type() != pugi::node_element) return;
        const char* n = node.name();
        if (n[0] == wanted[0] && std::strcmp(n, wanted.c_str()) == 0) {
          found->push_back(FromPugi(node));
        }
      }
      bool for_each(pugi::xml_node& node) override {
        Visit(node);
        return true;
      }
    } collector;
    collector.wanted = code_page_.ToUtf8(name);
    collector.found = &found;
    for (pugi::xml_node top = document_.first_child(); top; top = top.next_sibling()) {
      if (top == holder_) continue;
      collector.Visit(top);
      if (top.first_child()) top.traverse(collector);
    }
    return found;
  }

  std::vector<XmlNode> ChildNodes(XmlNode node) override {
    std::vector<XmlNode> children;
    if (IsHeldText(node)) return children;
    pugi::xml_node parent = ToPugi(node);
    if (HoldsText(parent)) children.push_back(HeldText(parent));
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
      if (!IsHiddenBlank(child)) children.push_back(FromPugi(child));
    }
    return children;
  }

  std::string NodeName(XmlNode node) override {
    if (IsHeldText(node)) return "#text";
    pugi::xml_node n = ToPugi(node);
    switch (n.type()) {
      case pugi::node_pcdata:
        return "#text";
      case pugi::node_cdata:
        return "#cdata-section";
      case pugi::node_comment:
        return "#comment";
      case pugi::node_document:
        return "#document";
      default:
        return code_page_.ToAnsi(n.name());
    }
  }

  std::optional<std::string> NodeValue(XmlNode node) override {
    if (IsHeldText(node)) return code_page_.ToAnsi(HolderOf(node).value());
    pugi::xml_node n = ToPugi(node);
    if (!HasValue(n)) return std::nullopt;
    return code_page_.ToAnsi(n.value());
  }

  std::string Text(XmlNode node) override {
    if (IsHeldText(node)) {
      std::string_view text = HolderOf(node).value();
      while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
      while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
      return code_page_.ToAnsi(text);
    }
    pugi::xml_node n = ToPugi(node);
    switch (n.type()) {
      case pugi::node_cdata:
      case pugi::node_comment:
      case pugi::node_pi:
        return code_page_.ToAnsi(n.value());
      default:
        return code_page_.ToAnsi(JoinText(n));
    }
  }

  std::string Xml(XmlNode node) override {
    RefuseIfForReading();
    std::string utf8;
    utf8.reserve(source_.size() + 256);  // about the text loaded and what was added to it
    Serialise(ToPugi(node), &utf8);
    return code_page_.ToAnsi(utf8);
  }

  XmlNode CreateElement(std::string_view name) override {
    RefuseIfForReading();
    if (!IsElementName(name)) throw DomError("not an element name");
    pugi::xml_node element = Holder().append_child(pugi::node_element);
    if (!element || !element.set_name(code_page_.ToUtf8(name).c_str())) {
      throw DomError("cannot create an element");
    }
    return FromPugi(element);
  }

  void AppendChild(XmlNode parent, XmlNode child) override {
    RefuseIfForReading();
    pugi::xml_node p = ToPugi(parent);
    pugi::xml_node c = ToPugi(child);
    if (c == holder_ || p == holder_ || p.type() != pugi::node_element || !p.append_move(c)) {
      throw DomError("cannot append the node there");
    }
  }

  void RemoveChild(XmlNode parent, XmlNode child) override {
    RefuseIfForReading();
    pugi::xml_node p = ToPugi(parent);
    pugi::xml_node c = ToPugi(child);
    if (c == holder_ || c.parent() != p) throw DomError("the node is not a child of the parent");
    Discard(c);
  }

  void SetText(XmlNode node, std::string_view text) override {
    RefuseIfForReading();
    pugi::xml_node n = ToPugi(node);
    if (n.type() != pugi::node_element) {
      SetNodeValue(node, text);
      return;
    }
    while (pugi::xml_node child = n.first_child()) Discard(child);
    if (!text.empty()) {
      pugi::xml_node value = n.append_child(pugi::node_pcdata);
      if (!value) throw DomError("cannot create a text node");
      StoreValue(value, text);
    }
  }

  void SetNodeValue(XmlNode node, std::string_view value) override {
    RefuseIfForReading();
    pugi::xml_node n = ToPugi(node);
    if (!HasValue(n)) throw DomError("the node has no value to set");
    StoreValue(n, value);
  }

 private:
  void RefuseIfForReading() const {
    if (for_reading_) throw DomError("the document was loaded for reading only");
  }

  // Whether an element of a document loaded for reading keeps a text that is not a blank.
  bool HoldsText(pugi::xml_node node) const {
    return for_reading_ && node.type() == pugi::node_element && *node.value() != '\0' &&
           !IsBlank(node.value());
  }

  void Reset() {
    for_reading_ = false;
    document_.reset();
    large_source_.Release();
    holder_ = pugi::xml_node();
    set_texts_.clear();
  }

  // One element at top level and no text there, blanks aside; no DOCTYPE.
  bool IsSingleRooted() const {
    int elements = 0;
    for (pugi::xml_node child : document_.children()) {
      switch (child.type()) {
        case pugi::node_element:
          ++elements;
          break;
        case pugi::node_pcdata:
          if (!IsBlank(child.value())) return false;
          break;
        case pugi::node_comment:
        case pugi::node_pi:
        case pugi::node_declaration:
          break;
        default:
          return false;
      }
    }
    return elements == 1;
  }

  pugi::xml_node Root() const {
    for (pugi::xml_node child = document_.first_child(); child; child = child.next_sibling()) {
      if (child.type() == pugi::node_element && child != holder_) return child;
    }
    return pugi::xml_node();
  }

  pugi::xml_node Holder() {
    if (!holder_) {
      holder_ = document_.append_child(pugi::node_element);
      if (!holder_) throw DomError("cannot create an element");
    }
    return holder_;
  }

  void Discard(pugi::xml_node node) {
    if (!Holder().append_move(node)) throw DomError("cannot remove the node");
  }

  void StoreValue(pugi::xml_node node, std::string_view value) {
    std::string utf8 = code_page_.ToUtf8(value);
    if (!node.set_value(utf8.c_str())) throw DomError("cannot set a node value");
    if (node.type() == pugi::node_pcdata && IsBlank(node.value())) {
      set_texts_.insert(node.internal_object());
    } else {
      set_texts_.erase(node.internal_object());
    }
  }

  bool IsHiddenBlank(pugi::xml_node node) const {
    return node.type() == pugi::node_pcdata && IsBlank(node.value()) &&
           !set_texts_.contains(node.internal_object());
  }

  // The text of an element as the Windows DOM gives it: text and CDATA of all descendants in
  // order, comments and PIs left out; a whitespace run dropped at load counts as one space
  // between content; whitespace at both ends is trimmed, but never inside a CDATA section.
  std::string JoinText(pugi::xml_node root) const {
    struct Piece {
      enum Kind { kText, kCdata, kBlank } kind;
      std::string_view text;
    };
    std::vector<Piece> pieces;
    for (pugi::xml_node node = root; node; node = NextInSubtree(node, root, true)) {
      if (for_reading_ && node.type() == pugi::node_element && *node.value() != '\0') {
        // The text the element starts with, held in the element: before all its children.
        pieces.push_back({IsBlank(node.value()) ? Piece::kBlank : Piece::kText, node.value()});
      } else if (node.type() == pugi::node_cdata) {
        pieces.push_back({Piece::kCdata, node.value()});
      } else if (node.type() == pugi::node_pcdata) {
        pieces.push_back({IsHiddenBlank(node) ? Piece::kBlank : Piece::kText, node.value()});
      }
    }
    size_t first = 0;
    for (; first < pieces.size(); ++first) {
      Piece& p = pieces[first];
      if (p.kind == Piece::kCdata) break;
      while (!p.text.empty() && IsXmlSpace(p.text.front())) p.text.remove_prefix(1);
      if (p.kind == Piece::kText && !p.text.empty()) break;
    }
    size_t last = pieces.size();
    for (; last > first; --last) {
      Piece& p = pieces[last - 1];
      if (p.kind == Piece::kCdata) break;
      while (!p.text.empty() && IsXmlSpace(p.text.back())) p.text.remove_suffix(1);
      if (p.kind == Piece::kText && !p.text.empty()) break;
    }
    std::string out;
    bool space_pending = false;
    for (size_t i = first; i < last; ++i) {
      if (pieces[i].kind == Piece::kBlank) {
        space_pending = true;
        continue;
      }
      if (space_pending) out.push_back(' ');
      space_pending = false;
      out.append(pieces[i].text);
    }
    return out;
  }

  // Runs of plain bytes are appended whole; '&', '<', '>' (and '"' in an attribute) as entities.
  static void AppendEscaped(std::string_view text, bool attribute, std::string* out) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char* entity = nullptr;
      switch (text[i]) {
        case '&':
          entity = "&amp;";
          break;
        case '<':
          entity = "&lt;";
          break;
        case '>':
          entity = "&gt;";
          break;
        case '"':
          entity = attribute ? "&quot;" : nullptr;
          break;
        default:
          break;
      }
      if (entity != nullptr) {
        out->append(text.substr(run, i - run)).append(entity);
        run = i + 1;
      }
    }
    out->append(text.substr(run));
  }

  bool HasVisibleChild(pugi::xml_node node) const {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (!IsHiddenBlank(child)) return true;
    }
    return false;
  }

  // Writes one node that is not an element, or the start tag of an element.
  void WriteNode(pugi::xml_node node, bool empty_element, std::string* out) const {
    switch (node.type()) {
      case pugi::node_element:
        out->push_back('<');
        out->append(node.name());
        for (pugi::xml_attribute a : node.attributes()) {
          out->push_back(' ');
          out->append(a.name());
          out->append("=\"");
          AppendEscaped(a.value(), true, out);
          out->push_back('"');
        }
        out->append(empty_element ? "/>" : ">");
        break;
      case pugi::node_pcdata:
        AppendEscaped(node.value(), false, out);
        break;
      case pugi::node_cdata:
        out->append("<![CDATA[").append(node.value()).append("]]>");
        break;
      case pugi::node_comment:
        out->append("<!--").append(node.value()).append("-->");
        break;
      case pugi::node_pi:
        out->append("<?").append(node.name());
        if (*node.value() != '\0') out->append(" ").append(node.value());
        out->append("?>");
        break;
      default:
        break;
    }
  }

  // The node as the Windows DOM writes it: where whitespace was dropped at load, a line break
  // (CRLF) and one TAB per level of the node that follows; no declaration; no line break at the
  // end. An element without child nodes is written "<name/>".
  void Serialise(pugi::xml_node root, std::string* out) const {
    if (root.type() != pugi::node_element) {
      if (!IsHiddenBlank(root)) WriteNode(root, false, out);
      return;
    }
    pugi::xml_node node = root;
    size_t depth = 0;
    for (;;) {
      bool descend = false;
      if (node.type() == pugi::node_element) {
        descend = HasVisibleChild(node);
        WriteNode(node, !descend, out);
      } else if (IsHiddenBlank(node)) {
        pugi::xml_node prev = node.previous_sibling();
        if (!prev || !IsHiddenBlank(prev)) {
          pugi::xml_node next = node.next_sibling();
          while (next && IsHiddenBlank(next)) next = next.next_sibling();
          out->append("\r\n");
          out->append(next ? depth : depth - 1, '\t');
        }
      } else {
        WriteNode(node, false, out);
      }
      if (descend) {
        node = node.first_child();
        ++depth;
        continue;
      }
      // Climb until there is a next sibling, closing the elements left behind.
      for (;;) {
        if (node == root) return;
        if (pugi::xml_node next = node.next_sibling()) {
          node = next;
          break;
        }
        node = node.parent();
        --depth;
        out->append("</").append(node.name()).append(">");
      }
    }
  }

  // Before document_: pugixml allocates through this library's allocator from the first node on.
  struct AllocatorInstalled {
    AllocatorInstalled() { InstallPugiAllocator(); }
  } allocator_installed_;
  CodePage code_page_;
  // The UTF-8 text pugixml parsed in place, in one of the two; lives as long as the tree.
  std::string source_;
  LargeBuffer large_source_;
  pugi::xml_document document_;
  pugi::xml_node holder_;
  std::unordered_set<const void*> set_texts_;
  bool for_reading_ = false;  // loaded by LoadXmlForReading
};

class PugiXmlFactory final : public XmlFactory {
 public:
  std::unique_ptr<XmlDocument> NewDocument() override {
    try {
      return std::make_unique<PugiXmlDocument>();
    } catch (const CodePageError& e) {
      throw DomError(e.what());
    }
  }
};

}  // namespace

XmlFactory& DefaultXmlFactory() { return ProcessWide<PugiXmlFactory>(); }

}  // namespace qx::platform::posix
