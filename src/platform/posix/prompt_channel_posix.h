// The ways the POSIX prompts reach the clerk, one file each: a dialog helper program (zenity,
// kdialog) when there is a display, the controlling terminal, and nobody. prompts_posix.cpp asks
// them in that order; a channel that cannot ask answers nullopt and the next one is tried.
// Channels see and return UTF-8; prompts_posix.cpp converts from and to GBK (DialogText).
#ifndef QX_PLATFORM_POSIX_PROMPT_CHANNEL_POSIX_H_
#define QX_PLATFORM_POSIX_PROMPT_CHANNEL_POSIX_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/prompts.h"

namespace qx::platform::posix {

// A message box to show, its texts in UTF-8.
struct Box {
  std::string text;
  std::string caption;
  std::string retry;  // the labels of the two buttons of kRetryCancel
  std::string cancel;
  BoxButtons buttons = BoxButtons::kOk;
  BoxIcon icon = BoxIcon::kNone;
};

class PromptChannel {
 public:
  PromptChannel() = default;
  PromptChannel(const PromptChannel&) = delete;
  PromptChannel& operator=(const PromptChannel&) = delete;
  virtual ~PromptChannel() = default;

  virtual std::optional<BoxAnswer> ShowBox(const Box& box) = 0;
  // What was typed, empty when escaped.
  virtual std::optional<std::string> AskPassword(std::string_view label) = 0;
  // The inner nullopt: cancelled.
  virtual std::optional<std::optional<Credentials>> AskCredentials(std::string_view title) = 0;
};

std::unique_ptr<PromptChannel> NewZenityChannel();    // prompt_zenity_posix.cpp
std::unique_ptr<PromptChannel> NewKdialogChannel();   // prompt_kdialog_posix.cpp
std::unique_ptr<PromptChannel> NewTerminalChannel();  // prompt_terminal_posix.cpp
std::unique_ptr<PromptChannel> NewNobodyChannel();    // prompt_nobody_posix.cpp

// A dialog helper program, run and waited for (dialog_helper_posix.cpp).
struct HelperResult {
  bool ran = false;
  int exit_code = -1;
  std::string output;  // standard output, at most 4096 bytes kept, without a trailing line end
};
HelperResult RunDialogHelper(const std::vector<std::string>& args);

// The button a helper's box was answered with (OK boxes answer OK; for Retry/Cancel, exit code 0
// is Retry); nullopt when the helper did not run.
std::optional<BoxAnswer> AnsweredBox(const HelperResult& result, BoxButtons buttons);

// What a helper asked for one hidden entry gave: nullopt when it did not run, the text typed when
// it ended with 0, else empty. The helper's own copy of the text is wiped.
std::optional<std::string> TypedEntry(HelperResult& result);
// True when an executable named program is in a folder of PATH.
bool OnPath(const std::string& program);

// GBK <-> UTF-8 for what the dialogs show and what the clerk types (dialog_text_posix.cpp).
std::string ToDisplay(std::string_view gbk);
std::string FromDisplay(std::string_view utf8);

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_PROMPT_CHANNEL_POSIX_H_
