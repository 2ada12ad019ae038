// The XML DOM document on Win32: the platform's MSXML component, created from the ProgID
// "msxml2.domdocument" (CLSIDFromProgID + CoCreateInstance), with COM initialised on the calling
// thread for each document's lifetime (CoInitialize at creation, CoUninitialize when the
// document goes). Texts cross in the ANSI code page: MultiByteToWideChar / WideCharToMultiByte
// with CP_ACP over the whole text.
//
// Quirks handled here:
//  - MSXML 3 parses inline DTDs, expands their entities and may fetch external ones by default.
//    Before every load: resolveExternals false, validateOnParse false, and the second-level
//    property ProhibitDTD true (IXMLDOMDocument2::setProperty), so a document with a DTD is
//    refused like any text that does not parse. Whitespace-only text is not kept
//    (preserveWhiteSpace false, the component's default, set explicitly).
//  - Wine's msxml3 takes ProhibitDTD and ignores it (it parses the DTD and expands its
//    entities), so the prolog is also scanned here before loading: a text whose prolog holds a
//    "<!DOCTYPE" is refused without being handed to the component at all. A DOCTYPE can stand
//    only in the prolog, so the scan ends at the root element's start tag.
//  - Wine's createElement accepts names that are not XML names ("a b"); Windows refuses them.
//    Names are checked here first, so both refuse alike.
//  - Wine's msxml3 writes xml through libxml2's formatter, which breaks every element-only
//    content into CR LF and tab-indented lines; Windows keeps a document loaded without such
//    whitespace on one line. Under Wine (and only there) the line breaks and tabs that stand
//    between a '>' and a '<' outside CDATA sections and comments are taken out again, so what
//    goes to the center and to the host reads as on Windows for messages written without
//    layout. (Whitespace-only text is never a node here, so no content is lost.)
//  - getElementsByTagName treats "*" as "every element"; a name holding '*' is no element name,
//    so it finds nothing here.
//  - A host that already put its thread into the multithreaded apartment makes CoInitialize fail
//    with RPC_E_CHANGED_MODE: COM is usable all the same (MSXML is free-threaded), so the
//    document is made and COM is not uninitialised for it.
//  - Node objects are COM references; every one handed out is kept by the document and released
//    with it, so an XmlNode stays valid exactly as long as its document. The component may hand
//    out a different object for the same node on each call, so nodes are not compared.
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/default_parts.h"
#include "platform/xml_document.h"

namespace qx::platform::win32 {
namespace {

// {2933BF95-7B36-11d2-B20E-00C04F983E60}
constexpr IID kIidDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

constexpr wchar_t kProgId[] = L"msxml2.domdocument";

[[noreturn]] void Fail(const char* operation, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  throw DomError(std::string("MSXML ") + operation + " failed (" + code + ")");
}

void Check(HRESULT hr, const char* operation) {
  if (FAILED(hr)) {
    Fail(operation, hr);
  }
}

// True when the prolog of text (everything before the root element) holds a document type
// declaration. Comments, processing instructions and the XML declaration are skipped whole.
bool PrologHasDoctype(std::wstring_view text) {
  std::size_t i = 0;
  if (!text.empty() && text.front() == 0xFEFF) {
    ++i;
  }
  while (i < text.size()) {
    wchar_t c = text[i];
    if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
      ++i;
      continue;
    }
    if (c != L'<') {
      return false;  // not well-formed anyway; the component refuses it
    }
    std::wstring_view rest = text.substr(i);
    if (rest.starts_with(L"<?")) {
      std::size_t end = rest.find(L"?>");
      if (end == std::wstring_view::npos) {
        return false;
      }
      i += end + 2;
    } else if (rest.starts_with(L"<!--")) {
      std::size_t end = rest.find(L"-->", 4);
      if (end == std::wstring_view::npos) {
        return false;
      }
      i += end + 3;
    } else {
      return rest.starts_with(L"<!");  // <!DOCTYPE (any case the parser might take)
    }
  }
  return false;
}

// The component gets UTF-16, so an encoding named in the XML declaration means nothing here.
// Wine's msxml3 refuses a text declaring an encoding its libxml2 does not know ("GB2312"); the
// pseudo-attribute is taken out of the declaration before loading, on Windows as well.
void DropDeclaredEncoding(std::wstring* text) {
  std::size_t start = !text->empty() && text->front() == 0xFEFF ? 1 : 0;
  if (text->compare(start, 5, L"<?xml") != 0 || text->size() < start + 6 ||
      std::wstring_view(L" \t\r\n").find((*text)[start + 5]) == std::wstring_view::npos) {
    return;
  }
  const std::size_t end = text->find(L"?>", start);
  const std::size_t name = text->find(L"encoding", start);
  if (end == std::wstring::npos || name == std::wstring::npos || name > end) {
    return;
  }
  std::size_t i = name + 8;
  auto skip_blanks = [&] {
    while (i < end && std::wstring_view(L" \t\r\n").find((*text)[i]) != std::wstring_view::npos) {
      ++i;
    }
  };
  skip_blanks();
  if (i >= end || (*text)[i] != L'=') {
    return;
  }
  ++i;
  skip_blanks();
  if (i >= end || ((*text)[i] != L'"' && (*text)[i] != L'\'')) {
    return;
  }
  const std::size_t close = text->find((*text)[i], i + 1);
  if (close == std::wstring::npos || close >= end) {
    return;
  }
  std::size_t from = name;
  while (from > start + 5 &&
         std::wstring_view(L" \t\r\n").find((*text)[from - 1]) != std::wstring_view::npos) {
    --from;
  }
  text->erase(from, close + 1 - from);
}

// An XML name as far as the ASCII range goes; other characters are left to the component.
bool IsXmlName(std::wstring_view name) {
  if (name.empty()) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    wchar_t c = name[i];
    if (c >= 0x80) {
      continue;
    }
    bool start = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c == L':';
    bool inner = start || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
    if (i == 0 ? !start : !inner) {
      return false;
    }
  }
  return true;
}

