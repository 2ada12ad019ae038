// The byte search that spares a reply a parse: never "no" where the DOM finds the element, and the
// same answer whether the text comes whole or in pieces.
#include "message/element_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/env.h"
#include "platform/xml_document.h"
#include "support/gbk.h"

namespace qx::message {
namespace {

// What the DOM itself finds, without the search in front of it.
int32_t CountElements(const std::string& text, std::string_view tag) {
  std::unique_ptr<platform::XmlDocument> doc = platform::DefaultEnv().xml->NewDocument();
  doc->LoadXml(text);
  return static_cast<int32_t>(doc->ElementsByTagName(tag).size());
}

// The shortcut may only answer "no" where the DOM finds no such element: checked against the
// DOM on texts that try to fool a byte search (GBK trail bytes that are letters, prefixes, case,
// references, comments, CDATA, invalid bytes before the name).
TEST(MayHoldElementTest, NeverDeniesWhatTheDomFinds) {
  struct Case {
    const char* what;
    std::string xml;
    bool may;
  } cases[] = {
      {"plain", "<P><writeic/></P>", true},
      {"with attributes and blanks", "<P><writeic a=\"1\" >x</writeic ></P>", true},
      {"absent", "<P><write/><ic/></P>", false},
      {"case differs", "<P><WriteIC/></P>", false},
      {"prefixed name (found by the Windows DOM)", "<P><x:writeic xmlns:x=\"u\"/></P>", true},
      {"after a colon in text", "<P>a:writeic</P>", true},
      {"name as text only", "<P>writeic &#60;writeic</P>", false},
      {"trail byte 'w' of a GBK character", "<P><\x81writeic/></P>", false},
      {"in a comment", "<P><!--<writeic/>--></P>", true},
      {"in CDATA", "<P><![CDATA[<writeic/>]]></P>", true},
      {"invalid lead byte before the name", "<P>\xFF<writeic/></P>", true},
      {"a lead byte without its trail before '<'", "<P>\x81<writeic/></P>", true},
      {"longer name", "<P><writeicx/></P>", true},
      {"does not parse", "<P><writeic></P>", true},
      {"Chinese text around it", test::Gbk(u8"<P>写卡<writeic>卡</writeic></P>"), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayHoldElement(c.xml, "writeic"), c.may) << c.what;
    if (!MayHoldElement(c.xml, "writeic")) {
      EXPECT_EQ(CountElements(c.xml, "writeic"), 0) << c.what;
    }
  }
  // A name that is not plain ASCII is always left to the parser.
  EXPECT_TRUE(MayHoldElement("<P/>", test::Gbk(u8"卡")));
  EXPECT_FALSE(MayHoldElement("", "FunctionID"));
  EXPECT_TRUE(MayHoldElement("<FunctionID>", "FunctionID"));
}

// One pass for several names, wherever in the text they stand: the scan takes 128 bytes at a
// time, so the names stand at every offset of the first two blocks with text after them, and
// the rest is searched byte by byte. Also with a name whose first byte shares its low four bits
// with another's ("Writeic", never in the texts), which takes the other search.
TEST(MayHoldElementTest, SeveralNamesAtEveryOffset) {
  const std::string_view all_names[] = {"writeic", "readic",   "FunctionID",
                                        "x",       "\xBF\xA8", "Writeic"};
  // "x" (one byte) and a GBK name are never ruled out.
  constexpr uint32_t kAlways = 0x18;
  const std::string filler = test::Gbk(u8"<row1><a>布洛芬</a><rex/></row1>");
  const std::string tail = filler + std::string(300, ' ');
  for (std::size_t count : {5, 6}) {
    const std::span<const std::string_view> names(all_names, count);
    for (std::size_t offset = 0; offset < 160; ++offset) {
      std::string head = filler.substr(0, offset % filler.size()) + std::string(offset, ' ');
      EXPECT_EQ(MayHoldElements(head + tail, names), kAlways) << offset;
      EXPECT_EQ(MayHoldElements(head + "<readic/>" + tail, names), kAlways | 2u) << offset;
      EXPECT_EQ(MayHoldElements(head + "<FunctionID>1</FunctionID>" + tail, names), kAlways | 4u)
          << offset;
      EXPECT_EQ(MayHoldElements(head + "<writeic><readic/></writeic>" + tail, names), kAlways | 3u)
          << offset;
      // Cut short at the end of the text, or near misses.
      EXPECT_EQ(MayHoldElements(head + "<writei", names), kAlways) << offset;
      EXPECT_EQ(MayHoldElements(head + "<wr<re<Fu</writeic>:wr" + tail, names), kAlways) << offset;
      EXPECT_EQ(MayHoldElements(head + "<q:FunctionID/>" + tail, names), kAlways | 4u) << offset;
    }
  }
  EXPECT_EQ(MayHoldElements("", all_names), kAlways);
  EXPECT_EQ(MayHoldElements("<FunctionID", std::span<const std::string_view>()), 0u);
}

// Fed piece by piece, in pieces of any size, the scan answers as one search of the whole text:
// names cut by a piece's end are found with the next piece.
TEST(MayHoldElementTest, PiecesAnswerAsTheWholeText) {
  const std::string_view names[] = {"writeic", "readic", "FunctionID", "x"};
  const std::string texts[] = {
      "",
      "<P><row1><a>1</a></row1></P>",
      "<P><FunctionID>8</FunctionID></P>",
      test::Gbk(u8"<P>布洛芬<readic><q:writeic/></readic></P>"),
      "<P><wr<Functio</P>nID<readi",
      std::string(37, 'y') + "<FunctionID>",
  };
  for (const std::string& text : texts) {
    const uint32_t whole = MayHoldElements(text, names);
    for (std::size_t piece = 1; piece <= text.size() + 1; ++piece) {
      ElementNamesScan scan(names);
      std::string so_far;
      for (std::size_t at = 0; at < text.size(); at += piece) {
        so_far += text.substr(at, piece);
        scan.Feed(so_far, at);
      }
      EXPECT_EQ(scan.seen(), whole) << text << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace qx::message
