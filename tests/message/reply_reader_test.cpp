// Unpacking recordsets from replies, the function identifier and element counts, on the real
// POSIX DOM and on one that fails at each step in turn.
#include "message/reply_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "message_test_util.h"
#include "platform/env.h"
#include "support/gbk.h"

namespace qx::message {
namespace {

using Rows = std::vector<std::vector<std::pair<std::string, std::string>>>;

Rows Snapshot(const RowStore& store) {
  Rows rows;
  for (const DataRow& row : store.rows()) {
    rows.emplace_back();
    for (const DataItem& item : row.items()) rows.back().emplace_back(item.name, item.value);
  }
  return rows;
}

platform::XmlFactory& Dom() { return *platform::DefaultEnv().xml; }

// The reply as the center sends it: GBK, CRLF, indented, a declaration naming GBK.
TEST(UnpackRecordSetTest, ReplyFromDataFile) {
  const std::string reply = test::ReadMessageData("reply_user_info.xml");
  ASSERT_FALSE(reply.empty());
  RowStore store;
  ASSERT_EQ(UnpackRecordSet(Dom(), reply, "user_info", &store), kUnpacked);
  // row2 holds only whitespace and row3 only text: no rows for them; row4 becomes row 2, its
  // repeated staff_name keeps its place and takes the later value.
  EXPECT_EQ(Snapshot(store),
            (Rows{{{"center_id", "3301"},
                   {"#comment", ""},
                   {"staff_id", "A0017"},
                   {"staff_name", test::Gbk(u8"王小明")}},
                  {{"center_id", "3302"}, {"staff_name", test::Gbk(u8"后写的")}}}));
  EXPECT_EQ(store.current_row(), 1);
  const std::string* value = nullptr;
  ASSERT_EQ(store.Find("STAFF_ID", &value), RowStore::kFound);
  EXPECT_EQ(*value, "A0017");
}

TEST(UnpackRecordSetTest, EdgeCases) {
  struct Case {
    const char* what;
    std::u8string reply;
    const char* name;
    int32_t result;
    Rows rows;
  } cases[] = {
      {"nested below other elements, first one only",
       u8"<Program><a><b><user_info><r><center_id>1</center_id></r></user_info></b></a>"
       u8"<user_info><r><center_id>2</center_id></r></user_info></Program>",
       "user_info", kUnpacked, Rows{{{"center_id", "1"}}}},
      {"a nested recordset inside a row is an item with an empty value",
       u8"<P><rs><row1><inner><row1><x>1</x></row1></inner><y>2</y></row1></rs></P>", "rs",
       kUnpacked, Rows{{{"inner", ""}, {"y", "2"}}}},
      {"the inner recordset by its own name",
       u8"<P><rs><row1><inner><row1><x>1</x></row1></inner></row1></rs></P>", "inner", kUnpacked,
       Rows{{{"x", "1"}}}},
      {"names are case-sensitive", u8"<P><User_Info><row1><a>1</a></row1></User_Info></P>",
       "user_info", kNoRecordSet, Rows{}},
      {"rows without items leave no gap",
       u8"<P><rs><row1/><row2>text</row2><row3><!----></row3><whatever><a>x</a></whatever>"
       u8"<row5><a>y</a></row5></rs></P>",
       "rs", kUnpacked, Rows{{{"#comment", ""}}, {{"a", "x"}}, {{"a", "y"}}}},
      {"text before a child element is the value",
       u8"<P><rs><row1><a>前<b>x</b>后</a><c><d>1</d></c><e/><f><![CDATA[ <&> ]]></f>"
       u8"<g>&lt;&amp;</g></row1></rs></P>",
       "rs", kUnpacked,
       Rows{{{"a", test::Gbk(u8"前")}, {"c", ""}, {"e", ""}, {"f", " <&> "}, {"g", "<&"}}}},
      {"values keep their spaces", u8"<P><rs><row1><a>  x y  </a></row1></rs></P>", "rs", kUnpacked,
       Rows{{{"a", "  x y  "}}}},
      {"item names fold, Chinese second bytes untouched",
       u8"<P><rs><row1><Name>1</Name><NAME>2</NAME><名称>3</名称></row1></rs></P>", "rs", kUnpacked,
       Rows{{{"name", "2"}, {test::Gbk(u8"名称"), "3"}}}},
      {"a flat recordset has no rows", u8"<P><parameters><a>1</a><b>2</b></parameters></P>",
       "parameters", kUnpacked, Rows{}},
      {"the root itself can be the recordset", u8"<rs><row1><a>1</a></row1></rs>", "rs", kUnpacked,
       Rows{{{"a", "1"}}}},
      {"not xml", u8"<P><rs><row1><a>1</a></row1></rs>", "rs", kNoRecordSet, Rows{}},
      {"empty reply", u8"", "rs", kNoRecordSet, Rows{}},
  };
  for (const Case& c : cases) {
    RowStore store;
    store.AddItem(1, "before", "kept");
    store.set_current_row(1);
    int32_t result = UnpackRecordSet(Dom(), test::Gbk(c.reply), c.name, &store);
    EXPECT_EQ(result, c.result) << c.what;
    if (result == kNoRecordSet) {
      EXPECT_EQ(Snapshot(store), (Rows{{{"before", "kept"}}})) << c.what;
    } else {
      EXPECT_EQ(Snapshot(store), c.rows) << c.what;
      EXPECT_EQ(store.current_row(), 1) << c.what;
    }
  }
}

TEST(UnpackRecordSetTest, LongValuesStayWhole) {
  std::string value;
  for (int i = 0; i < 5000; ++i) value += test::Gbk(u8"长");
  value += "end";
  RowStore store;
  ASSERT_EQ(
      UnpackRecordSet(Dom(), "<P><rs><row1><v>" + value + "</v></row1></rs></P>", "rs", &store),
      kUnpacked);
  ASSERT_EQ(store.row_count(), 1);
  EXPECT_EQ(store.rows()[0].items()[0].value, value);
}

// The DOM failing at each operation in turn: the result is kDomFailure and the rows are either
// untouched (failure before the recordset was found) or a prefix of the full result; past the
// last operation the unpacking succeeds.
TEST(UnpackRecordSetTest, DomFailureAtEveryStep) {
  const std::string reply = test::ReadMessageData("reply_user_info.xml");
  RowStore full;
  ASSERT_EQ(UnpackRecordSet(Dom(), reply, "user_info", &full), kUnpacked);
  const Rows complete = Snapshot(full);
  int failures = 0;
  for (int fail_at = 1;; ++fail_at) {
    ASSERT_LT(fail_at, 1000);
    test::FaultyXmlFactory faulty(fail_at);
    RowStore store;
    store.AddItem(1, "before", "kept");
    int32_t result = UnpackRecordSet(faulty, reply, "user_info", &store);
    if (faulty.operations() < fail_at) {
      EXPECT_EQ(result, kUnpacked);
      EXPECT_EQ(Snapshot(store), complete);
      break;
    }
    ++failures;
    ASSERT_EQ(result, kDomFailure) << fail_at;
    Rows got = Snapshot(store);
    if (got != Rows{{{"before", "kept"}}}) {
      ASSERT_LE(got.size(), complete.size()) << fail_at;
      for (size_t r = 0; r < got.size(); ++r) {
        ASSERT_LE(got[r].size(), complete[r].size()) << fail_at;
        for (size_t i = 0; i < got[r].size(); ++i) {
          EXPECT_EQ(got[r][i].first, complete[r][i].first) << fail_at;
          // the row being filled may hold a value that a later item of its name replaces
          if (r + 1 < got.size()) {
            EXPECT_EQ(got[r][i], complete[r][i]) << fail_at;
          }
        }
      }
    }
  }
  EXPECT_GT(failures, 10);
}

TEST(ExtractFunctionIdTest, Cases) {
  struct Case {
    const char* what;
    std::string xml;
    int32_t result;
    std::string id;
  } cases[] = {
      {"plain", "<Program><FunctionID>8</FunctionID></Program>", kFunctionIdFound, "8"},
      {"deep, first in document order wins",
       "<P><a><b><FunctionID>12</FunctionID></b></a><FunctionID>13</FunctionID></P>",
       kFunctionIdFound, "12"},
      {"empty element", "<P><FunctionID/></P>", kFunctionIdFound, ""},
      {"text of the element, trimmed", "<P><FunctionID>\r\n 21 \r\n</FunctionID></P>",
       kFunctionIdFound, "21"},
      {"Chinese text", test::Gbk(u8"<P><FunctionID>功能</FunctionID></P>"), kFunctionIdFound,
       test::Gbk(u8"功能")},
      {"51 bytes", "<P><FunctionID>" + std::string(51, '7') + "</FunctionID></P>", kFunctionIdFound,
       std::string(51, '7')},
      {"52 bytes are refused", "<P><FunctionID>" + std::string(52, '7') + "</FunctionID></P>",
       kFunctionIdTooLong, "unchanged"},
      {"case matters", "<P><functionid>1</functionid></P>", kNoFunctionId, "unchanged"},
      {"none", "<P/>", kNoFunctionId, "unchanged"},
      {"does not parse", "<P><FunctionID>1</FunctionID>", kNoFunctionId, "unchanged"},
      {"empty text", "", kNoFunctionId, "unchanged"},
  };
  for (const Case& c : cases) {
    std::string id = "unchanged";
    EXPECT_EQ(ExtractFunctionId(Dom(), c.xml, &id), c.result) << c.what;
    EXPECT_EQ(id, c.id) << c.what;
  }
  std::string id = "unchanged";
  test::FaultyXmlFactory faulty(1);
  EXPECT_EQ(ExtractFunctionId(faulty, "<P><FunctionID>1</FunctionID></P>", &id), kDomFailure);
  EXPECT_EQ(id, "unchanged");
}

TEST(CountElementsTest, Cases) {
  EXPECT_EQ(CountElements(Dom(), "<P><readic/><x><readic/></x><READIC/></P>", "readic"), 2);
  EXPECT_EQ(CountElements(Dom(), "<P/>", "readic"), 0);
  EXPECT_EQ(CountElements(Dom(), "not xml <readic/>", "readic"), 0);
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    test::FaultyXmlFactory faulty(fail_at);
    EXPECT_EQ(CountElements(faulty, "<P><readic/></P>", "readic"), -1) << fail_at;
  }
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
      EXPECT_EQ(CountElements(Dom(), c.xml, "writeic"), 0) << c.what;
    }
  }
  // A name that is not plain ASCII is always left to the parser.
  EXPECT_TRUE(MayHoldElement("<P/>", test::Gbk(u8"卡")));
  EXPECT_FALSE(MayHoldElement("", "FunctionID"));
  EXPECT_TRUE(MayHoldElement("<FunctionID>", "FunctionID"));
}

