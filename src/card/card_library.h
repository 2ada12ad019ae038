// CardLibrary: the system's only contact with the vendor's card-reader library. One object serves
// one card run (card_run.h): it loads the library by file name at construction and unloads it at
// destruction, looks every entry point up afresh at each call, and turns each outcome into a
// status code with a message in the system's own words.
//
// Everything runs on the caller's thread and may block on the reader.
#ifndef QX_CARD_CARD_LIBRARY_H_
#define QX_CARD_CARD_LIBRARY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "card/card_abi.h"
#include "platform/dynamic_library.h"
#include "platform/env.h"

namespace qx::card {

class CardLibrary {
 public:
  // Buffers the card library writes into, as its entry points expect them.
  static constexpr std::size_t kValueBufferSize = 100;    // ICGet: value of at most 99 bytes
  static constexpr std::size_t kErrorBufferSize = 1024;   // ICGeterrMsg
  static constexpr std::size_t kMaxMessageLength = 1023;  // message(), bytes

  // Loads library_name with loader. A failed load is not reported to the clerk or the host:
  // every entry point is then missing; loaded() keeps the loader's words.
  // Each load and entry point call, with its result and the message it leaves, is told to notes
  // when it is not null (a card password's value never).
  CardLibrary(platform::LibraryLoader& loader, const std::string& library_name, int32_t port,
              platform::Notes* notes = nullptr);
  CardLibrary(const CardLibrary&) = delete;
  CardLibrary& operator=(const CardLibrary&) = delete;
  // Unloads the card library.
  virtual ~CardLibrary();

  // The wrappers of the entry points. Reset, Start and Get return status(); Put and Execute the
  // entry point's own result (or -202 / -203 when it is missing).
  int32_t Reset();
  int32_t Start();
  // value receives the card's value (at most 99 bytes); empty when the call failed.
  // secret: the value is a password, never told to the notes.
  int32_t Get(const std::string& name, std::string* value, bool secret = false);
  int32_t Put(const std::string& name, const std::string& value);
  int32_t Execute();

  // The card library's description of its last failure, at most 1024 bytes, into *text. 0; or
  // -211 (with status -211) when ICGeterrMsg is missing.
  int32_t FetchErrorText(std::string* text);

  // status() becomes code and message() its text from the binding's table; for -205 to -210 the
  // card library's error text follows the table text.
  void SetStatus(int32_t code);
  // status() becomes 0; message() keeps its text (a step starts afresh without a new message).
  void ClearStatus() { status_ = 0; }

  int32_t status() const { return status_; }
  const std::string& message() const { return message_; }
  int32_t port() const { return port_; }
  const Status& loaded() const { return loaded_; }

 private:
  void* FindEntryPoint(const char* name);
  // The entry point name as a Function; status() becomes missing_code when the library has
  // none (the result is then null), else 0.
  template <typename Function>
  Function EntryPoint(const char* name, int32_t missing_code);
  // status() becomes failure_code and message() its prefix with the library's error text; or
  // -211 when that text cannot be had.
  void SetFailure(int32_t failure_code);
  void SetMessage(std::string_view head, std::string_view tail);
  // Tells notes_ "card: <call> -> <result>", with the status and message after a failure.
  int32_t Told(const std::string& call, int32_t result);

  std::string message_;
  int32_t port_;
  int32_t status_ = 0;
  std::unique_ptr<platform::DynamicLibrary> library_;
  Status loaded_;  // the loader's outcome, with its own words
  platform::Notes* notes_;
};

}  // namespace qx::card

#endif  // QX_CARD_CARD_LIBRARY_H_
