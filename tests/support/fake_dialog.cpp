#include "support/fake_dialog.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qx::test {

FakeDialog::FakeDialog() {
  char templ[] = "/tmp/qx-dialog-XXXXXX";
  if (mkdtemp(templ) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  dir_ = templ;
  // The recording helper (tests/support/fake-zenity.sh) keeps its files beside the link.
  if (symlink(QX_SOURCE_DIR "/tests/support/fake-zenity.sh", (dir_ + "/zenity").c_str()) != 0) {
    throw std::runtime_error("cannot link the dialog helper into " + dir_);
  }
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
