// pugixml's allocations through the library's allocator, from several threads at once.
#include "platform/posix/pugi_allocator.h"

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

// Documents parsed on several threads at once through the library's allocator, each under
// the budget of its own parse, read as they should.
TEST(PugiAllocatorTest, DocumentsOnSeveralThreadsAtOnce) {
  constexpr int kThreads = 4;
  std::vector<std::string> texts(kThreads);
  std::vector<int> rows(kThreads);
  for (int t = 0; t < kThreads; ++t)
    texts[t] = Catalogue((std::size_t{1} << 20) + 1000 * t, &rows[t]);
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
}

}  // namespace
}  // namespace qx::platform::posix
