// Completing requests with the user and login information blocks. Serialised requests are
// compared byte for byte after Canonical(), which takes out only the DOM's indentation between
// elements and its choice between "<x></x>" and "<x/>".
#include "message/request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "base/status_codes.h"
#include "message/reply.h"
#include "message_test_util.h"
#include "platform/env.h"
#include "support/gbk.h"

namespace qx::message {
namespace {

platform::XmlFactory& Dom() { return *platform::DefaultEnv().xml; }

const UserInfo kUser{"3301", "A0017", test::Gbk(u8"王小明")};

// One block added to a request of its own.
std::optional<std::string> InsertUserInfo(platform::XmlFactory& dom, std::string text,
                                          const UserInfo& user) {
  Request request(dom, std::move(text));
  if (!request.InsertUserInfo(user)) return std::nullopt;
  return request.Completed();
}
std::optional<std::string> InsertLoginInfo(platform::XmlFactory& dom, std::string text,
                                           std::string_view login) {
  Request request(dom, std::move(text));
  if (!request.InsertLoginInfo(login)) return std::nullopt;
  return request.Completed();
}
// Both blocks added to one parse of the request, as a business call adds them.
std::optional<std::string> InsertBoth(std::string text, std::string_view login) {
  Request request(Dom(), std::move(text));
  std::string id;  // read first from the same parse
  if (request.FunctionId(&id) != FunctionIdLookup::kFound || id != "21") return std::nullopt;
  if (!request.InsertUserInfo(kUser) || !request.InsertLoginInfo(login)) return std::nullopt;
  return request.Completed();
}

TEST(RequestAssemblyTest, WithoutCenterIdTheRequestPassesByteForByte) {
  const std::string request = test::ReadMessageData("request_with_blocks.xml");
  ASSERT_FALSE(request.empty());
  const std::string not_xml = "\x81<<not xml at all";
  for (const std::string& text : {request, not_xml, std::string()}) {
    std::optional<std::string> out = InsertUserInfo(Dom(), text, UserInfo{"", "x", "y"});
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, text);
  }
}

// A request that already carries both blocks gets them replaced: the new ones stand at the end,
// user information before login information; the declaration is gone after the DOM wrote it.
TEST(RequestAssemblyTest, ReplacesExistingBlocks) {
  const std::string request = test::ReadMessageData("request_with_blocks.xml");
  std::optional<std::string> with_login = InsertBoth(request, "LOGIN-1");
  ASSERT_TRUE(with_login.has_value());
  // One block at a time, each after a parse of its own, writes the same.
  std::optional<std::string> stepwise =
      InsertLoginInfo(Dom(), *InsertUserInfo(Dom(), request, kUser), "LOGIN-1");
  ASSERT_TRUE(stepwise.has_value());
  EXPECT_EQ(*stepwise, *with_login);
  EXPECT_EQ(test::Canonical(*with_login),
            test::Gbk(u8"<Program><FunctionID>21</FunctionID>"
                      u8"<parameters><card_no>C000123</card_no><name>赵钱孙</name></parameters>"
                      u8"<user_info><row1><center_id>3301</center_id><staff_id>A0017</staff_id>"
                      u8"<staff_name>王小明</staff_name></row1></user_info>"
                      u8"<addition-xml><row1><add1>LOGIN-1</add1></row1></addition-xml>"
                      u8"</Program>"));
  // Applying both again changes nothing.
  std::optional<std::string> again = InsertBoth(*with_login, "LOGIN-1");
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(test::Canonical(*again), test::Canonical(*with_login));
}

TEST(RequestAssemblyTest, LoginStepDropsTheDeclarationAndWritesEmptyValues) {
  const std::string request =
      "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<!--host--><Program><FunctionID>8"
      "</FunctionID></Program>\r\n<?after x?>";
  std::optional<std::string> out = InsertLoginInfo(Dom(), request, "");
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(test::Canonical(*out),
            "<Program><FunctionID>8</FunctionID><addition-xml><row1><add1/></row1>"
            "</addition-xml></Program>");

  out = InsertUserInfo(Dom(), "<P/>", UserInfo{"1", "", ""});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(test::Canonical(*out),
            "<P><user_info><row1><center_id>1</center_id><staff_id/><staff_name/></row1>"
            "</user_info></P>");
}

// What the blocks carry comes back unchanged when the center's side reads them: markup
// characters escaped, GBK kept, long values whole.
TEST(RequestAssemblyTest, ValuesSurviveTheRoundTrip) {
  std::string long_value(3000, 'x');
  long_value += test::Gbk(u8"尾");
  const UserInfo user{"a<b&c>\"d'", test::Gbk(u8"编号€"), long_value};
  std::optional<std::string> out = InsertUserInfo(Dom(), "<Program/>", user);
  ASSERT_TRUE(out.has_value());
  RowStore rows;
  Reply reply(Dom(), *out);
  ASSERT_EQ(reply.UnpackRecordSet("user_info", &rows), status::kOk);
  ASSERT_EQ(rows.row_count(), 1);
  const auto& items = rows.rows()[0].items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].value, user.center_id);
  EXPECT_EQ(items[1].value, user.staff_id);
  EXPECT_EQ(items[2].value, user.staff_name);
}

