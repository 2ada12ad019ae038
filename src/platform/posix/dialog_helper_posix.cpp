// Dialog helper programs (zenity, kdialog): found on PATH, started with posix_spawnp and an
// argument vector (no shell), standard input from /dev/null, their output read with a bound,
// and no descriptor of the host's but standard error.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/memory_wipe.h"
#include "platform/posix/prompt_channel_posix.h"

extern char** environ;

namespace qx::platform::posix {
namespace {

constexpr std::size_t kMaxAnswer = 4096;

}  // namespace

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

HelperResult RunDialogHelper(const std::vector<std::string>& args) {
  HelperResult result;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // Standard input, output and error only: nothing else of the host's (its sockets, files,
  // libcurl's descriptors) reaches the helper, close-on-exec or not.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
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
  while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == '\r')) {
    result.output.pop_back();
  }
  return result;
}

std::optional<BoxAnswer> AnsweredBox(const HelperResult& result, BoxButtons buttons) {
  if (!result.ran) {
    return std::nullopt;
  }
  return buttons == BoxButtons::kOk ? BoxAnswer::kOk
         : result.exit_code == 0    ? BoxAnswer::kRetry
                                    : BoxAnswer::kCancel;
}

std::optional<std::string> TypedEntry(HelperResult& result) {
  if (!result.ran) {
    return std::nullopt;
  }
  std::string typed;
  if (result.exit_code == 0) {
    typed = std::move(result.output);
  }
  WipeString(&result.output);
  return typed;
}

}  // namespace qx::platform::posix