// Takes out the layout libxml2's formatter adds: CR LF and tabs between '>' and '<', outside
// CDATA sections and comments.
std::wstring WithoutFormatterLayout(std::wstring_view xml) {
  std::wstring out;
  out.reserve(xml.size());
  std::size_t i = 0;
  while (i < xml.size()) {
    std::wstring_view rest = xml.substr(i);
    std::wstring_view closing;
    if (rest.starts_with(L"<![CDATA[")) {
      closing = L"]]>";
    } else if (rest.starts_with(L"<!--")) {
      closing = L"-->";
    }
    if (!closing.empty()) {
      std::size_t end = rest.find(closing);
      std::size_t length = end == std::wstring_view::npos ? rest.size() : end + closing.size();
      out.append(rest.substr(0, length));
      i += length;
      continue;
    }
    if (xml[i] == L'>') {
      std::size_t j = i + 1;
      while (j < xml.size() && (xml[j] == L'\r' || xml[j] == L'\n' || xml[j] == L'\t')) {
        ++j;
      }
      out.push_back(L'>');
      if (j > i + 1 && j < xml.size() && xml[j] == L'<') {
        i = j;
      } else {
        ++i;
      }
      continue;
    }
    out.push_back(xml[i]);
    ++i;
  }
  return out;
}

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view ansi) : Bstr(AnsiToWide(ansi)) {}
  explicit Bstr(const std::wstring& wide) {
    value_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (value_ == nullptr) {
      throw DomError("out of memory for a BSTR");
    }
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return value_; }
  BSTR* out() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  std::string Ansi() const {
    if (value_ == nullptr) {
      return std::string();
    }
    return WideToAnsi(std::wstring_view(value_, SysStringLen(value_)));
  }

 private:
  BSTR value_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* out() {
    VariantClear(&value_);
    return &value_;
  }
  VARIANT& get() { return value_; }

 private:
  VARIANT value_;
};

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T** out() {
    Reset();
    return &ptr_;
  }
  T* Release() {
    T* p = ptr_;
    ptr_ = nullptr;
    return p;
  }
  void Reset() {
    if (ptr_ != nullptr) {
      ptr_->Release();
      ptr_ = nullptr;
    }
  }

 private:
  T* ptr_ = nullptr;
};

class MsxmlDocument final : public XmlDocument {
 public:
  MsxmlDocument(IXMLDOMDocument2* document, bool uninitialize_com)
      : document_(document), uninitialize_com_(uninitialize_com) {}

  ~MsxmlDocument() override {
    for (IXMLDOMNode* node : nodes_) {
      node->Release();
    }
    nodes_.clear();
    document_->Release();
    if (uninitialize_com_) {
      CoUninitialize();
    }
  }

  bool LoadXml(std::string_view text) override {
    Check(document_->put_async(VARIANT_FALSE), "put_async");
    Check(document_->put_resolveExternals(VARIANT_FALSE), "put_resolveExternals");
    Check(document_->put_validateOnParse(VARIANT_FALSE), "put_validateOnParse");
    Check(document_->put_preserveWhiteSpace(VARIANT_FALSE), "put_preserveWhiteSpace");
    Bstr property("ProhibitDTD");
    VARIANT prohibit;
    VariantInit(&prohibit);
    prohibit.vt = VT_BOOL;
    prohibit.boolVal = VARIANT_TRUE;
    Check(document_->setProperty(property.get(), prohibit), "setProperty(ProhibitDTD)");
    std::wstring wide = AnsiToWide(text);
    DropDeclaredEncoding(&wide);
    Bstr source(wide);
    VARIANT_BOOL parsed = VARIANT_FALSE;
    if (PrologHasDoctype(wide)) {
      // Leave the document empty, as a refused load does.
      Bstr nothing("");
      document_->loadXML(nothing.get(), &parsed);
      return false;
    }
    HRESULT hr = document_->loadXML(source.get(), &parsed);
    Check(hr, "loadXML");
    return hr == S_OK && parsed == VARIANT_TRUE;
  }

