// A stand-in for the desktop's dialog helper program: a "zenity" script in a scratch directory
// that is put first on PATH (with DISPLAY set), records every call's arguments and answers from
// a queue. It lets tests, also those that load the built library, script what the clerk types
// and see what the clerk was shown, through the real POSIX prompts code.
#ifndef QX_TESTS_SUPPORT_FAKE_DIALOG_H_
#define QX_TESTS_SUPPORT_FAKE_DIALOG_H_

#include <string>
#include <vector>

namespace qx::test {

class FakeDialog {
 public:
  // Creates the script and points PATH and DISPLAY at it; the destructor puts both back.
  FakeDialog();
  ~FakeDialog();
  FakeDialog(const FakeDialog&) = delete;
  FakeDialog& operator=(const FakeDialog&) = delete;

  // The next dialog exits with exit_code and prints output (0 = OK / Retry; 1 = Cancel).
  // Without a queued answer a dialog answers 1 (Cancel) with no output.
  void QueueAnswer(int exit_code, const std::string& output = std::string());

  // The arguments of each call so far, in order (UTF-8, as the helper received them).
  std::vector<std::vector<std::string>> Calls() const;

  const std::string& directory() const { return dir_; }

 private:
  std::string dir_;
  std::string saved_path_;
  std::string saved_display_;
  bool had_display_ = false;
};

}  // namespace qx::test

#endif  // QX_TESTS_SUPPORT_FAKE_DIALOG_H_
