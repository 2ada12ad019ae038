// The MSXML document behind XmlFactory on Windows: the behaviour the message and card code rely
// on (see platform/xml_document.h), the ANSI code page at the boundary, the refusal of DTDs, and
// COM initialised and uninitialised around each document's life.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/default_parts.h"
#include "platform/xml_document.h"
#include "support/gbk.h"

namespace qx::platform {
namespace {

using qx::test::Gbk;

class MsxmlTest : public ::testing::Test {
 protected:
  std::unique_ptr<XmlDocument> Load(const std::string& text, bool expect_parsed = true) {
    std::unique_ptr<XmlDocument> doc = win32::DefaultXmlFactory().NewDocument();
    EXPECT_EQ(doc->LoadXml(text), expect_parsed) << text;
    return doc;
  }
};

TEST_F(MsxmlTest, RunsUnderTheChineseAnsiCodePage) {
  // Every text of the system is GBK; the tests are only meaningful under code page 936.
  EXPECT_EQ(GetACP(), 936u);
}

TEST_F(MsxmlTest, GbkTextsCrossTheBoundaryByteForByte) {
  const std::string name = Gbk(u8"张三");
  const std::string text = "<Program><staff_name>" + name + "</staff_name><ErrorMessage>" +
                           Gbk(u8"处理成功！") + "</ErrorMessage></Program>";
  auto doc = Load(text);
  std::vector<XmlNode> found = doc->ElementsByTagName("staff_name");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(doc->Text(found[0]), name);
  EXPECT_EQ((doc->Xml(doc->DocumentElement())), text);

  // Names may be Chinese too, and set texts come back as they went in.
  XmlNode item = doc->CreateElement(Gbk(u8"卡号"));
  doc->SetText(item, Gbk(u8"余额：100"));
  doc->AppendChild(doc->DocumentElement(), item);
  ASSERT_EQ(doc->ElementsByTagName(Gbk(u8"卡号")).size(), 1u);
  EXPECT_EQ(doc->Text(doc->ElementsByTagName(Gbk(u8"卡号"))[0]), Gbk(u8"余额：100"));
}

TEST_F(MsxmlTest, DocumentsWithADtdAreRefused) {
  // An internal subset with an entity (the "billion laughs" shape, kept tiny) and an external
  // one: neither is expanded or fetched; the whole text is refused like one that does not parse.
  for (const char* text :
       {"<!DOCTYPE r [<!ENTITY a \"boom\"><!ENTITY b \"&a;&a;&a;\">]><r>&b;</r>",
        "<!DOCTYPE r SYSTEM \"http://127.0.0.1:1/x.dtd\"><r>x</r>",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///c:/windows/win.ini\">]><r>&e;</r>"}) {
    auto doc = Load(text, false);
    EXPECT_FALSE(doc->DocumentElement()) << text;
  }
  // The predefined entities and character references still work.
  auto doc = Load("<r>&lt;&amp;&#x4E2D;</r>");
  EXPECT_EQ(doc->Text(doc->DocumentElement()), "<&" + Gbk(u8"中"));
}

TEST_F(MsxmlTest, FailingOperationsThrowDomError) {
  auto doc = Load("<r><a><b/></a></r>");
  XmlNode root = doc->DocumentElement();
  XmlNode b = doc->ElementsByTagName("b")[0];
  EXPECT_THROW(doc->RemoveChild(root, b), DomError);  // a grandchild, not a child
  EXPECT_THROW(doc->RemoveChild(root, root), DomError);
  EXPECT_THROW(doc->CreateElement("not a name"), DomError);
  EXPECT_THROW(doc->CreateElement(""), DomError);
  EXPECT_THROW(doc->SetNodeValue(root, "x"), DomError);
  EXPECT_THROW(doc->NodeName(XmlNode()), DomError);
  EXPECT_THROW(doc->ChildNodes(XmlNode()), DomError);
  // The tree is as it was.
  EXPECT_EQ((doc->Xml(root)), "<r><a><b/></a></r>");
}

TEST_F(MsxmlTest, SetNodeValueChangesATextNode) {
  auto doc = Load("<r>old</r>");
  XmlNode text = doc->ChildNodes(doc->DocumentElement())[0];
  doc->SetNodeValue(text, Gbk(u8"新"));
  EXPECT_EQ((doc->Xml(doc->DocumentElement())), "<r>" + Gbk(u8"新") + "</r>");
}

// Layout inside CDATA sections and comments is content and stays; text with line breaks too.
TEST_F(MsxmlTest, XmlKeepsLineBreaksThatAreContent) {
  const std::string text = "<r><a><![CDATA[>\r\n\t<]]></a><!-->\r\n<--><b>x\r\n\ty</b></r>";
  auto doc = Load(text);
  std::string xml = doc->Xml(doc->DocumentElement());
  EXPECT_NE(xml.find("<![CDATA[>\r\n\t<]]>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<!-->\r\n<-->"), std::string::npos) << xml;
  EXPECT_NE(xml.find("x\r\n\ty"), std::string::npos) << xml;
}

TEST_F(MsxmlTest, ALoadReplacesTheEarlierDocument) {
  std::unique_ptr<XmlDocument> doc = win32::DefaultXmlFactory().NewDocument();
  ASSERT_TRUE(doc->LoadXml("<a/>"));
  EXPECT_FALSE(doc->LoadXml("<broken"));
  EXPECT_FALSE(doc->DocumentElement());
  ASSERT_TRUE(doc->LoadXml("<b/>"));
  EXPECT_EQ(doc->NodeName(doc->DocumentElement()), "b");
}

// COM is initialised for each document's life and released with it: once every document is
// gone, this thread is back to uninitialised, so a fresh CoInitialize answers S_OK (not S_FALSE).
TEST_F(MsxmlTest, ComIsUninitialisedWhenTheLastDocumentGoes) {
  std::thread([] {
    {
      auto first = win32::DefaultXmlFactory().NewDocument();
      auto second = win32::DefaultXmlFactory().NewDocument();
      EXPECT_TRUE(first->LoadXml("<a/>"));
      EXPECT_TRUE(second->LoadXml("<b/>"));
    }
    HRESULT hr = CoInitialize(nullptr);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr)) {
      CoUninitialize();
    }
  }).join();
}

// A host thread already in the multithreaded apartment still gets documents, and its own COM
// initialisation is left alone.
TEST_F(MsxmlTest, WorksOnAThreadOfTheMultithreadedApartment) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
      auto doc = win32::DefaultXmlFactory().NewDocument();
      EXPECT_TRUE(doc->LoadXml("<a>x</a>"));
      EXPECT_EQ(doc->Text(doc->DocumentElement()), "x");
    }
    // Still initialised (multithreaded): a second CoInitializeEx of the same kind says S_FALSE.
    HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(again, S_FALSE);
    if (SUCCEEDED(again)) {
      CoUninitialize();
    }
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace qx::platform
