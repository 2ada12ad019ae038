#include "support/fake_dialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qx::test {
namespace {

// Arguments are separated by 0x1F, calls by 0x1E; answers are lines "CODE OUTPUT".
constexpr char kScript[] = R"(#!/bin/sh
dir=$(dirname "$0")
{ for a in "$@"; do printf '%s\037' "$a"; done; printf '\036'; } >> "$dir/calls"
if [ -s "$dir/answers" ]; then
  line=$(head -n 1 "$dir/answers")
  tail -n +2 "$dir/answers" > "$dir/answers.next"
  mv "$dir/answers.next" "$dir/answers"
  code=${line%% *}
  out=${line#* }
  if [ "$out" != "$line" ]; then printf '%s\n' "$out"; fi
  exit "$code"
fi
exit 1
)";

}  // namespace

FakeDialog::FakeDialog() {
  char templ[] = "/tmp/qx-dialog-XXXXXX";
  if (mkdtemp(templ) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  dir_ = templ;
  const std::string script = dir_ + "/zenity";
  {
    std::ofstream out(script, std::ios::binary);
    out << kScript;
  }
  chmod(script.c_str(), 0755);
  const char* path = std::getenv("PATH");
  saved_path_ = path != nullptr ? path : "/usr/bin:/bin";
  const char* display = std::getenv("DISPLAY");
  had_display_ = display != nullptr;
  if (had_display_) {
    saved_display_ = display;
  }
  setenv("PATH", (dir_ + ":" + saved_path_).c_str(), 1);
  setenv("DISPLAY", ":qx-test", 1);
}

FakeDialog::~FakeDialog() {
  setenv("PATH", saved_path_.c_str(), 1);
  if (had_display_) {
    setenv("DISPLAY", saved_display_.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
  for (const char* name : {"/zenity", "/calls", "/answers", "/answers.next"}) {
    unlink((dir_ + name).c_str());
  }
  rmdir(dir_.c_str());
}

void FakeDialog::QueueAnswer(int exit_code, const std::string& output) {
  std::ofstream out(dir_ + "/answers", std::ios::binary | std::ios::app);
  out << exit_code;
  if (!output.empty()) {
    out << ' ' << output;
  }
  out << '\n';
}

std::vector<std::vector<std::string>> FakeDialog::Calls() const {
  std::ifstream in(dir_ + "/calls", std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::vector<std::vector<std::string>> calls;
  std::vector<std::string> args;
  std::string arg;
  for (char c : content.str()) {
    if (c == '\x1f') {
      args.push_back(arg);
      arg.clear();
    } else if (c == '\x1e') {
      calls.push_back(args);
      args.clear();
    } else {
      arg.push_back(c);
    }
  }
  return calls;
}

}  // namespace qx::test
