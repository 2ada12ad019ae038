#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "interface/insurance_interface.h"
#include "interface/interface_fixture.h"
#include "support/gbk.h"

namespace qx::test {
namespace {

TEST_F(InterfaceTest, DefaultsAtLoadAndAConfigurationPathOfAnyLength) {
  files_.current_directory = "/" + std::string(3000, 'd');
  InsuranceInterface& iface = Make();
  EXPECT_EQ(iface.config_path(), files_.current_directory + "/qx_interface.ini");
  EXPECT_FALSE(iface.initialised());
  EXPECT_EQ(iface.card_port(), 1);
  EXPECT_EQ(iface.function_id(), "0");
  EXPECT_EQ(iface.status(), 0);
  EXPECT_EQ(iface.ResultHandle(nullptr), 0);

  files_.current_directory = "";
  EXPECT_EQ(Make().config_path(), "qx_interface.ini");
}

TEST_F(InterfaceTest, ComPortRules) {
  const struct {
    const char* com;
    int32_t port;
  } cases[] = {{"", 1}, {"0", 1}, {"11", 1}, {"x", 1}, {"10", 10}, {"3", 3}, {" 7abc", 7}};
  for (const auto& c : cases) {
    files_.files[IniPath()] =
        std::string("[center]\nserver=127.0.0.1\nport=80\nservlet=/s\ncom=") + c.com + "\n";
    InsuranceInterface& iface = Make();
    ASSERT_EQ(iface.InitHandle(nullptr), 1) << c.com;
    EXPECT_EQ(iface.card_port(), c.port) << c.com;
    EXPECT_EQ(iface.status(), 1);
    EXPECT_EQ(iface.servlet(), "/s");
  }
}

TEST_F(InterfaceTest, UnreadableFileIsReportedAndNeverOverwritten) {
  files_.unreadable.insert(IniPath());
  InsuranceInterface& iface = Make();
  std::string message(300, ' ');
  EXPECT_EQ(iface.InitHandle(message.data()), -1);
  EXPECT_EQ(std::string(message.c_str()), Gbk(u8"初始化配置文件无法打开(") + IniPath() + ").");
  EXPECT_EQ(prompts_.Boxes().size(), 1u);
  EXPECT_EQ(iface.ConfigHandle("a", nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(files_.replace_calls, 0);
}

TEST_F(InterfaceTest, ConfigReportsAFailedWriteAndLeavesTheFile) {
  files_.files[IniPath()] = "[center]\r\nserver=a\r\n\r\n";
  files_.replace_failures_after = 0;
  InsuranceInterface& iface = Make();
  EXPECT_EQ(iface.ConfigHandle("b", nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(files_.files[IniPath()], "[center]\r\nserver=a\r\n\r\n");
  files_.replace_failures_after = -1;
  EXPECT_EQ(iface.ConfigHandle("b", nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(files_.files[IniPath()], "[center]\r\nserver=b\r\n\r\n");
  // Nothing of the running interface changes until the next init_handle.
  EXPECT_FALSE(iface.initialised());
}

}  // namespace
}  // namespace qx::test
