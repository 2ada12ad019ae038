// A Prompts that answers from a script and records everything the clerk would have seen, so
// tests can assert the exact texts and captions (GBK bytes) and the order of the dialogs.
#ifndef QX_TESTS_SUPPORT_FAKE_PROMPTS_H_
#define QX_TESTS_SUPPORT_FAKE_PROMPTS_H_

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/prompts.h"

namespace qx::platform::fake {

class FakePrompts final : public Prompts {
 public:
  enum class Kind { kBox, kPassword, kCredentials };

  struct Shown {
    Kind kind;
    std::string text;     // box text, password label, credentials target
    std::string caption;  // box caption; empty for the entries
    BoxButtons buttons = BoxButtons::kOk;
    BoxIcon icon = BoxIcon::kNone;
  };

  // Answers are taken in order, each by the next dialog of its kind. When a kind's script is
  // empty: boxes answer kOk / kCancel, the password entry answers "", credentials nullopt.
  void QueueBoxAnswer(BoxAnswer answer) { box_answers_.push_back(answer); }
  void QueuePassword(std::string password) { passwords_.push_back(std::move(password)); }
  void QueueCredentials(std::optional<Credentials> credentials) {
    credentials_.push_back(std::move(credentials));
  }

  BoxAnswer ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                    BoxIcon icon) override;
  std::string AskPassword(std::string_view label, std::size_t max_length) override;
  std::optional<Credentials> AskCredentials(std::string_view target) override;

  const std::vector<Shown>& shown() const { return shown_; }
  std::vector<Shown> Boxes() const;  // only the message boxes, in order
  void Clear() { shown_.clear(); }

 private:
  std::deque<BoxAnswer> box_answers_;
  std::deque<std::string> passwords_;
  std::deque<std::optional<Credentials>> credentials_;
  std::vector<Shown> shown_;
};

}  // namespace qx::platform::fake

#endif  // QX_TESTS_SUPPORT_FAKE_PROMPTS_H_
