// zenity: --question with Retry/Cancel labels, --error or --info, a hidden --entry for the card
// password, and --password --username for credentials ("user|password" on its output; the first
// '|' divides them). The channel cannot ask when zenity could not be started.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/memory_wipe.h"
#include "platform/posix/prompt_channel_posix.h"

namespace qx::platform::posix {
namespace {

class ZenityChannel final : public PromptChannel {
 public:
  std::optional<BoxAnswer> ShowBox(const Box& box) override {
    std::vector<std::string> args{"zenity"};
    if (box.buttons == BoxButtons::kRetryCancel) {
      args.insert(args.end(),
                  {"--question", "--ok-label=" + box.retry, "--cancel-label=" + box.cancel});
    } else {
      args.push_back(box.icon == BoxIcon::kError ? "--error" : "--info");
    }
    args.insert(args.end(), {"--no-markup", "--title=" + box.caption, "--text=" + box.text});
    return AnsweredBox(RunDialogHelper(args), box.buttons);
  }

  std::optional<std::string> AskPassword(std::string_view label) override {
    HelperResult r =
        RunDialogHelper({"zenity", "--entry", "--hide-text", "--title=" + std::string(label),
                         "--text=" + std::string(label)});
    return TypedEntry(r);
  }

  std::optional<std::optional<Credentials>> AskCredentials(std::string_view title) override {
    HelperResult r =
        RunDialogHelper({"zenity", "--password", "--username", "--title=" + std::string(title)});
    if (!r.ran) {
      return std::nullopt;
    }
    std::optional<Credentials> answer;
    const std::size_t bar = r.output.find('|');
    if (r.exit_code == 0 && bar != std::string::npos) {
      answer = Credentials{r.output.substr(0, bar), r.output.substr(bar + 1)};
    }
    WipeString(&r.output);
    return answer;
  }
};

}  // namespace

std::unique_ptr<PromptChannel> NewZenityChannel() { return std::make_unique<ZenityChannel>(); }

}  // namespace qx::platform::posix
