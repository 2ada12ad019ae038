// What the clerk sees on POSIX. A library has no window of its own, so each question goes to the
// first channel that can ask it:
//  - with a display (DISPLAY or WAYLAND_DISPLAY set) and zenity or kdialog on the PATH, the
//    dialog helper program shows the box or the entry and we read its answer;
//  - else, when the process has a controlling terminal, /dev/tty asks (the entry without echo);
//  - else nobody can answer: the text goes to standard error, boxes answer OK or Cancel, entries
//    answer empty.
// Texts arrive in GBK and are shown in UTF-8; typed answers go back to GBK (dialog_text_posix.cpp).
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/gbk_text.h"
#include "platform/default_parts.h"
#include "platform/memory_wipe.h"
#include "platform/posix/prompt_channel_posix.h"
#include "platform/prompts.h"

namespace qx::platform::posix {
namespace {

// Button labels, GBK ("重试", "取消").
constexpr std::string_view kRetryLabel = "\xD6\xD8\xCA\xD4";
constexpr std::string_view kCancelLabel = "\xC8\xA1\xCF\xFB";

bool HasDisplay() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The channels for one question, in the order they are tried; the last one always answers.
// Display and PATH are looked at afresh for every question.
std::vector<std::unique_ptr<PromptChannel>> Channels() {
  std::vector<std::unique_ptr<PromptChannel>> channels;
  if (HasDisplay()) {
    if (OnPath("zenity")) {
      channels.push_back(NewZenityChannel());
    } else if (OnPath("kdialog")) {
      channels.push_back(NewKdialogChannel());
    }
  }
  channels.push_back(NewTerminalChannel());
  channels.push_back(NewNobodyChannel());
  return channels;
}

class PosixPrompts final : public Prompts {
 public:
  BoxAnswer ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                    BoxIcon icon) override {
    const Box box{.text = ToDisplay(text),
                  .caption = ToDisplay(caption),
                  .retry = ToDisplay(kRetryLabel),
                  .cancel = ToDisplay(kCancelLabel),
                  .buttons = buttons,
                  .icon = icon};
    for (const auto& channel : Channels()) {
      if (std::optional<BoxAnswer> answer = channel->ShowBox(box)) {
        return *answer;
      }
    }
    return buttons == BoxButtons::kOk ? BoxAnswer::kOk : BoxAnswer::kCancel;
  }

  std::string AskPassword(std::string_view label, std::size_t max_length) override {
    const std::string shown_label = ToDisplay(label);
    std::string typed;
    for (const auto& channel : Channels()) {
      if (std::optional<std::string> answer = channel->AskPassword(shown_label)) {
        typed = std::move(*answer);
        WipeString(&*answer);
        break;
      }
    }
    std::string converted = FromDisplay(typed);
    std::string gbk(CutToWholeGbkCharacters(converted, max_length));
    WipeString(&converted);
    WipeString(&typed);
    return gbk;
  }

  std::optional<Credentials> AskCredentials(std::string_view target) override {
    const std::string title = ToDisplay(target);
    for (const auto& channel : Channels()) {
      if (std::optional<std::optional<Credentials>> answer = channel->AskCredentials(title)) {
        if (!*answer) {
          return std::nullopt;
        }
        Credentials gbk{FromDisplay((*answer)->user), FromDisplay((*answer)->password)};
        WipeString(&(*answer)->password);
        return gbk;
      }
    }
    return std::nullopt;
  }
};

}  // namespace

Prompts& DefaultPrompts() { return ProcessWide<PosixPrompts>(); }

}  // namespace qx::platform::posix
