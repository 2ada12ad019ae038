#include "support/fake_prompts.h"

namespace qx::platform::fake {

BoxAnswer FakePrompts::ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                               BoxIcon icon) {
  shown_.push_back({Kind::kBox, std::string(text), std::string(caption), buttons, icon});
  if (buttons == BoxButtons::kOk) {
    return BoxAnswer::kOk;
  }
  if (box_answers_.empty()) {
    return BoxAnswer::kCancel;
  }
  BoxAnswer answer = box_answers_.front();
  box_answers_.pop_front();
  return answer;
}

std::string FakePrompts::AskPassword(std::string_view label, std::size_t max_length) {
  shown_.push_back(
      {Kind::kPassword, std::string(label), std::string(), BoxButtons::kOk, BoxIcon::kNone});
  if (passwords_.empty()) {
    return std::string();
  }
  std::string typed = std::move(passwords_.front());
  passwords_.pop_front();
  // The entry field takes no more than max_length characters.
  if (typed.size() > max_length) {
    typed.resize(max_length);
  }
  return typed;
}

std::optional<Credentials> FakePrompts::AskCredentials(std::string_view target) {
  shown_.push_back(
      {Kind::kCredentials, std::string(target), std::string(), BoxButtons::kOk, BoxIcon::kNone});
  if (credentials_.empty()) {
    return std::nullopt;
  }
  std::optional<Credentials> answer = std::move(credentials_.front());
  credentials_.pop_front();
  return answer;
}

std::vector<FakePrompts::Shown> FakePrompts::Boxes() const {
  std::vector<Shown> boxes;
  for (const Shown& s : shown_) {
    if (s.kind == Kind::kBox) {
      boxes.push_back(s);
    }
  }
  return boxes;
}

}  // namespace qx::platform::fake
