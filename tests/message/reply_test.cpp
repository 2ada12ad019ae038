// Reading a reply: its recordsets, the function identifier and element counts, on the real POSIX
// DOM and on one that fails at each step in turn.
#include "message/reply.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status_codes.h"
#include "message_test_util.h"
#include "platform/env.h"
#include "platform/http_client.h"
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

constexpr int32_t kUnpacked = status::kOk;
constexpr int32_t kNoRecordSet = status::kNoSuchRecordSet;
constexpr int32_t kDomFailure = status::kUnpackFailed;

// Each reader on a reply of its own, so that each parses the text.
int32_t UnpackRecordSet(platform::XmlFactory& dom, std::string text, std::string_view name,
                        RowStore* rows) {
  Reply reply(dom, std::move(text));
  return reply.UnpackRecordSet(name, rows);
}
FunctionIdLookup ExtractFunctionId(platform::XmlFactory& dom, std::string text, std::string* id) {
  Reply reply(dom, std::move(text));
  return reply.FunctionId(id);
}
int32_t CountElements(platform::XmlFactory& dom, std::string text, std::string_view tag) {
  Reply reply(dom, std::move(text));
  return reply.CountElements(tag);
}

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
// untouched (failure before the recordset was found) or a prefix of the full result, or, when the
// reply's shared parse failed, the reader parsed for itself and found the full result; past the
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
    if (result == kUnpacked) {
      EXPECT_EQ(Snapshot(store), complete) << fail_at;
      continue;
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
    FunctionIdLookup result;
    std::string id;
  } cases[] = {
      {"plain", "<Program><FunctionID>8</FunctionID></Program>", FunctionIdLookup::kFound, "8"},
      {"deep, first in document order wins",
       "<P><a><b><FunctionID>12</FunctionID></b></a><FunctionID>13</FunctionID></P>",
       FunctionIdLookup::kFound, "12"},
      {"empty element", "<P><FunctionID/></P>", FunctionIdLookup::kFound, ""},
      {"text of the element, trimmed", "<P><FunctionID>\r\n 21 \r\n</FunctionID></P>",
       FunctionIdLookup::kFound, "21"},
      {"Chinese text", test::Gbk(u8"<P><FunctionID>功能</FunctionID></P>"),
       FunctionIdLookup::kFound, test::Gbk(u8"功能")},
      {"51 bytes", "<P><FunctionID>" + std::string(51, '7') + "</FunctionID></P>",
       FunctionIdLookup::kFound, std::string(51, '7')},
      {"52 bytes are refused", "<P><FunctionID>" + std::string(52, '7') + "</FunctionID></P>",
       FunctionIdLookup::kTooLong, "unchanged"},
      {"case matters", "<P><functionid>1</functionid></P>", FunctionIdLookup::kNone, "unchanged"},
      {"none", "<P/>", FunctionIdLookup::kNone, "unchanged"},
      {"does not parse", "<P><FunctionID>1</FunctionID>", FunctionIdLookup::kNone, "unchanged"},
      {"empty text", "", FunctionIdLookup::kNone, "unchanged"},
  };
  for (const Case& c : cases) {
    std::string id = "unchanged";
    EXPECT_EQ(ExtractFunctionId(Dom(), c.xml, &id), c.result) << c.what;
    EXPECT_EQ(id, c.id) << c.what;
  }
}

// The DOM failing at each operation in turn: a failure leaves the identifier and the count alone;
// when only the reply's shared parse failed, the reader parses for itself and answers right.
TEST(ExtractFunctionIdTest, DomFailureAtEveryStep) {
  int failures = 0;
  for (int fail_at = 1; fail_at < 100; ++fail_at) {
    test::FaultyXmlFactory faulty(fail_at);
    test::FaultyXmlFactory counting(fail_at);
    std::string id = "unchanged";
    const FunctionIdLookup result =
        ExtractFunctionId(faulty, "<P><FunctionID>1</FunctionID></P>", &id);
    const int32_t count = CountElements(counting, "<P><readic/></P>", "readic");
    if (faulty.operations() < fail_at && counting.operations() < fail_at) break;
    const bool failed = result == FunctionIdLookup::kDomFailure;
    EXPECT_TRUE(failed || result == FunctionIdLookup::kFound) << fail_at;
    EXPECT_EQ(id, failed ? "unchanged" : "1") << fail_at;
    EXPECT_EQ(count, count < 0 ? -1 : 1) << fail_at;
    failures += (failed ? 1 : 0) + (count < 0 ? 1 : 0);
  }
  EXPECT_GE(failures, 2);
}

