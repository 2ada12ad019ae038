// What the clerk sees on POSIX. A library has no window of its own, so:
//  - with a display (DISPLAY or WAYLAND_DISPLAY set) and zenity or kdialog on the PATH, the
//    dialog helper program shows the box or the entry and we read its answer;
//  - else, when the process has a controlling terminal, /dev/tty asks (the entry without echo);
//  - else nobody can answer: the text goes to standard error, boxes answer OK or Cancel, entries
//    answer empty.
// Texts arrive in GBK and are shown in UTF-8; typed answers go back to GBK. Helper programs are
// started with posix_spawnp and an argument vector (no shell), their output read with a bound.
#include <fcntl.h>
#include <iconv.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/gbk_text.h"
#include "platform/posix/default_parts.h"
#include "platform/prompts.h"

extern char** environ;

namespace qx::platform::posix {
namespace {

constexpr std::size_t kMaxAnswer = 4096;

// Converts with iconv, replacing what cannot be converted by '?' one byte at a time.
std::string Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return std::string(in);
  }
  std::string out;
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char buffer[1024];
  while (src_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    std::size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.push_back('?');
      ++src;
      --src_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::string ToDisplay(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }
std::string FromDisplay(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) {
    return false;
  }
  std::string dirs(path);
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) {
      end = dirs.size();
    }
    std::string candidate = dirs.substr(start, end - start);
    candidate += candidate.empty() ? "./" : "/";
    candidate += program;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

struct HelperResult {
  bool ran = false;
  int exit_code = -1;
  std::string output;  // standard output, without a trailing line end
};

// Runs a dialog helper and waits for it; output is bounded.
HelperResult RunHelper(const std::vector<std::string>& args) {
  HelperResult result;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (rc != 0) {
    ::close(pipe_fds[0]);
    return result;
  }
  char chunk[512];
  for (;;) {
    ssize_t got = ::read(pipe_fds[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    if (result.output.size() < kMaxAnswer) {
      result.output.append(chunk, static_cast<std::size_t>(got));
    }
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return result;
    }
  }
  result.ran = true;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  while (!result.output.empty() &&
         (result.output.back() == '\n' || result.output.back() == '\r')) {
    result.output.pop_back();
  }
  return result;
}

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

class PosixPrompts final : public Prompts {
 public:
  BoxAnswer ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                    BoxIcon icon) override {
    const BoxAnswer nobody = buttons == BoxButtons::kOk ? BoxAnswer::kOk : BoxAnswer::kCancel;
    std::string shown_text = ToDisplay(text);
    std::string shown_caption = ToDisplay(caption);
    std::string helper = DialogHelper();
    if (helper == "zenity") {
      std::vector<std::string> args{helper};
      if (buttons == BoxButtons::kRetryCancel) {
        args.insert(args.end(), {"--question", "--ok-label=" + ToDisplay(RetryLabel()),
                                 "--cancel-label=" + ToDisplay(CancelLabel())});
      } else {
        args.push_back(icon == BoxIcon::kError ? "--error" : "--info");
      }
      args.insert(args.end(), {"--no-markup", "--title=" + shown_caption, "--text=" + shown_text});
      HelperResult r = RunHelper(args);
      if (r.ran) {
        return buttons == BoxButtons::kOk ? BoxAnswer::kOk
               : r.exit_code == 0         ? BoxAnswer::kRetry
                                          : BoxAnswer::kCancel;
      }
    } else if (helper == "kdialog") {
      std::vector<std::string> args{helper, "--title", shown_caption};
      if (buttons == BoxButtons::kRetryCancel) {
        args.insert(args.end(), {"--yesno", shown_text, "--yes-label", ToDisplay(RetryLabel()),
                                 "--no-label", ToDisplay(CancelLabel())});
      } else {
        args.insert(args.end(), {icon == BoxIcon::kError ? "--error" : "--msgbox", shown_text});
      }
      HelperResult r = RunHelper(args);
      if (r.ran) {
        return buttons == BoxButtons::kOk ? BoxAnswer::kOk
               : r.exit_code == 0         ? BoxAnswer::kRetry
                                          : BoxAnswer::kCancel;
      }
    }
    Terminal tty;
    if (tty.ok()) {
      tty.Write("\n[" + shown_caption + "] " + shown_text + "\n");
      if (buttons == BoxButtons::kOk) {
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
    std::string line = "[" + shown_caption + "] " + shown_text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return nobody;
  }

  std::string AskPassword(std::string_view label, std::size_t max_length) override {
    std::string helper = DialogHelper();
    std::string typed;
    bool answered = false;
    if (helper == "zenity") {
      HelperResult r = RunHelper({helper, "--entry", "--hide-text", "--title=" + ToDisplay(label),
                                  "--text=" + ToDisplay(label)});
      if (r.ran) {
        answered = true;
        if (r.exit_code == 0) {
          typed = std::move(r.output);
        }
        WipeString(&r.output);
      }
    } else if (helper == "kdialog") {
      HelperResult r = RunHelper({helper, "--password", ToDisplay(label)});
      if (r.ran) {
        answered = true;
        if (r.exit_code == 0) {
          typed = std::move(r.output);
        }
        WipeString(&r.output);
      }
    }
    if (!answered) {
      Terminal tty;
      if (tty.ok()) {
        tty.Write(ToDisplay(label) + ": ");
        std::optional<std::string> line = tty.ReadLine(false);
        if (line) {
          typed = std::move(*line);
          WipeString(&*line);
        }
      } else {
        std::string note = ToDisplay(label) + ": (no one to answer)\n";
        std::fwrite(note.data(), 1, note.size(), stderr);
      }
    }
    std::string converted = FromDisplay(typed);
    std::string gbk(CutToWholeGbkCharacters(converted, max_length));
    WipeString(&converted);
    WipeString(&typed);
    return gbk;
  }

  std::optional<Credentials> AskCredentials(std::string_view target) override {
    std::string helper = DialogHelper();
    std::string title = ToDisplay(target);
    if (helper == "zenity") {
      HelperResult r = RunHelper({helper, "--password", "--username", "--title=" + title});
      if (r.ran) {
        std::optional<Credentials> answer;
        std::size_t bar = r.output.find('|');
        if (r.exit_code == 0 && bar != std::string::npos) {
          answer = Credentials{FromDisplay(r.output.substr(0, bar)),
                               FromDisplay(r.output.substr(bar + 1))};
        }
        WipeString(&r.output);
        return answer;
      }
    } else if (helper == "kdialog") {
      HelperResult user = RunHelper({helper, "--title", title, "--inputbox", "User name"});
      if (user.ran) {
        if (user.exit_code != 0) {
          return std::nullopt;
        }
        HelperResult pass = RunHelper({helper, "--title", title, "--password", "Password"});
        if (pass.exit_code != 0) {
          return std::nullopt;
        }
        Credentials answer{FromDisplay(user.output), FromDisplay(pass.output)};
        WipeString(&pass.output);
        return answer;
      }
    }
    Terminal tty;
    if (tty.ok()) {
      tty.Write("\n" + title + "\nUser name: ");
      std::optional<std::string> user = tty.ReadLine(true);
      if (!user || user->empty()) {
        return std::nullopt;
      }
      tty.Write("Password: ");
      std::optional<std::string> pass = tty.ReadLine(false);
      if (!pass) {
        return std::nullopt;
      }
      Credentials answer{FromDisplay(*user), FromDisplay(*pass)};
      WipeString(&*pass);
      return answer;
    }
    std::string note = title + ": credentials requested, no one to answer\n";
    std::fwrite(note.data(), 1, note.size(), stderr);
    return std::nullopt;
  }

 private:
  static std::string DialogHelper() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) {
      return std::string();
    }
    if (OnPath("zenity")) {
      return "zenity";
    }
    if (OnPath("kdialog")) {
      return "kdialog";
    }
    return std::string();
  }

  // Button labels, GBK ("重试", "取消").
  static std::string RetryLabel() { return "\xD6\xD8\xCA\xD4"; }
  static std::string CancelLabel() { return "\xC8\xA1\xCF\xFB"; }
};

}  // namespace

Prompts& DefaultPrompts() {
  static PosixPrompts prompts;
  return prompts;
}

}  // namespace qx::platform::posix
