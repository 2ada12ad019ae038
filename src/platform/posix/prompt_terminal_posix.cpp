// The controlling terminal (/dev/tty), opened for one question: the box's text with "R = retry,
// C = cancel" (five tries, then Cancel), the password without echo, the user name with it. The
// channel cannot ask when the process has no controlling terminal.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/memory_wipe.h"
#include "platform/posix/prompt_channel_posix.h"

namespace qx::platform::posix {
namespace {

constexpr std::size_t kMaxAnswer = 4096;

// The controlling terminal, opened for one question.
class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool ok() const { return fd_ >= 0; }

  void Write(std::string_view text) {
    while (!text.empty()) {
      ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        return;
      }
      text.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // One line, without its end; nullopt at end of input. echo=false hides what is typed.
  std::optional<std::string> ReadLine(bool echo) {
    termios saved{};
    bool restore = false;
    if (!echo && ::tcgetattr(fd_, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      restore = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    std::string line;
    bool got_any = false;
    for (;;) {
      char c = 0;
      ssize_t n = ::read(fd_, &c, 1);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        break;
      }
      got_any = true;
      if (c == '\n') {
        break;
      }
      if (line.size() < kMaxAnswer) {
        line.push_back(c);
      }
    }
    if (restore) {
      ::tcsetattr(fd_, TCSAFLUSH, &saved);
      Write("\n");
    }
    if (!got_any) {
      return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    return line;
  }

 private:
  int fd_;
};

class TerminalChannel final : public PromptChannel {
 public:
  std::optional<BoxAnswer> ShowBox(const Box& box) override {
    Terminal tty;
    if (!tty.ok()) {
      return std::nullopt;
    }
    tty.Write("\n[" + box.caption + "] " + box.text + "\n");
    if (box.buttons == BoxButtons::kOk) {
      tty.Write("(Enter) ");
      tty.ReadLine(true);
      return BoxAnswer::kOk;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
      tty.Write("R = retry, C = cancel: ");
      std::optional<std::string> line = tty.ReadLine(true);
      if (!line) {
        return BoxAnswer::kCancel;
      }
      if (!line->empty() && (line->front() == 'r' || line->front() == 'R')) {
        return BoxAnswer::kRetry;
      }
      if (!line->empty() && (line->front() == 'c' || line->front() == 'C')) {
        return BoxAnswer::kCancel;
      }
    }
    return BoxAnswer::kCancel;
  }

  std::optional<std::string> AskPassword(std::string_view label) override {
    Terminal tty;
    if (!tty.ok()) {
      return std::nullopt;
    }
    tty.Write(std::string(label) + ": ");
    std::string typed;
    std::optional<std::string> line = tty.ReadLine(false);
    if (line) {
      typed = std::move(*line);
      WipeString(&*line);
    }
    return typed;
  }

  std::optional<std::optional<Credentials>> AskCredentials(std::string_view title) override {
    Terminal tty;
    if (!tty.ok()) {
      return std::nullopt;
    }
    tty.Write("\n" + std::string(title) + "\nUser name: ");
    std::optional<std::string> user = tty.ReadLine(true);
    if (!user || user->empty()) {
      return std::optional<Credentials>();
    }
    tty.Write("Password: ");
    std::optional<std::string> pass = tty.ReadLine(false);
    if (!pass) {
      return std::optional<Credentials>();
    }
    Credentials answer{*user, *pass};
    WipeString(&*pass);
    return std::optional<Credentials>(std::move(answer));
  }
};

}  // namespace

std::unique_ptr<PromptChannel> NewTerminalChannel() { return std::make_unique<TerminalChannel>(); }

}  // namespace qx::platform::posix