  XmlNode DocumentElement() override {
    ComPtr<IXMLDOMElement> element;
    Check(document_->get_documentElement(element.out()), "get_documentElement");
    if (element.get() == nullptr) {
      return XmlNode();
    }
    return Keep(element.Release());
  }

  std::vector<XmlNode> ElementsByTagName(std::string_view name) override {
    std::vector<XmlNode> found;
    if (name.empty() || name.find('*') != std::string_view::npos) {
      return found;  // Wine's component answers "" with elements
    }
    Bstr tag(name);
    ComPtr<IXMLDOMNodeList> list;
    Check(document_->getElementsByTagName(tag.get(), list.out()), "getElementsByTagName");
    return Items(list.get());
  }

  std::vector<XmlNode> ChildNodes(XmlNode node) override {
    ComPtr<IXMLDOMNodeList> list;
    Check(Node(node)->get_childNodes(list.out()), "get_childNodes");
    return Items(list.get());
  }

  std::string NodeName(XmlNode node) override {
    Bstr name;
    Check(Node(node)->get_nodeName(name.out()), "get_nodeName");
    return name.Ansi();
  }

  std::optional<std::string> NodeValue(XmlNode node) override {
    Variant value;
    Check(Node(node)->get_nodeValue(value.out()), "get_nodeValue");
    if (value.get().vt == VT_NULL || value.get().vt == VT_EMPTY) {
      return std::nullopt;
    }
    if (value.get().vt != VT_BSTR) {
      Check(VariantChangeType(&value.get(), &value.get(), 0, VT_BSTR), "VariantChangeType");
    }
    BSTR text = value.get().bstrVal;
    if (text == nullptr) {
      return std::string();
    }
    return WideToAnsi(std::wstring_view(text, SysStringLen(text)));
  }

  std::string Text(XmlNode node) override {
    Bstr text;
    Check(Node(node)->get_text(text.out()), "get_text");
    return text.Ansi();
  }

  std::string Xml(XmlNode node) override {
    Bstr xml;
    Check(Node(node)->get_xml(xml.out()), "get_xml");
    if (UnderWine() && xml.get() != nullptr) {
      return WideToAnsi(
          WithoutFormatterLayout(std::wstring_view(xml.get(), SysStringLen(xml.get()))));
    }
    return xml.Ansi();
  }

  XmlNode CreateElement(std::string_view name) override {
    Bstr tag(name);
    if (!IsXmlName(std::wstring_view(tag.get(), SysStringLen(tag.get())))) {
      throw DomError("not an element name: " + std::string(name));
    }
    ComPtr<IXMLDOMElement> element;
    Check(document_->createElement(tag.get(), element.out()), "createElement");
    if (element.get() == nullptr) {
      throw DomError("MSXML createElement gave no element");
    }
    return Keep(element.Release());
  }

  void AppendChild(XmlNode parent, XmlNode child) override {
    if (IsSelfOrAncestor(Node(child), Node(parent))) {
      throw DomError("MSXML appendChild: a node cannot go into its own subtree");
    }
    ComPtr<IXMLDOMNode> appended;
    Check(Node(parent)->appendChild(Node(child), appended.out()), "appendChild");
  }

  void RemoveChild(XmlNode parent, XmlNode child) override {
    ComPtr<IXMLDOMNode> removed;
    HRESULT hr = Node(parent)->removeChild(Node(child), removed.out());
    Check(hr, "removeChild");
    if (removed.get() == nullptr) {
      throw DomError("MSXML removeChild removed nothing");
    }
  }

  void SetText(XmlNode node, std::string_view text) override {
    IXMLDOMNode* element = Node(node);
    for (int guard = 0; guard < 1000000; ++guard) {
      ComPtr<IXMLDOMNode> first;
      Check(element->get_firstChild(first.out()), "get_firstChild");
      if (first.get() == nullptr) {
        break;
      }
      ComPtr<IXMLDOMNode> removed;
      Check(element->removeChild(first.get(), removed.out()), "removeChild");
    }
    if (text.empty()) {
      return;
    }
    Bstr value(text);
    ComPtr<IXMLDOMText> text_node;
    Check(document_->createTextNode(value.get(), text_node.out()), "createTextNode");
    ComPtr<IXMLDOMNode> appended;
    Check(element->appendChild(text_node.get(), appended.out()), "appendChild");
  }

