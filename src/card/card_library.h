// CardLibrary: the system's only contact with the vendor's card-reader library. One object serves
// one card run: it loads the library by file name at construction and unloads it at destruction,
// looks every entry point up afresh at each call, turns each outcome into a status code with a
// message in the system's own words, and runs the card work a reply from the center asks for:
// reset and start the reader, the read step (with the card password check) and the write step
// (with its refusals and one commit).
//
// Everything runs on the caller's thread and may block on the reader and on modal prompts: the
// Retry/Cancel boxes and the password entry.
#ifndef QX_CARD_CARD_LIBRARY_H_
#define QX_CARD_CARD_LIBRARY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dynamic_library.h"
#include "platform/prompts.h"
#include "platform/xml_document.h"

namespace qx::card {

class CardLibrary {
 public:
  // Buffers the card library writes into, as its entry points expect them.
  static constexpr std::size_t kValueBufferSize = 100;    // ICGet: value of at most 99 bytes
  static constexpr std::size_t kErrorBufferSize = 1024;   // ICGeterrMsg
  static constexpr std::size_t kMaxMessageLength = 1023;  // message(), bytes

  // Codes the card binding raises beyond its table (their message is "系统处理出错！").
  static constexpr int32_t kCardNumberDiffers = -320;  // user cancelled after a card swap
  static constexpr int32_t kBalanceRefused = -321;     // overdrawn, or not a number
  // ICPut answered a positive value other than 0: the value was not staged. Reported as the
  // table's "IC卡函数(ICPut)执行出错！" followed by the library's error text.
  static constexpr int32_t kPutRefused = -207;
  static constexpr int32_t kPasswordFailed = -401;
  static constexpr int32_t kDomFailed = -106;

  // Loads library_name with loader (a failed load is not reported here: every entry point is
  // then missing). prompts shows the boxes and the password entry; xml parses the reply.
  CardLibrary(platform::LibraryLoader& loader, platform::Prompts& prompts,
              platform::XmlFactory& xml, const std::string& library_name, int32_t port);
  CardLibrary(const CardLibrary&) = delete;
  CardLibrary& operator=(const CardLibrary&) = delete;
  // Unloads the card library.
  virtual ~CardLibrary();

  // One card run over the reply: reset, start (Retry/Cancel box while the start fails), the read
  // step, then the write step unless the read failed. Returns status(). Afterwards status(),
  // message() and card_xml() describe the outcome.
  int32_t Run(std::string_view reply);

  // The read step: password check and the values of the first "readic" block filled into the
  // reply, kept in card_xml(). 1 when done or nothing to do; -401, the read's status or -106.
  int32_t ReadStep(std::string_view reply);

  // The write step: the card brought in line with the first "writeic" block and committed once.
  // 1 when done or nothing to do; -320, -321, a failing step's status, or -106.
  int32_t WriteStep(std::string_view reply);

  // The wrappers of the entry points. Reset, Start and Get return status(); Put and Execute the
  // entry point's own result (or -202 / -203 when it is missing).
  int32_t Reset();
  int32_t Start();
  // value receives the card's value (at most 99 bytes); empty when the call failed.
  int32_t Get(const std::string& name, std::string* value);
  int32_t Put(const std::string& name, const std::string& value);
  int32_t Execute();

  // The card library's description of its last failure, at most 1024 bytes, into *text. 0; or
  // -211 (with status -211) when ICGeterrMsg is missing.
  int32_t FetchErrorText(std::string* text);

  // status() becomes code and message() its text from the binding's table; for -205 to -210 the
  // card library's error text follows the table text.
  void SetStatus(int32_t code);

  int32_t status() const { return status_; }
  const std::string& message() const { return message_; }
  const std::string& card_xml() const { return card_xml_; }
  int32_t port() const { return port_; }

 private:
  void* FindEntryPoint(const char* name);
  // status() becomes failure_code and message() its prefix with the library's error text; or
  // -211 when that text cannot be had.
  void SetFailure(int32_t failure_code);
  void SetMessage(std::string_view head, std::string_view tail);
  // True when the password typed matches the card's value of the item named item_name.
  bool CheckPassword(const std::string& item_name);
  // One pass of the write step. Sets *retry when the clerk asked to try again after a card swap.
  int32_t WriteOnce(std::string_view reply, bool* retry);

  platform::Prompts& prompts_;
  platform::XmlFactory& xml_;
  std::string card_xml_;
  std::string message_;
  int32_t port_;
  int32_t status_ = 0;
  std::unique_ptr<platform::DynamicLibrary> library_;
};

}  // namespace qx::card

#endif  // QX_CARD_CARD_LIBRARY_H_
