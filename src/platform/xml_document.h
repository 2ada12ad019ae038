// The XML DOM document as the message and card code use it: the operations of the platform's
// DOM component ("msxml2.domdocument" on Windows, pugixml on POSIX), with every name, value and
// text crossing this interface in the ANSI code page (GBK). The conversion to and from the DOM's
// own characters happens inside the implementation, at this boundary and nowhere else.
//
// Behaviour both implementations keep (the Windows component's defaults, made safe):
//  - a text that does not parse leaves an empty document (no document element, no nodes);
//  - whitespace-only text between elements is not a node; comments and CDATA sections are
//    nodes named "#comment" and "#cdata-section"; text nodes are "#text";
//  - Text() of an element is the text of all its descendants; NodeValue() of an element is none;
//  - no DTD is processed, no entity beyond the predefined five is expanded, nothing is fetched.
// A failing operation (a node that is not a child of the given parent, a null node, an element
// name that is not a name) throws DomError; the callers catch it and turn it into a status.
#ifndef QX_PLATFORM_XML_DOCUMENT_H_
#define QX_PLATFORM_XML_DOCUMENT_H_

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qx::platform {

class DomError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A node of one document. It is valid only while that document lives; a null node is false.
class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(void* impl) : impl_(impl) {}
  explicit operator bool() const { return impl_ != nullptr; }
  void* impl() const { return impl_; }
  friend bool operator==(const XmlNode&, const XmlNode&) = default;

 private:
  void* impl_ = nullptr;
};

class XmlDocument {
 public:
  XmlDocument() = default;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  virtual ~XmlDocument() = default;

  // Parses text (ANSI bytes; an encoding named in an XML declaration plays no part). Returns
  // whether it parsed; when it did not, the document is empty.
  virtual bool LoadXml(std::string_view text) = 0;

  // The same for a document that will only be read: every reading operation answers as after
  // LoadXml, while Xml() and the operations that change the document may throw DomError. An
  // implementation may store such a document more compactly (the POSIX one keeps an element's
  // leading text inside the element: half the memory of a catalogue's nodes).
  virtual bool LoadXmlForReading(std::string_view text) { return LoadXml(text); }

  // The root element; a null node in an empty document.
  virtual XmlNode DocumentElement() = 0;

  // All elements of that exact name (case-sensitive) anywhere in the document, document order.
  virtual std::vector<XmlNode> ElementsByTagName(std::string_view name) = 0;

  // The child nodes of node in order (elements, text, CDATA, comments, processing instructions).
  virtual std::vector<XmlNode> ChildNodes(XmlNode node) = 0;

  // "#text", "#cdata-section", "#comment", the element's tag name, the PI's target.
  virtual std::string NodeName(XmlNode node) = 0;

  // The value of a text, CDATA, comment or PI node; none for an element or the document.
  virtual std::optional<std::string> NodeValue(XmlNode node) = 0;

  // The text of node and all its descendants (comments and PIs excluded).
  virtual std::string Text(XmlNode node) = 0;

  // The node serialised as XML (no declaration for an element).
  virtual std::string Xml(XmlNode node) = 0;

  // A new element, not yet in the tree.
  virtual XmlNode CreateElement(std::string_view name) = 0;

  virtual void AppendChild(XmlNode parent, XmlNode child) = 0;

  // Throws DomError when child is not a child of parent.
  virtual void RemoveChild(XmlNode parent, XmlNode child) = 0;

  // Replaces all children of an element by one text node (none when text is empty).
  virtual void SetText(XmlNode node, std::string_view text) = 0;

  // Sets the value of a text, CDATA, comment or PI node; throws DomError for an element.
  virtual void SetNodeValue(XmlNode node, std::string_view value) = 0;
};

class XmlFactory {
 public:
  XmlFactory() = default;
  XmlFactory(const XmlFactory&) = delete;
  XmlFactory& operator=(const XmlFactory&) = delete;
  virtual ~XmlFactory() = default;

  // A new, empty document. On Windows this also initialises COM on the calling thread for the
  // document's lifetime. Throws DomError when no document can be had.
  virtual std::unique_ptr<XmlDocument> NewDocument() = 0;
};

}  // namespace qx::platform

#endif  // QX_PLATFORM_XML_DOCUMENT_H_
