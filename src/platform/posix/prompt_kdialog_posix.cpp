// kdialog: --yesno with Retry/Cancel labels, --error or --msgbox, --password for the card
// password, and for credentials an --inputbox for the user name followed by a --password. The
// channel cannot ask when kdialog could not be started.
#include <memory>
#include <string>
#include <utility>

#include "platform/memory_wipe.h"
#include "platform/posix/prompt_channel_posix.h"

namespace qx::platform::posix {
namespace {

class KdialogChannel final : public PromptChannel {
 public:
  std::optional<BoxAnswer> ShowBox(const Box& box) override {
    std::vector<std::string> args{"kdialog", "--title", box.caption};
    if (box.buttons == BoxButtons::kRetryCancel) {
      args.insert(args.end(),
                  {"--yesno", box.text, "--yes-label", box.retry, "--no-label", box.cancel});
    } else {
      args.insert(args.end(), {box.icon == BoxIcon::kError ? "--error" : "--msgbox", box.text});
    }
    return AnsweredBox(RunDialogHelper(args), box.buttons);
  }

  std::optional<std::string> AskPassword(std::string_view label) override {
    HelperResult r = RunDialogHelper({"kdialog", "--password", std::string(label)});
    return TypedEntry(r);
  }

  std::optional<std::optional<Credentials>> AskCredentials(std::string_view title) override {
    HelperResult user =
        RunDialogHelper({"kdialog", "--title", std::string(title), "--inputbox", "User name"});
    if (!user.ran) {
      return std::nullopt;
    }
    if (user.exit_code != 0) {
      return std::optional<Credentials>();
    }
    HelperResult pass =
        RunDialogHelper({"kdialog", "--title", std::string(title), "--password", "Password"});
    if (pass.exit_code != 0) {
      return std::optional<Credentials>();
    }
    Credentials answer{user.output, pass.output};
    WipeString(&pass.output);
    return std::optional<Credentials>(std::move(answer));
  }
};

}  // namespace

std::unique_ptr<PromptChannel> NewKdialogChannel() { return std::make_unique<KdialogChannel>(); }

}  // namespace qx::platform::posix
