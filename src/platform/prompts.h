// What the clerk at the counter sees: modal message boxes and the two entry dialogs. Every text
// handed in is in the ANSI code page (GBK); implementations convert for display themselves.
// Win32 shows MessageBoxA without an owner window and dialog resources; POSIX uses a dialog
// helper program when a display is present, else the controlling terminal, else nobody answers
// (Cancel, empty input) and the text goes to standard error.
#ifndef QX_PLATFORM_PROMPTS_H_
#define QX_PLATFORM_PROMPTS_H_

#include <optional>
#include <string>
#include <string_view>

namespace qx::platform {

enum class BoxButtons { kOk, kRetryCancel };
enum class BoxIcon { kNone, kError, kInformation };
enum class BoxAnswer { kOk, kRetry, kCancel };

struct Credentials {
  std::string user;
  std::string password;
};

class Prompts {
 public:
  Prompts() = default;
  Prompts(const Prompts&) = delete;
  Prompts& operator=(const Prompts&) = delete;
  virtual ~Prompts() = default;

  // A modal box with text, caption, buttons and icon. With kOk the answer is kOk (also when
  // nobody can answer); with kRetryCancel it is kRetry or kCancel (kCancel when nobody answers).
  virtual BoxAnswer ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                            BoxIcon icon) = 0;

  // The card password: a masked single-line entry of at most max_length bytes under label.
  // Returns what was typed (confirmed with Enter); empty when escaped or nobody answers.
  virtual std::string AskPassword(std::string_view label, std::size_t max_length) = 0;

  // User name and password for a center that answered 401. target names the server (and the
  // realm, when there is one). nullopt when cancelled or nobody answers.
  virtual std::optional<Credentials> AskCredentials(std::string_view target) = 0;
};

}  // namespace qx::platform

#endif  // QX_PLATFORM_PROMPTS_H_
