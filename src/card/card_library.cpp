#include "card/card_library.h"

#include <cstring>
#include <vector>

#include "base/gbk_text.h"
#include "base/password_mask.h"
#include "base/status_codes.h"
#include "base/system_texts.h"
#include "platform/memory_wipe.h"

namespace qx::card {
namespace {

// A card library that writes more than it was promised room for must not corrupt our memory:
// the buffers handed over are larger than the sizes the entry points are told to respect, and
// only the announced part is ever read back.
constexpr std::size_t kValueBufferRoom = 4096;
constexpr std::size_t kErrorBufferRoom = 16384;

// Zero-filled heap bytes that are wiped again when released (they may hold a card password).
class WipedBuffer {
 public:
  explicit WipedBuffer(std::size_t size) : bytes_(size, '\0') {}
  WipedBuffer(const WipedBuffer&) = delete;
  WipedBuffer& operator=(const WipedBuffer&) = delete;
  ~WipedBuffer() { platform::WipeBytes(bytes_.data(), bytes_.size()); }

  char* data() { return bytes_.data(); }
  // The zero-terminated text at the start, never reading beyond limit bytes.
  std::string_view TextWithin(std::size_t limit) const {
    return std::string_view(bytes_.data(), strnlen(bytes_.data(), limit));
  }

 private:
  std::vector<char> bytes_;
};

}  // namespace

CardLibrary::CardLibrary(platform::LibraryLoader& loader, const std::string& library_name,
                         int32_t port, platform::Notes* notes)
    : port_(port), loaded_(loader.Load(library_name, &library_)), notes_(notes) {
  if (notes_ == nullptr) return;
  if (library_) {
    const std::string path = library_->FilePath();
    notes_->Note("card: " + library_name + " loaded" + (path.empty() ? "" : " from " + path));
  } else {
    notes_->Note("card: " + library_name + " not loaded: " + loaded_.words());
  }
}

int32_t CardLibrary::Told(const std::string& call, int32_t result) {
  if (notes_ != nullptr) {
    std::string line = "card: " + call + " -> " + std::to_string(result);
    if (status_ < 0) line += ", status " + std::to_string(status_) + " \"" + message_ + "\"";
    notes_->Note(line);
  }
  return result;
}

CardLibrary::~CardLibrary() = default;

void* CardLibrary::FindEntryPoint(const char* name) {
  return library_ ? library_->FindEntryPoint(name) : nullptr;
}

template <typename Function>
Function CardLibrary::EntryPoint(const char* name, int32_t missing_code) {
  auto function = platform::EntryPointAs<Function>(FindEntryPoint(name));
  SetStatus(function == nullptr ? missing_code : 0);
  return function;
}

void CardLibrary::SetMessage(std::string_view head, std::string_view tail) {
  std::string text;
  text.reserve(head.size() + tail.size());
  text.append(head);
  text.append(tail);
  message_ = std::string(CutToWholeGbkCharacters(text, kMaxMessageLength));
}

void CardLibrary::SetStatus(int32_t code) {
  status_ = code;
  if (code >= status::kICResetFailed && code <= status::kICStartFailed) {
    std::string library_text;
    if (FetchErrorText(&library_text) < 0) {
      return;  // status -211 with its own text
    }
    status_ = code;
    SetMessage(texts::CardStatusText(code), library_text);
    return;
  }
  SetMessage(texts::CardStatusText(code), {});
}

int32_t CardLibrary::FetchErrorText(std::string* text) {
  text->clear();
  auto fetch = platform::EntryPointAs<ICGeterrMsgFunction>(FindEntryPoint("ICGeterrMsg"));
  if (fetch == nullptr) {
    SetStatus(status::kNoICGeterrMsg);
    return status::kNoICGeterrMsg;
  }
  WipedBuffer buffer(kErrorBufferRoom);
  fetch(buffer.data());
  // A text without its terminating zero ends with the announced buffer.
  text->assign(buffer.TextWithin(kErrorBufferSize));
  return 0;
}

void CardLibrary::SetFailure(int32_t failure_code) {
  status_ = failure_code;
  std::string library_text;
  if (FetchErrorText(&library_text) < 0) {
    return;  // status -211 with its own text
  }
  SetMessage(texts::CardFailurePrefix(failure_code), library_text);
}

int32_t CardLibrary::Reset() {
  auto reset = EntryPoint<ICResetFunction>("ICReset", status::kNoICReset);
  if (reset == nullptr) {
    return Told("ICReset()", status::kNoICReset);
  }
  if (reset() < 0) {
    SetFailure(status::kResetStepFailed);
  }
  return Told("ICReset()", status_);
}

int32_t CardLibrary::Start() {
  auto start = EntryPoint<ICStartFunction>("ICStart", status::kNoICStart);
  const std::string call = "ICStart(" + std::to_string(port_) + ")";
  if (start == nullptr) {
    return Told(call, status_);
  }
  if (start(port_) < 0) {
    SetFailure(status::kStartStepFailed);
  }
  return Told(call, status_);
}

int32_t CardLibrary::Get(const std::string& name, std::string* value, bool secret) {
  value->clear();
  auto get = EntryPoint<ICGetFunction>("ICGet", status::kNoICGet);
  const std::string call = "ICGet(\"" + name + "\")";
  if (get == nullptr) {
    return Told(call, status_);
  }
  WipedBuffer buffer(kValueBufferRoom);
  if (get(name.c_str(), buffer.data()) < 0) {
    SetFailure(status::kGetStepFailed);
    return Told(call, status_);
  }
  // A value ended by its zero within the 100 bytes is taken exactly as the reader wrote it, a
  // lead byte without its trail included: the write step compares those very bytes. Only a
  // library that left out the zero has its value cut, to 99 bytes ending on a whole character.
  const std::string_view text = buffer.TextWithin(kValueBufferSize);
  if (text.size() < kValueBufferSize) {
    value->assign(text);
  } else {
    value->assign(CutToWholeGbkCharacters(text, kValueBufferSize - 1));
  }
  return Told(call + ", value " +
                  (secret || NamesPassword(name) ? std::string("***") : "\"" + *value + "\""),
              status_);
}

int32_t CardLibrary::Put(const std::string& name, const std::string& value) {
  auto put = EntryPoint<ICPutFunction>("ICPut", status::kNoICPut);
  if (put == nullptr) {
    return Told("ICPut(\"" + name + "\")", status::kNoICPut);
  }
  const int result = put(name.c_str(), value.c_str());
  if (result < 0) {
    SetFailure(status::kPutStepFailed);
  }
  return Told("ICPut(\"" + name + "\", " +
                  (NamesPassword(name) ? std::string("***") : "\"" + value + "\"") + ")",
              result);
}

int32_t CardLibrary::Execute() {
  auto execute = EntryPoint<ICExecuteFunction>("ICExecute", status::kNoICExecute);
  if (execute == nullptr) {
    return Told("ICExecute(" + std::to_string(port_) + ")", status::kNoICExecute);
  }
  const int result = execute(port_);
  if (result < 0) {
    SetFailure(status::kExecuteStepFailed);
  }
  return Told("ICExecute(" + std::to_string(port_) + ")", result);
}

}  // namespace qx::card
