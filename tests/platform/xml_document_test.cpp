// The platform's DOM (DefaultEnv: pugixml on POSIX, MSXML on Windows) keeps the Windows component's
// defaults: which nodes exist, their names and values, how text is joined, what does not parse, and
// that depth costs no stack.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "message/message_test_util.h"
#include "platform/env.h"
#include "platform/xml_document.h"
#include "support/gbk.h"

namespace qx::platform {
namespace {

class XmlDocumentTest : public ::testing::Test {
 protected:
  std::unique_ptr<XmlDocument> doc_ = DefaultEnv().xml->NewDocument();

  std::vector<std::string> ChildNames(XmlNode node) {
    std::vector<std::string> names;
    for (XmlNode child : doc_->ChildNodes(node)) names.push_back(doc_->NodeName(child));
    return names;
  }
  XmlNode First(const char* name) {
    std::vector<XmlNode> found = doc_->ElementsByTagName(name);
    return found.empty() ? XmlNode() : found.front();
  }
};

TEST_F(XmlDocumentTest, WhitespaceBetweenMarkupIsNoNode) {
  ASSERT_TRUE(doc_->LoadXml("<root>\r\n\t<a/>\n\t<b/>\n\t<c/>\n</root>"));
  EXPECT_EQ(ChildNames(doc_->DocumentElement()), (std::vector<std::string>{"a", "b", "c"}));

  ASSERT_TRUE(doc_->LoadXml("<r> <x>  </x>t<!--c--><![CDATA[ ]]><?pi v?></r>"));
  EXPECT_EQ(ChildNames(doc_->DocumentElement()),
            (std::vector<std::string>{"x", "#text", "#comment", "#cdata-section", "pi"}));
  EXPECT_TRUE(doc_->ChildNodes(First("x")).empty());
}

TEST_F(XmlDocumentTest, NodeValues) {
  ASSERT_TRUE(doc_->LoadXml(test::Gbk(u8"<r> 文&amp;字 <!-- 注释 --><![CDATA[<b> ]]></r>")));
  XmlNode root = doc_->DocumentElement();
  std::vector<XmlNode> children = doc_->ChildNodes(root);
  ASSERT_EQ(children.size(), 3u);
  EXPECT_EQ(doc_->NodeValue(children[0]), test::Gbk(u8" 文&字 "));
  EXPECT_EQ(doc_->NodeValue(children[1]), test::Gbk(u8" 注释 "));
  EXPECT_EQ(doc_->NodeValue(children[2]), "<b> ");
  EXPECT_EQ(doc_->NodeValue(root), std::nullopt);
  EXPECT_EQ(doc_->NodeName(root), "r");
}

// Text joins descendants: content of a text node verbatim, one space for a whitespace run
// dropped at load, the ends trimmed but never into a CDATA section; comments left out.
TEST_F(XmlDocumentTest, TextJoinsAndTrimsAsTheWindowsComponent) {
  struct Case {
    const char* xml;
    const char* text;
  } cases[] = {
      {"<e>\n <![CDATA[]]> This is<strong> a</strong>  <i>description</i><dot>. </dot><x/>\n</e>",
       " This is a description."},
      {"<e>  padded  </e>", "padded"},
      {"<e><a>x</a>\n\t<b>y</b></e>", "x y"},
      {"<e><a>x</a><!-- gone --><b>y</b></e>", "xy"},
      {"<e><![CDATA[ kept ]]></e>", " kept "},
      {"<e> in <b>\n</b> out </e>", "in   out"},
      {"<e/>", ""},
      {"<e><!--only a comment--></e>", ""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(doc_->LoadXml(c.xml)) << c.xml;
    EXPECT_EQ(doc_->Text(doc_->DocumentElement()), c.text) << c.xml;
  }
}

TEST_F(XmlDocumentTest, TextsThatDoNotParseLeaveAnEmptyDocument) {
  const char* texts[] = {
      "",
      "not xml at all",
      "<a><b></a>",
      "<a/><b/>",                                        // two document elements
      "text<a/>",                                        // text at top level
      "<a/>text",                                        //
      "<!--c-->t<a/>",                                   //
      "<![CDATA[x]]><a/>",                               //
      "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",      // no DTD
      "<a>&undeclared;</a>",                             // no entity beyond the five
      "<a>fish & chips</a>",                             // bare ampersand
      "<a href=\"x&y\"/>",                               //
      "<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>",  // nothing fetched
  };
  for (const char* text : texts) {
    ASSERT_TRUE(doc_->LoadXml("<old><FunctionID>1</FunctionID></old>"));
    EXPECT_FALSE(doc_->LoadXml(text)) << text;
    EXPECT_FALSE(doc_->DocumentElement()) << text;
    EXPECT_TRUE(doc_->ElementsByTagName("FunctionID").empty()) << text;
  }
  // What does parse: the five entities, character references, markup-like text in comments
  // and CDATA, a declaration naming any encoding.
  ASSERT_TRUE(doc_->LoadXml(
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<a>&lt;&gt;&amp;&apos;&quot;&#65;&#x42;"
      "<!-- & --><![CDATA[&]]></a>\r\n<!--after-->\r\n"));
  EXPECT_EQ(doc_->Text(doc_->DocumentElement()), "<>&'\"AB&");
}

// Everything reading shows of a document: each node's name, value and text, depth first.
std::string Dump(XmlDocument& doc, XmlNode node, int depth = 0) {
  std::string out(static_cast<std::size_t>(depth), ' ');
  out += doc.NodeName(node) + " [" + doc.NodeValue(node).value_or("(none)") + "] {" +
         doc.Text(node) + "}\n";
  for (XmlNode child : doc.ChildNodes(node)) out += Dump(doc, child, depth + 1);
  return out;
}

// A document loaded for reading keeps an element's leading text inside the element; what the
// reading operations show must not change by that.
TEST(XmlDocumentForReadingTest, ReadsAsTheOrdinaryDocument) {
  const std::string texts[] = {
      "<e>\n <![CDATA[]]> This is<strong> a</strong>  <i>description</i><dot>. </dot><x/>\n</e>",
      "<e>  padded  </e>",
      "<e><a>x</a>\n\t<b>y</b></e>",
      "<e> in <b>\n</b> out </e>",
      "<e><!--c-->after<b/>tail</e>",
      "<e>lead<b>in</b>mid<![CDATA[cd]]>end<?pi v?></e>",
      "<r> <x>  </x>t<!--c--><![CDATA[ ]]><?pi v?></r>",
      "<root>\n\t<a/>\n\t<b/>\n\t<c/>\n</root>",
      test::Gbk(u8"<r> 文&amp;字 <!-- 注释 --><![CDATA[<b> ]]></r>"),
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<a>&lt;&gt;&amp;&apos;&quot;&#65;&#x42;"
      "<!-- & --><![CDATA[&]]></a>\r\n<!--after-->\r\n",
      test::Gbk(u8"<Program>\r\n\t<FunctionID> 21 </FunctionID>\r\n\t<user_info>\r\n\t\t<row1>"
                u8"<center_id>430100</center_id><staff_name>王秀兰</staff_name><empty></empty>"
                u8"<spaces>   </spaces></row1>\r\n\t\t<row2/>\r\n\t</user_info>\r\n</Program>"),
  };
  for (const std::string& text : texts) {
    std::unique_ptr<XmlDocument> ordinary = DefaultEnv().xml->NewDocument();
    std::unique_ptr<XmlDocument> reading = DefaultEnv().xml->NewDocument();
    ASSERT_TRUE(ordinary->LoadXml(text)) << text;
    ASSERT_TRUE(reading->LoadXmlForReading(text)) << text;
    EXPECT_EQ(Dump(*reading, reading->DocumentElement()),
              Dump(*ordinary, ordinary->DocumentElement()))
        << text;
    for (const char* name : {"x", "b", "row1", "FunctionID", "a"}) {
      EXPECT_EQ(reading->ElementsByTagName(name).size(), ordinary->ElementsByTagName(name).size())
          << text << " " << name;
    }
  }
  std::unique_ptr<XmlDocument> doc = DefaultEnv().xml->NewDocument();
#if !defined(_WIN32)
  // The compact form is for reading: changes and Xml are refused (the Windows DOM has one form
  // only and allows them), and a later LoadXml makes the document ordinary again.
  ASSERT_TRUE(doc->LoadXmlForReading("<r>text<a/></r>"));
  XmlNode root = doc->DocumentElement();
  XmlNode held = doc->ChildNodes(root).at(0);
  EXPECT_THROW(doc->Xml(root), DomError);
  EXPECT_THROW(doc->CreateElement("b"), DomError);
  EXPECT_THROW(doc->SetText(root, "x"), DomError);
  EXPECT_THROW(doc->SetNodeValue(held, "x"), DomError);
  EXPECT_THROW(doc->RemoveChild(root, held), DomError);
#endif
  EXPECT_FALSE(doc->LoadXmlForReading("<a><b></a>"));
  EXPECT_FALSE(doc->DocumentElement());
  ASSERT_TRUE(doc->LoadXml("<r>text<a/></r>"));
  EXPECT_EQ(doc->Xml(doc->DocumentElement()), "<r>text<a/></r>");
}

TEST_F(XmlDocumentTest, ElementsByTagNameIsCaseSensitiveInDocumentOrder) {
  ASSERT_TRUE(doc_->LoadXml(
      "<P><x id='1'><x id='2'/></x><X/><y><x id='3'/></y><!--<x/>--><![CDATA[<x/>]]></P>"));
  std::vector<XmlNode> found = doc_->ElementsByTagName("x");
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(doc_->Xml(found[0]), "<x id=\"1\"><x id=\"2\"/></x>");
  EXPECT_EQ(doc_->Xml(found[2]), "<x id=\"3\"/>");
  EXPECT_EQ(doc_->ElementsByTagName("X").size(), 1u);
  EXPECT_TRUE(doc_->ElementsByTagName("*").empty());
  EXPECT_TRUE(doc_->ElementsByTagName("").empty());
}

TEST_F(XmlDocumentTest, XmlOfAnElementHasNoDeclarationAndEscapes) {
  ASSERT_TRUE(
      doc_->LoadXml(test::Gbk(u8"<?xml version=\"1.0\"?><!--before--><P a=\"&quot;&lt;\">"
                              u8"名&amp;&lt;&gt;<e></e><!--c--><![CDATA[<&>]]></P>")));
  EXPECT_EQ(test::Canonical(doc_->Xml(doc_->DocumentElement())),
            test::Gbk(u8"<P a=\"&quot;&lt;\">名&amp;&lt;&gt;<e/><!--c--><![CDATA[<&>]]></P>"));
}

// Where whitespace was dropped at load, the serialisation re-indents with CRLF and TABs.
TEST_F(XmlDocumentTest, XmlReindentsWhereWhitespaceWasDropped) {
  ASSERT_TRUE(doc_->LoadXml("<root>\n<a>\n<b/>\n</a>\n</root>"));
  EXPECT_EQ(doc_->Xml(doc_->DocumentElement()), "<root>\r\n\t<a>\r\n\t\t<b/>\r\n\t</a>\r\n</root>");
  ASSERT_TRUE(doc_->LoadXml("<root><a><b/></a></root>"));
  EXPECT_EQ(doc_->Xml(doc_->DocumentElement()), "<root><a><b/></a></root>");
}

TEST_F(XmlDocumentTest, BuildingAndTakingApart) {
  ASSERT_TRUE(doc_->LoadXml("<P><k>1</k><n><m/></n></P>"));
  XmlNode root = doc_->DocumentElement();
  XmlNode block = doc_->CreateElement("user_info");
  EXPECT_TRUE(doc_->ElementsByTagName("user_info").empty()) << "not in the tree yet";
  doc_->AppendChild(root, block);
  XmlNode item = doc_->CreateElement(test::Gbk(u8"姓名"));
  doc_->SetText(item, "  ");  // whitespace set on purpose is text
  doc_->AppendChild(block, item);
  XmlNode empty = doc_->CreateElement("e");
  doc_->SetText(empty, "");
  doc_->AppendChild(block, empty);
  EXPECT_TRUE(doc_->ChildNodes(empty).empty());  // an empty text leaves no child at all
  EXPECT_EQ(doc_->Xml(root), test::Gbk(u8"<P><k>1</k><n><m/></n><user_info><姓名>  </姓名><e/>"
                                       u8"</user_info></P>"));
  EXPECT_EQ(doc_->Text(item), "");  // trimmed, as the component's text is
  EXPECT_EQ(doc_->NodeValue(doc_->ChildNodes(item).at(0)), "  ");

  EXPECT_THROW(doc_->AppendChild(block, root), DomError) << "into its own subtree";
  EXPECT_THROW(doc_->AppendChild(item, item), DomError);
  // Only a child can be removed; the root is no child of itself.
  XmlNode m = First("m");
  EXPECT_THROW(doc_->RemoveChild(root, m), DomError);
  EXPECT_THROW(doc_->RemoveChild(root, root), DomError);
  doc_->RemoveChild(root, First("n"));
  EXPECT_TRUE(doc_->ElementsByTagName("m").empty());
  // A removed node is still usable, like the component's.
  EXPECT_EQ(doc_->NodeName(m), "m");

  doc_->SetText(root, test::Gbk(u8"全换"));
  EXPECT_EQ(doc_->Xml(root), test::Gbk(u8"<P>全换</P>"));

  EXPECT_THROW(doc_->AppendChild(XmlNode(), block), DomError);
  EXPECT_THROW(doc_->CreateElement(""), DomError);
  EXPECT_THROW(doc_->CreateElement("a b"), DomError);
  EXPECT_THROW(doc_->CreateElement("1a"), DomError);
  EXPECT_THROW(doc_->CreateElement("a<"), DomError);
  EXPECT_THROW(doc_->SetNodeValue(root, "x"), DomError);
  EXPECT_THROW(doc_->NodeName(XmlNode()), DomError);
  EXPECT_THROW(doc_->Text(XmlNode()), DomError);
  EXPECT_THROW(doc_->ChildNodes(XmlNode()), DomError);
}

TEST_F(XmlDocumentTest, EmptyDocumentHasNothingToAppendTo) {
  EXPECT_FALSE(doc_->DocumentElement());
  XmlNode e = doc_->CreateElement("x");
  EXPECT_FALSE(doc_->DocumentElement()) << "a new element is not the document element";
  EXPECT_THROW(doc_->AppendChild(doc_->DocumentElement(), e), DomError);
  EXPECT_TRUE(doc_->ElementsByTagName("x").empty());
}

// 100 000 levels: parsing, finding, text, serialising, moving, removing and freeing all run
// without recursion.
TEST_F(XmlDocumentTest, DeepNestingDoesNotCrash) {
  constexpr int kDepth = 100000;
  std::string xml;
  xml.reserve(kDepth * 8 + 64);
  xml += "<P>";
  for (int i = 0; i < kDepth; ++i) xml += "<a>";
  xml += "<FunctionID>7</FunctionID>";
  for (int i = 0; i < kDepth; ++i) xml += "</a>";
  xml += "</P>";
  ASSERT_TRUE(doc_->LoadXml(xml));
  std::vector<XmlNode> all = doc_->ElementsByTagName("a");
  ASSERT_EQ(all.size(), static_cast<size_t>(kDepth));
  EXPECT_EQ(doc_->Text(doc_->DocumentElement()), "7");
  EXPECT_EQ(doc_->Xml(doc_->DocumentElement()).size(), xml.size());
  XmlNode root = doc_->DocumentElement();
  XmlNode deepest = all.back();
  doc_->AppendChild(root, deepest);  // moved from the bottom to the top
  doc_->RemoveChild(root, all.front());
  EXPECT_EQ(doc_->ElementsByTagName("a").size(), 1u);
  EXPECT_EQ(doc_->ElementsByTagName("FunctionID").size(), 1u);
  ASSERT_TRUE(doc_->LoadXml(xml));  // the old tree goes
  doc_->SetText(doc_->DocumentElement(), "x");
  doc_.reset();
  SUCCEED();
}

}  // namespace
}  // namespace qx::platform
