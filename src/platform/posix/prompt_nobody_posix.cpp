// Nobody to ask: the question goes to standard error; a box answers OK or Cancel, the password
// entry answers empty and the credential request is cancelled. Always answers.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/posix/prompt_channel_posix.h"

namespace qx::platform::posix {
namespace {

void Note(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

class NobodyChannel final : public PromptChannel {
 public:
  std::optional<BoxAnswer> ShowBox(const Box& box) override {
    Note("[" + box.caption + "] " + box.text + "\n");
    return box.buttons == BoxButtons::kOk ? BoxAnswer::kOk : BoxAnswer::kCancel;
  }

  std::optional<std::string> AskPassword(std::string_view label) override {
    Note(std::string(label) + ": (no one to answer)\n");
    return std::string();
  }

  std::optional<std::optional<Credentials>> AskCredentials(std::string_view title) override {
    Note(std::string(title) + ": credentials requested, no one to answer\n");
    return std::optional<Credentials>();
  }
};

}  // namespace

std::unique_ptr<PromptChannel> NewNobodyChannel() { return std::make_unique<NobodyChannel>(); }

}  // namespace qx::platform::posix