TEST(RequestAssemblyTest, BlocksThatCannotBeRemovedFailTheStep) {
  struct Case {
    const char* what;
    std::string xml;
  } cases[] = {
      {"nested user_info", "<P><a><user_info/></a></P>"},
      {"root named user_info", "<user_info><row1/></user_info>"},
      {"one direct and one nested", "<P><user_info/><x><user_info/></x></P>"},
      {"does not parse", "<P>"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InsertUserInfo(Dom(), c.xml, kUser), std::nullopt) << c.what;
    std::string login_xml = c.xml;
    for (size_t at; (at = login_xml.find("user_info")) != std::string::npos;) {
      login_xml.replace(at, 9, "addition-xml");
    }
    EXPECT_EQ(InsertLoginInfo(Dom(), login_xml, "L"), std::nullopt) << c.what;
  }
  // The other block's name in the wrong place does not matter.
  EXPECT_TRUE(InsertUserInfo(Dom(), "<P><a><addition-xml/></a></P>", kUser).has_value());
  EXPECT_TRUE(InsertLoginInfo(Dom(), "<user_info><a/></user_info>", "L").has_value());
}

TEST(RequestAssemblyTest, DomFailureAtEveryStep) {
  const std::string request = test::ReadMessageData("request_with_blocks.xml");
  for (bool login : {false, true}) {
    int failures = 0;
    for (int fail_at = 1;; ++fail_at) {
      ASSERT_LT(fail_at, 200);
      test::FaultyXmlFactory faulty(fail_at);
      std::optional<std::string> out;
      if (login) {
        out = InsertLoginInfo(faulty, request, "L");
      } else {
        Request both(faulty, request);
        if (both.InsertUserInfo(kUser) && both.InsertLoginInfo("L")) out = both.Completed();
      }
      if (faulty.operations() < fail_at) {
        EXPECT_TRUE(out.has_value());
        break;
      }
      ++failures;
      EXPECT_EQ(out, std::nullopt) << fail_at;
    }
    EXPECT_GT(failures, 5);
  }
}

// A request of plain markup is completed as text, without a parse; it must come out as the DOM
// writes it, and anything else must still go through the DOM.
TEST(RequestAssemblyTest, PlainRequestsAreSplicedAsTheDomWritesThem) {
  const std::string gbk = test::Gbk(u8"王");
  auto check = [](const std::string& xml, const UserInfo& user, const std::string& login,
                  bool spliced) {
    auto complete = [&](platform::XmlFactory& dom, Request::Assembly assembly) {
      Request request(dom, xml, assembly);
      std::string id = "none";
      const FunctionIdLookup found = request.FunctionId(&id);
      const bool user_added = request.InsertUserInfo(user);
      const bool login_added = user_added && request.InsertLoginInfo(login);
      return std::tuple(found, id, user_added, login_added, request.Completed());
    };
    test::FaultyXmlFactory counting(1000);
    EXPECT_EQ(complete(counting, Request::Assembly::kSpliceWherePlain),
              complete(Dom(), Request::Assembly::kDomOnly))
        << xml << " / " << user.staff_name << " / " << login;
    EXPECT_EQ(counting.operations() == 0, spliced) << xml << " / " << user.staff_name;
  };
  // Requests, with plain values: true where the text is written back as it stands.
  const std::pair<std::string, bool> requests[] = {
      {"<Program><FunctionID>21</FunctionID><p><count>2</count><e/></p></Program>", true},
      {"<P><FunctionID/><a.b-c_d>x y</a.b-c_d><n>" + gbk + " " + gbk + "</n></P>", true},
      {"<FunctionID>21</FunctionID>", true},
      {"<P><FunctionID>" + std::string(52, '9') + "</FunctionID></P>", true},
      {"<P><FunctionID>21</FunctionID><a></a></P>", false},
      {"<P> <FunctionID>21</FunctionID></P>", false},
      {"<P><FunctionID> 21</FunctionID></P>", false},
      {"<P><FunctionID>2 1</FunctionID></P>", false},
      {"<P><FunctionID><x>21</x></FunctionID></P>", false},
      {"<P><FunctionID>" + gbk + "</FunctionID></P>", false},
      {"<P a=\"1\"><FunctionID>21</FunctionID></P>", false},
      {"<P><a >x</a></P>", false},
      {"<P><x:a/></P>", false},
      {"<P>a&amp;b</P>", false},
      {"<P>a>b</P>", false},
      {"<?xml version=\"1.0\"?><P/>", false},
      {"<P></P>\r\n", false},
      {"<P><a/></P><Q/>", false},
      {"<P/>", false},
      {"<P><user_info/></P>", false},
      {"<P><a><addition-xml/></a></P>", false},
      {"<P><a/></Q>", false},
      {"<P><a/>", false},
  };
  for (const auto& [xml, spliced] : requests) check(xml, {"1", "A 17", ""}, "QX-1", spliced);
  // Values, in a plain request: true where the DOM writes them back as they are.
  const std::pair<std::string, bool> values[] = {
      {gbk, true},
      {"", true},
      {"a&b", false},
      {" L", false},
      {gbk.substr(0, 1), false},
      {"\x81\x7F", false},
      {"\x80", false},
      {"\t", false},
  };
  const std::string plain = "<P><FunctionID>21</FunctionID></P>";
  for (const auto& [value, spliced] : values) {
    check(plain, {"1", "2", value}, "L", spliced);
    check(plain, {"1", "2", "3"}, value, spliced);
  }
  check(plain, {"", "", ""}, "L", true);  // no user information: only the login block
}

}  // namespace
}  // namespace qx::message