  void SetNodeValue(XmlNode node, std::string_view value) override {
    IXMLDOMNode* target = Node(node);
    DOMNodeType type = NODE_INVALID;
    Check(target->get_nodeType(&type), "get_nodeType");
    if (type == NODE_ELEMENT || type == NODE_DOCUMENT || type == NODE_DOCUMENT_FRAGMENT) {
      throw DomError("an element has no node value to set");
    }
    Bstr text(value);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text.get();
    Check(target->put_nodeValue(v), "put_nodeValue");
  }

 private:
  // True when node is ancestor itself or one of its ancestors. Wine's component would append an
  // element into its own subtree and crash later, and its nodes cannot be compared (a new object
  // for the same node on each call), so the element is marked with an attribute for the walk up.
  static bool IsSelfOrAncestor(IXMLDOMNode* node, IXMLDOMNode* ancestor) {
    DOMNodeType type = NODE_INVALID;
    Check(node->get_nodeType(&type), "get_nodeType");
    if (type != NODE_ELEMENT) {
      return false;  // only elements among the nodes that can be appended have children
    }
    ComPtr<IXMLDOMElement> element;
    Check(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.out())),
          "QueryInterface(IXMLDOMElement)");
    Bstr marker("qx-ancestry-probe");
    VARIANT on;
    VariantInit(&on);
    on.vt = VT_BSTR;
    on.bstrVal = marker.get();
    Check(element->setAttribute(marker.get(), on), "setAttribute");
    bool found = false;
    HRESULT failure = S_OK;
    ComPtr<IXMLDOMNode> current;
    ancestor->AddRef();
    *current.out() = ancestor;
    // Bounded by the depth of the tree; the guard only keeps a broken component from looping.
    for (int guard = 0; guard < 100000000 && current.get() != nullptr && !found; ++guard) {
      ComPtr<IXMLDOMElement> candidate;
      if (SUCCEEDED(current->QueryInterface(IID_IXMLDOMElement,
                                            reinterpret_cast<void**>(candidate.out()))) &&
          candidate.get() != nullptr) {
        Variant value;
        failure = candidate->getAttribute(marker.get(), value.out());
        if (FAILED(failure)) break;
        found = value.get().vt == VT_BSTR;
      }
      ComPtr<IXMLDOMNode> parent;
      failure = current->get_parentNode(parent.out());
      if (FAILED(failure)) break;
      current.Reset();
      *current.out() = parent.Release();
    }
    Check(element->removeAttribute(marker.get()), "removeAttribute");
    Check(failure, "get_parentNode");
    return found;
  }

  static IXMLDOMNode* Node(XmlNode node) {
    if (!node) {
      throw DomError("null node");
    }
    return static_cast<IXMLDOMNode*>(node.impl());
  }

  // Takes over one reference of node.
  XmlNode Keep(IXMLDOMNode* node) {
    nodes_.push_back(node);
    return XmlNode(node);
  }

  std::vector<XmlNode> Items(IXMLDOMNodeList* list) {
    std::vector<XmlNode> items;
    if (list == nullptr) {
      return items;
    }
    long length = 0;
    Check(list->get_length(&length), "get_length");
    items.reserve(static_cast<std::size_t>(length > 0 ? length : 0));
    for (long i = 0; i < length; ++i) {
      IXMLDOMNode* item = nullptr;
      Check(list->get_item(i, &item), "get_item");
      if (item == nullptr) {
        throw DomError("MSXML node list shorter than its length");
      }
      items.push_back(Keep(item));
    }
    return items;
  }

  IXMLDOMDocument2* document_;
  bool uninitialize_com_;
  std::vector<IXMLDOMNode*> nodes_;
};

class MsxmlFactory final : public XmlFactory {
 public:
  std::unique_ptr<XmlDocument> NewDocument() override {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
      Fail("CoInitialize", hr);
    }
    const bool uninitialize = SUCCEEDED(hr);
    CLSID clsid;
    hr = CLSIDFromProgID(kProgId, &clsid);
    IXMLDOMDocument2* document = nullptr;
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            kIidDocument2, reinterpret_cast<void**>(&document));
    }
    if (FAILED(hr) || document == nullptr) {
      if (uninitialize) {
        CoUninitialize();
      }
      Fail("CoCreateInstance(msxml2.domdocument)", FAILED(hr) ? hr : E_NOINTERFACE);
    }
    try {
      return std::make_unique<MsxmlDocument>(document, uninitialize);
    } catch (...) {
      document->Release();
      if (uninitialize) {
        CoUninitialize();
      }
      throw;
    }
  }
};

}  // namespace

bool UnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

XmlFactory& DefaultXmlFactory() { return ProcessWide<MsxmlFactory>(); }

}  // namespace qx::platform::win32