// One pass for several names, wherever in the text they stand (the scan takes sixteen bytes at
// a time and finishes byte by byte).
TEST(MayHoldElementTest, SeveralNamesAtEveryOffset) {
  const std::string_view names[] = {"writeic", "readic", "FunctionID", "x", "\xBF\xA8"};
  // "x" (one byte) and a GBK name are never ruled out.
  constexpr uint32_t kAlways = 0x18;
  const std::string filler = test::Gbk(u8"<row1><a>布洛芬</a><rex/></row1>");
  for (std::size_t offset = 0; offset < 48; ++offset) {
    std::string head = filler.substr(0, offset % filler.size()) + std::string(offset, ' ');
    EXPECT_EQ(MayHoldElements(head, names), kAlways) << offset;
    EXPECT_EQ(MayHoldElements(head + "<readic/>", names), kAlways | 2u) << offset;
    EXPECT_EQ(MayHoldElements(head + "<FunctionID>1</FunctionID>" + filler, names), kAlways | 4u)
        << offset;
    EXPECT_EQ(MayHoldElements(head + "<writeic><readic/></writeic>" + filler, names), kAlways | 3u)
        << offset;
    // Cut short at the end of the text, or near misses.
    EXPECT_EQ(MayHoldElements(head + "<writei", names), kAlways) << offset;
    EXPECT_EQ(MayHoldElements(head + "<wr<re<Fu</writeic>:wr" + filler, names), kAlways) << offset;
    EXPECT_EQ(MayHoldElements(head + "<q:FunctionID/>" + filler, names), kAlways | 4u) << offset;
  }
  EXPECT_EQ(MayHoldElements("", names), kAlways);
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
