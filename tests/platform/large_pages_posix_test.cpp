// Large texts parse in large pages of their own: the document reads exactly as one parsed the
// ordinary way, changes to it work, and every page goes back when the document does.
#include "platform/posix/large_pages.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/default_parts.h"
#include "platform/xml_document.h"
#include "support/gbk.h"

namespace qx::platform::posix {
namespace {

// One catalogue row as the center writes it (GBK, CRLF and tabs, a reference, CDATA, a comment).
std::string Row(int n) {
  return test::Gbk(u8"\r\n\t<row") + std::to_string(n) +
         test::Gbk(u8">\r\n\t\t<item_name>布洛芬缓释胶囊") + std::to_string(n) +
         test::Gbk(
             u8"</item_name>\r\n\t\t<memo>甲类 &amp; 乙类 <![CDATA[<限>]]><!-- 注 -->说明</memo>"
             u8"\r\n\t\t<empty/>\r\n\t</row") +
         std::to_string(n) + ">";
}

// A catalogue of at least `bytes` bytes; *rows receives the number of rows.
std::string Catalogue(std::size_t bytes, int* rows) {
  std::string text = "<Program><catalog>";
  int n = 0;
  while (text.size() < bytes) text += Row(++n);
  text += "\r\n</catalog><FunctionID>21</FunctionID></Program>";
  *rows = n;
  return text;
}

std::unique_ptr<XmlDocument> Load(const std::string& text) {
  std::unique_ptr<XmlDocument> doc = DefaultXmlFactory().NewDocument();
  EXPECT_TRUE(doc->LoadXml(text));
  return doc;
}

TEST(LargePagesTest, ALargeDocumentReadsAsAnOrdinaryOneAndGivesBackItsPages) {
  ASSERT_EQ(LargePagesMapped(), 0u);
  int rows = 0;
  const std::string text = Catalogue(kLargeTextBytes + 4096, &rows);
  {
    std::unique_ptr<XmlDocument> large = Load(text);
    EXPECT_GT(LargePagesMapped(), text.size());  // the UTF-8 text and the nodes
    XmlNode catalog = large->ElementsByTagName("catalog").at(0);
    std::vector<XmlNode> row_nodes = large->ChildNodes(catalog);
    ASSERT_EQ(row_nodes.size(), static_cast<std::size_t>(rows));
    EXPECT_EQ(large->Text(large->ElementsByTagName("FunctionID").at(0)), "21");
    // Rows from the start, the middle and the end, against the same row parsed on its own.
    for (int n : {1, rows / 2, rows}) {
      std::unique_ptr<XmlDocument> small = Load(Row(n));
      XmlNode row = row_nodes.at(static_cast<std::size_t>(n - 1));
      EXPECT_EQ(large->Xml(row), small->Xml(small->DocumentElement())) << n;
      EXPECT_EQ(large->Text(row), small->Text(small->DocumentElement())) << n;
      std::vector<XmlNode> memo = large->ChildNodes(large->ChildNodes(row).at(1));
      ASSERT_EQ(memo.size(), 4u) << n;
      EXPECT_EQ(large->NodeValue(memo[0]), test::Gbk(u8"甲类 & 乙类 ")) << n;
      EXPECT_EQ(large->NodeName(memo[1]), "#cdata-section") << n;
    }
    EXPECT_EQ(large->ElementsByTagName("empty").size(), static_cast<std::size_t>(rows));

    // Loaded for reading, the same text keeps the rows' texts inside their elements.
    {
      std::unique_ptr<XmlDocument> reading = DefaultXmlFactory().NewDocument();
      ASSERT_TRUE(reading->LoadXmlForReading(text));
      std::vector<XmlNode> read_rows =
          reading->ChildNodes(reading->ElementsByTagName("catalog").at(0));
      ASSERT_EQ(read_rows.size(), row_nodes.size());
      for (int n : {1, rows}) {
        XmlNode item = reading->ChildNodes(read_rows.at(static_cast<std::size_t>(n - 1))).at(0);
        EXPECT_EQ(reading->NodeValue(reading->ChildNodes(item).at(0)),
                  test::Gbk(u8"布洛芬缓释胶囊") + std::to_string(n));
        EXPECT_EQ(reading->Text(read_rows.at(static_cast<std::size_t>(n - 1))),
                  large->Text(row_nodes.at(static_cast<std::size_t>(n - 1))));
      }
    }

    // Changes after the load take ordinary memory; both kinds are freed together below.
    XmlNode added = large->CreateElement("user_info");
    large->SetText(added, test::Gbk(u8"王秀兰"));
    large->AppendChild(large->DocumentElement(), added);
    large->RemoveChild(large->DocumentElement(), large->ElementsByTagName("FunctionID").at(0));
    large->SetText(row_nodes.at(0), std::string(100000, 'x'));
    EXPECT_EQ(large->Xml(added), test::Gbk(u8"<user_info>王秀兰</user_info>"));
    EXPECT_TRUE(large->ElementsByTagName("FunctionID").empty());
    EXPECT_EQ(large->Text(row_nodes.at(0)), std::string(100000, 'x'));

    // Loading another text into the same document gives the large pages back first.
    ASSERT_TRUE(large->LoadXml("<P/>"));
    EXPECT_EQ(LargePagesMapped(), 0u);
    ASSERT_TRUE(large->LoadXml(text));
    EXPECT_GT(LargePagesMapped(), 0u);
  }
  EXPECT_EQ(LargePagesMapped(), 0u);
}

TEST(LargePagesTest, ALargeTextThatDoesNotLoadKeepsNothing) {
  int rows = 0;
  const std::string catalogue = Catalogue(kLargeTextBytes, &rows);
  std::unique_ptr<XmlDocument> doc = DefaultXmlFactory().NewDocument();
  for (const std::string& text :
       {catalogue + "<second/>", catalogue.substr(0, catalogue.size() - 3),
        "<P>&nbsp;</P>" + catalogue.substr(9)}) {
    EXPECT_FALSE(doc->LoadXml(text));
    EXPECT_FALSE(doc->DocumentElement());
    EXPECT_TRUE(doc->ElementsByTagName("catalog").empty());
    EXPECT_EQ(LargePagesMapped(), 0u);
  }
}

TEST(LargePagesTest, DocumentsOnSeveralThreadsAtOnce) {
  constexpr int kThreads = 4;
  std::vector<std::string> texts(kThreads);
  std::vector<int> rows(kThreads);
  for (int t = 0; t < kThreads; ++t) texts[t] = Catalogue(kLargeTextBytes + 1000 * t, &rows[t]);
  std::vector<std::size_t> found(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each loads twice, small documents in between, and lets go in its own order.
      std::unique_ptr<XmlDocument> first = DefaultXmlFactory().NewDocument();
      std::unique_ptr<XmlDocument> small = DefaultXmlFactory().NewDocument();
      std::unique_ptr<XmlDocument> second = DefaultXmlFactory().NewDocument();
      if (!first->LoadXml(texts[t]) || !small->LoadXml(Row(t)) || !second->LoadXml(texts[t])) {
        return;
      }
      first.reset();
      found[t] = second->ElementsByTagName("empty").size() +
                 small->ChildNodes(small->DocumentElement()).size();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(found[t], static_cast<std::size_t>(rows[t]) + 3) << t;
  }
  EXPECT_EQ(LargePagesMapped(), 0u);
}

}  // namespace
}  // namespace qx::platform::posix
