#include <gtest/gtest.h>

#include <string>

#include "interface/insurance_interface.h"
#include "interface/interface_fixture.h"
#include "support/gbk.h"

namespace qx::test {
namespace {

// Every text of the status table, byte for byte in GBK.
TEST_F(InterfaceTest, StatusTableTextsAreGbk) {
  const struct {
    int32_t code;
    const char8_t* text;
  } table[] = {
      {-2, u8"没有开始业务调用不能调用运行函数."},
      {-3, u8"没有初始化接口不能调用运行函数."},
      {-5, u8"处理IC卡失败！"},
      {-6, u8"事务未开始，不能输入参数！"},
      {-7, u8"行号太大，请输入连贯行号！"},
      {-8, u8"没有入参串"},
      {-100, u8"行号越界."},
      {-101, u8"对应行没有数据."},
      {-102, u8"没有数据项可找."},
      {-103, u8"错误的数据项名称."},
      {-104, u8"错误的函数调用--空指针."},
      {-105, u8"没有此记录集."},
      {-106, u8"解包时出错."},
      {-107, u8"打包时出错."},
      {-108, u8"没有数据！"},
      {-109, u8"不能增加行！"},
      {-110, u8"请设置记录集后再增加行！"},
      {-111, u8"行已到底！"},
      {-112, u8"找不到对应的记录集名！"},
      {-113, u8"动态装载ic卡动态库qxic.dll出错！"},
      {-114, u8"设置记录集时出错."},
      {-200, u8"找不到IC卡函数(ICStart)！"},
      {-201, u8"找不到IC卡函数(ICGet)！"},
      {-202, u8"找不到IC卡函数(ICPut)！"},
      {-203, u8"找不到IC卡函数(ICExecute)！"},
      {-204, u8"找不到IC卡函数(ICReset)！"},
      {-205, u8"IC卡函数(ICStart)执行出错！"},
      {-206, u8"IC卡函数(ICGet)执行出错！"},
      {-207, u8"IC卡函数(ICPut)执行出错！"},
      {-208, u8"写IC卡出错，IC卡原数据可能已坏！"},
      {-209, u8"写IC卡出错，IC卡原数据已恢复！"},
      {-210, u8"IC卡函数(ICReset)执行出错！"},
      {-211, u8"找不到IC卡函数(ICGeterrMsg)！"},
      {-300, u8"请先登录!"},
      {-301, u8"生成带登录信息的调用XML出错!!"},
      {-801, u8"生成带用户信息的调用XML出错!"},
      {0, u8"系统处理成功！"},
      {1, u8"系统处理成功！"},
      {5, u8"系统处理成功！"},
      {-1, u8"系统处理出错！"},
      {-9, u8"系统处理出错！"},
      {-999, u8"系统处理出错！"},
      {-320, u8"系统处理出错！"},
  };
  InsuranceInterface& iface = Make();
  EXPECT_EQ(iface.status(), 0);
  EXPECT_EQ(iface.message(), Gbk(u8"系统处理成功！"));
  for (const auto& row : table) {
    iface.SetStatus(row.code);
    EXPECT_EQ(iface.status(), row.code);
    EXPECT_EQ(iface.message(), Gbk(row.text)) << "code " << row.code;
  }
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
