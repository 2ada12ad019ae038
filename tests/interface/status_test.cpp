#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "base/status_codes.h"
#include "base/system_texts.h"
#include "interface/insurance_interface.h"
#include "interface/interface_fixture.h"
#include "support/gbk.h"

namespace qx::test {
namespace {

// Every code of base/status_codes.h has a text of its own: in the interface's table, in the card
// binding's (-200 to -211 in both, alike), or as a failing entry point's prefix. The few that take
// the text of their sign are named. One row is compared byte for byte: the table is GBK.
TEST(StatusTexts, EveryCodeHasATextAndTheTableIsGbk) {
  std::ifstream header(QX_SOURCE_DIR "/src/base/status_codes.h");
  const std::string source((std::istreambuf_iterator<char>(header)), {});
  const std::regex constant(R"(inline constexpr int32_t (k\w+) = (-?\d+);)");
  const std::set<std::string> sign_text = {"kOk", "kInitialised", "kCardNumberDiffers",
                                           "kBalanceRefused"};
  int codes = 0;
  for (std::sregex_iterator it(source.begin(), source.end(), constant), end; it != end; ++it) {
    const std::string name = (*it)[1];
    const int32_t code = std::stoi((*it)[2]);
    const std::string_view sign = code >= 0 ? texts::StatusText(1) : texts::StatusText(-1);
    ++codes;
    if (sign_text.count(name) != 0) {
      EXPECT_EQ(texts::StatusText(code), sign) << name;
      continue;
    }
    EXPECT_TRUE(texts::StatusText(code) != sign || texts::CardStatusText(code) != sign ||
                !texts::CardFailurePrefix(code).empty())
        << name << " (" << code << ") has no text";
    if (code >= -211 && code <= -200) {
      EXPECT_EQ(texts::StatusText(code), texts::CardStatusText(code)) << name;
    }
  }
  EXPECT_GE(codes, 52);  // codes are only ever added
  EXPECT_EQ(texts::StatusText(5), Gbk(u8"系统处理成功！"));
  EXPECT_EQ(texts::CardStatusText(-999), Gbk(u8"系统处理出错！"));
  EXPECT_EQ(texts::StatusText(status::kWriteDamaged),  // 写IC卡出错，IC卡原数据可能已坏！
            "\xD0\xB4IC\xBF\xA8\xB3\xF6\xB4\xED\xA3\xACIC\xBF\xA8\xD4\xAD\xCA\xFD\xBE\xDD"
            "\xBF\xC9\xC4\xDC\xD2\xD1\xBB\xB5\xA3\xA1");
}

TEST_F(InterfaceTest, TransferFailureAppendsTheDescriptionAndIsCutOnAWholeCharacter) {
  InsuranceInterface& iface = Make();
  iface.SetStatus(-4);
  EXPECT_EQ(iface.message(), Gbk(u8"传数据出错,"));

  // A long description of double-byte characters after 12 single bytes.
  std::string description;
  for (int i = 0; i < 600; ++i) {
    description += Gbk(u8"医");
  }
  iface.SetStatusWithMessage(-4, Gbk(u8"传数据出错,") + "x" + description);
  // 1023 - 12 = 1011 bytes: 505 whole characters, the 506th would be cut in half.
  EXPECT_EQ(iface.message().size(), 12u + 505u * 2u);
  EXPECT_EQ(iface.message().substr(12), description.substr(0, 1010));
}

TEST_F(InterfaceTest, ResultXmlIsExactAndEscapesMarkupInTheMessage) {
  InsuranceInterface& iface = Make();
  EXPECT_EQ(iface.status(), 0);
  EXPECT_EQ(iface.message(), Gbk(u8"系统处理成功！"));
  iface.SetStatus(-8);
  std::string buffer(200, ' ');
  iface.BuildResultXml(buffer.data());
  const std::string expected = "<Program><ErrorNo>-8</ErrorNo><ErrorMessage>" +
                               Gbk(u8"没有入参串") +
                               "</ErrorMessage><ErrorType>2</ErrorType>"
                               "<Exception></Exception></Program>";
  EXPECT_EQ(iface.output(), expected);
  EXPECT_EQ(std::string(buffer.c_str()), expected);

  iface.SetStatusWithMessage(-303, "a<b & c>d");
  iface.BuildResultXml(nullptr);
  EXPECT_EQ(iface.output(),
            "<Program><ErrorNo>-303</ErrorNo><ErrorMessage>a&lt;b &amp; c&gt;d</ErrorMessage>"
            "<ErrorType>2</ErrorType><Exception></Exception></Program>");

  // The buffer rule: one byte short of the text leaves the buffer as it was.
  std::string shorter(iface.output().size() - 1, ' ');
  const std::string before = shorter;
  iface.BuildResultXml(shorter.data());
  EXPECT_EQ(shorter, before);
  std::string exact(iface.output().size(), ' ');
  iface.BuildResultXml(exact.data());
  EXPECT_EQ(exact, iface.output());
}

TEST(BufferRule, CountsOnlyUpToTheFirstZeroByte) {
  char buffer[16] = "abc\0defghijklmn";
  EXPECT_FALSE(OfferToBuffer("abcd", buffer));
  EXPECT_EQ(std::string(buffer, 15), std::string("abc\0defghijklmn", 15));
  EXPECT_TRUE(OfferToBuffer("xyz", buffer));
  EXPECT_EQ(std::string(buffer, 5), std::string("xyz\0d", 5));
  char empty[4] = "";
  EXPECT_TRUE(OfferToBuffer("", empty));
  EXPECT_FALSE(OfferToBuffer("a", empty));
  EXPECT_FALSE(OfferToBuffer("a", nullptr));
}

}  // namespace
}  // namespace qx::test
