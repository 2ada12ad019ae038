#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/default_parts.h"
#include "platform/prompts.h"
#include "support/fake_dialog.h"
#include "support/gbk.h"

namespace qx::platform {
namespace {

using test::FakeDialog;
using test::Gbk;

bool Has(const std::vector<std::string>& args, const std::string& arg) {
  for (const std::string& a : args) {
    if (a == arg) {
      return true;
    }
  }
  return false;
}

TEST(PosixPrompts, DialogHelperShowsGbkTextsAsUtf8AndReturnsTheAnswers) {
  FakeDialog dialog;
  Prompts& prompts = posix::DefaultPrompts();

  dialog.QueueAnswer(0);
  EXPECT_EQ(prompts.ShowBox(Gbk(u8"无效的口令."), Gbk(u8"错误"), BoxButtons::kOk, BoxIcon::kError),
            BoxAnswer::kOk);
  dialog.QueueAnswer(0);
  EXPECT_EQ(
      prompts.ShowBox("card", Gbk(u8"IC卡操作失败"), BoxButtons::kRetryCancel, BoxIcon::kNone),
      BoxAnswer::kRetry);
  dialog.QueueAnswer(1);
  // 0xFF shows as code page 936 shows it (U+F8F5), as in the Windows build's box.
  EXPECT_EQ(prompts.ShowBox("card\xFF", "c", BoxButtons::kRetryCancel, BoxIcon::kNone),
            BoxAnswer::kCancel);
  // Typed in UTF-8, handed back in GBK and cut to the field's 6 bytes.
  dialog.QueueAnswer(0, "12345678");
  EXPECT_EQ(prompts.AskPassword(Gbk(u8"请用户输入6位密码"), 6), "123456");
  dialog.QueueAnswer(0, "\u5bc6\u7801\u5bc6\u7801");  // four double-byte characters
  EXPECT_EQ(prompts.AskPassword("p", 6), Gbk(u8"密码密"));
  dialog.QueueAnswer(1, "ignored");
  EXPECT_EQ(prompts.AskPassword("p", 6), "");
  dialog.QueueAnswer(0, "alice|s3\U0001F600cr|et");  // a character GBK lacks: one '?'

  std::optional<Credentials> c = prompts.AskCredentials("center");
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->user, "alice");
  EXPECT_EQ(c->password, "s3?cr|et");
  EXPECT_FALSE(prompts.AskCredentials("center").has_value());

  const auto calls = dialog.Calls();
  ASSERT_EQ(calls.size(), 8u);
  EXPECT_TRUE(Has(calls[0], "--error"));
  EXPECT_TRUE(Has(calls[0], std::string("--title=") + "错误"));
  EXPECT_TRUE(Has(calls[0], std::string("--text=") + "无效的口令."));
  EXPECT_TRUE(Has(calls[1], "--question"));
  EXPECT_TRUE(Has(calls[1], std::string("--title=") + "IC卡操作失败"));
  EXPECT_TRUE(Has(calls[2], "--text=card\xEF\xA3\xB5"));
  EXPECT_TRUE(Has(calls[3], "--hide-text"));
  EXPECT_TRUE(Has(calls[3], std::string("--text=") + "请用户输入6位密码"));
  EXPECT_TRUE(Has(calls[6], "--username"));
}

TEST(PosixPrompts, NobodyToAnswerMeansCancelAndEmptyInput) {
  // No display and (under setsid, as in CI) no terminal: nothing blocks.
  const char* display = std::getenv("DISPLAY");
  std::string saved = display != nullptr ? display : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY);
  if (tty >= 0) {
    ::close(tty);
    if (display != nullptr) {
      setenv("DISPLAY", saved.c_str(), 1);
    }
    GTEST_SKIP() << "this process has a terminal, which would be asked";
  }
  Prompts& prompts = posix::DefaultPrompts();
  EXPECT_EQ(prompts.ShowBox("t", "c", BoxButtons::kRetryCancel, BoxIcon::kNone),
            BoxAnswer::kCancel);
  EXPECT_EQ(prompts.ShowBox("t", "c", BoxButtons::kOk, BoxIcon::kError), BoxAnswer::kOk);
  EXPECT_EQ(prompts.AskPassword("p", 6), "");
  EXPECT_FALSE(prompts.AskCredentials("center").has_value());
  if (display != nullptr) {
    setenv("DISPLAY", saved.c_str(), 1);
  }
}

}  // namespace
}  // namespace qx::platform
