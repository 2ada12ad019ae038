// GBK <-> UTF-8 as the Windows conversion functions do it: how bytes that start no character and
// characters GBK cannot hold are replaced, and every double-byte code there and back. The tables
// themselves are compared with code page 936 entry for entry by the Windows suite
// (tests/code_page/).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/default_parts.h"
#include "platform/posix/code_page.h"
#include "platform/xml_document.h"
#include "support/gbk.h"

namespace qx::platform {
namespace {

TEST(CodePageTest, AnsiToUtf8ReplacesOneByteAtATime) {
  struct Case {
    const char* what;
    std::string ansi;
    std::string utf8;
  } cases[] = {
      {"ascii", "abc<>&\x7F", "abc<>&\x7F"},
      {"chinese", test::Gbk(u8"看病"), "\xE7\x9C\x8B\xE7\x97\x85"},
      {"euro single byte", "\x80", "\xE2\x82\xAC"},
      {"euro as trail byte stays a pair", "\x81\x80", "\xE4\xBA\x90"},
      {"lead at end", "x\xC7", "x?"},
      {"valid pair then lead at end", "\xBF\xB4\xC7", "\xE7\x9C\x8B?"},
      {"lead before ascii keeps the ascii", "\x81\x30z", "?0z"},
      {"lead before 0x7F", "\x81\x7F", "?\x7F"},
      {"lead before NUL keeps the NUL", std::string("\x81\0a", 3), std::string("?\0a", 3)},
      {"0xFF is U+F8F5", "\xFF\xFF", "\xEF\xA3\xB5\xEF\xA3\xB5"},
      {"lead before euro byte pairs with it", "\xB0\x80", "\xE7\x9A\x9C"},
      {"user-defined area is private use", "\xAA\xA1", "\xEE\x80\x80"},
      {"user-defined area A140", "\xA1\x40", "\xEE\x93\x86"},
      {"user-defined area FEFE", "\xFE\xFE", "\xEE\x93\x85"},
      {"a pair glibc refuses is private use, and the byte after it stays itself", "\xA2\xAB|",
       "\xEE\x9D\xA6|"},
  };
  CodePage code_page;
  for (const Case& c : cases) {
    EXPECT_EQ(code_page.ToUtf8(c.ansi), c.utf8) << c.what;
  }
}

TEST(CodePageTest, Utf8ToAnsiReplacesWhatGbkCannotHold) {
  struct Case {
    const char* what;
    std::string utf8;
    std::string ansi;
  } cases[] = {
      {"chinese", "\xE7\x9C\x8B\xE7\x97\x85", test::Gbk(u8"看病")},
      {"euro", "\xE2\x82\xAC", "\x80"},
      {"thai letter",
       "a\xE0\xB8\x81"
       "b",
       "a?b"},
      {"outside the BMP is one character", "\xF0\x9F\x98\x80", "?"},
      {"between chinese", "\xE7\x9C\x8B\xF0\x9F\x98\x80\xE7\x97\x85", test::Gbk(u8"看?病")},
      {"private use back to the user-defined area", "\xEE\x80\x80", "\xAA\xA1"},
      {"private use beyond the user-defined areas", "\xEE\x9D\xA6\xEE\xA1\xA4", "\xA2\xAB\xFE\xA0"},
      {"U+F8F5", "\xEF\xA3\xB5", "\xFF"},
      {"best fit: middle dot, feminine ordinal, a compatibility ideograph",
       "\xC2\xB7\xC2\xAA\xEF\xA4\x80",
       "\xA1\xA4"
       "a\xD8\x4D"},
      {"truncated sequence", "a\xE7\x9C", "a??"},
      {"encoded surrogate", "\xED\xA0\x80", "???"},
      {"stray continuation byte", "\x80z", "?z"},
  };
  CodePage code_page;
  for (const Case& c : cases) {
    EXPECT_EQ(code_page.ToAnsi(c.utf8), c.ansi) << c.what;
  }
}

TEST(CodePageTest, AppendsToWhatIsThere) {
  CodePage code_page;
  std::string out = "<";
  code_page.AppendUtf8(test::Gbk(u8"名"), &out);
  code_page.AppendAnsi(">", &out);
  EXPECT_EQ(out, "<\xE5\x90\x8D>");
}

// Every lead/trail pair is one character of its own (a private-use one in the user-defined areas
// and A2AB to FEA0) and comes back unchanged, alone and within one long text, also through a
// document.
TEST(CodePageTest, EveryDoubleByteCodeRoundTrips) {
  CodePage code_page;
  std::string all_ansi;
  std::string all_utf8;
  int private_use = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = code_page.ToUtf8(pair);
      ASSERT_EQ(code_page.ToAnsi(utf8), pair) << std::hex << lead << ' ' << trail;
      private_use += utf8[0] == '\xEE';
      all_ansi += pair;
      all_utf8 += utf8;
    }
  }
  EXPECT_EQ(private_use, 1894 + 255);  // the user-defined areas, and A2AB to FEA0
  EXPECT_EQ(code_page.ToUtf8(all_ansi), all_utf8);
  EXPECT_EQ(code_page.ToAnsi(all_utf8), all_ansi);

  std::unique_ptr<XmlDocument> doc = posix::DefaultXmlFactory().NewDocument();
  ASSERT_TRUE(doc->LoadXml("<a>" + all_ansi + "</a>"));
  EXPECT_EQ(doc->Text(doc->DocumentElement()), all_ansi);
}

}  // namespace
}  // namespace qx::platform