TEST(CountElementsTest, Cases) {
  EXPECT_EQ(CountElements(Dom(), "<P><readic/><x><readic/></x><READIC/></P>", "readic"), 2);
  EXPECT_EQ(CountElements(Dom(), "<P/>", "readic"), 0);
  EXPECT_EQ(CountElements(Dom(), "not xml <readic/>", "readic"), 0);
}

// The card step's counts, the card run and the recordsets read one parse, into which the card run
// can fill the card's values.
TEST(CardDocumentTest, OneParseForTheCountsTheCardRunAndTheRecordSets) {
  class Counting final : public platform::XmlFactory {
   public:
    std::unique_ptr<platform::XmlDocument> NewDocument() override {
      ++made;
      return Dom().NewDocument();
    }
    int made = 0;
  } dom;
  Reply reply(dom, "<P><readic><r><card_no/></r></readic><rs><row><a>1</a></row></rs></P>");
  EXPECT_EQ(reply.CountElements("readic"), 1);
  platform::XmlDocument* doc = reply.CardDocument();
  ASSERT_NE(doc, nullptr);
  const platform::XmlNode item = doc->ElementsByTagName("card_no").front();
  doc->SetText(item, "A100");
  EXPECT_EQ(doc->Xml(item), "<card_no>A100</card_no>");
  RowStore rows;
  EXPECT_EQ(reply.UnpackRecordSet("rs", &rows), kUnpacked);
  EXPECT_EQ(dom.made, 1);
}

// A head with a Content-Length, as the exchange hands it to the reply.
struct Announced final : platform::HttpResponse {
  uint32_t status() const override { return 200; }
  std::optional<std::string> Header(std::string_view name) override {
    return name == "Content-Length" ? std::optional<std::string>(length) : std::nullopt;
  }
  std::string Head() override { return {}; }
  platform::CredentialAnswer AskCredentials(platform::Prompts&) override {
    return platform::CredentialAnswer::kCancel;
  }
  std::string length;
};

// The reply as it arrives: pieces appended, a name cut between two pieces still found, the room
// of an earlier reply kept up to 8 MB, and a larger one handed back unless the reply announced
// needs more than 8 MB and fits it with at most as much again to spare.
TEST(ReplySinkTest, TakesPiecesAndKeepsRoomUpToABound) {
  constexpr std::size_t kMb = std::size_t{1} << 20;
  const struct {
    std::size_t room;
    std::string length;
    bool kept;
  } cases[] = {{kMb, "37", true},
               {9 * kMb, "37", false},
               {9 * kMb, std::to_string(9 * kMb - 1), true},
               {40 * kMb, std::to_string(9 * kMb), false},
               {40 * kMb, std::to_string(20 * kMb), true},
               {40 * kMb, "", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.room);
    SCOPED_TRACE(c.length);
    std::string earlier;
    earlier.reserve(c.room);
    Reply reply(Dom(), std::move(earlier));
    Announced head;
    head.length = c.length;
    EXPECT_EQ(reply.OnHead(head), platform::HeadAction::kBody);
    EXPECT_EQ(reply.text().capacity() >= c.room, c.kept);
    EXPECT_GE(reply.text().capacity(), c.length.empty() ? 0u : std::stoul(c.length));
    for (std::string_view piece : {"<Program><Func", "tionID>8</FunctionID>", "</Program>"}) {
      EXPECT_TRUE(reply.OnBody(piece).ok());
    }
    reply.Arrived();
    EXPECT_EQ(reply.text(), "<Program><FunctionID>8</FunctionID></Program>");
    std::string id;
    EXPECT_EQ(reply.FunctionId(&id), FunctionIdLookup::kFound);
    EXPECT_EQ(id, "8");
  }
}

}  // namespace
}  // namespace qx::message
