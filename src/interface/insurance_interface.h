// InsuranceInterface: the one process-wide object behind the four exported functions. It holds
// everything that lives between calls (login and user information, the output text, the rows of
// the last selected recordset, the status with its message, the connection to the center) and
// runs each call on the caller's thread.
//
// Members are spread over files by subsystem:
//   insurance_interface.cpp  construction, init_handle, config_handle, result_handle
//   status.cpp               SetStatus, BuildResultXml, the buffer rule
//   business_call.cpp        business_handle, Assemble
//   record_sets.cpp          SelectRecordSet, GetItem
//   card_steps.cpp           RunCardSteps
//   call_records.cpp         the [log] section, the diagnostic log's records of each call
#ifndef QX_INTERFACE_INSURANCE_INTERFACE_H_
#define QX_INTERFACE_INSURANCE_INTERFACE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "interface/call_log.h"
#include "message/row_store.h"
#include "platform/env.h"
#include "transport/center_connection.h"

namespace qx {

namespace config {
class IniFile;
}  // namespace config

namespace message {
class Reply;
class Request;
}  // namespace message

class InsuranceInterface {
 public:
  // Sets the defaults and fixes the configuration path from the current directory now.
  explicit InsuranceInterface(platform::Env& env);
  InsuranceInterface(const InsuranceInterface&) = delete;
  InsuranceInterface& operator=(const InsuranceInterface&) = delete;
  virtual ~InsuranceInterface();

  // The four entry points. Each may throw only std::bad_alloc; the exported shims catch it.
  int32_t InitHandle(char* message);
  int32_t ConfigHandle(const char* server, const char* port, const char* servlet, const char* com);
  int32_t BusinessHandle(const char* request, char* reply);
  int32_t ResultHandle(char* buffer);

  // Status codes and messages.
  // detail: for -4, the transport's description of the failure, which the message ends with.
  void SetStatus(int32_t code, std::string_view detail = {});
  // Sets code and message together, as the card step does with the card library's outcome.
  void SetStatusWithMessage(int32_t code, std::string_view message);
  void BuildResultXml(char* buffer);

  // Recordsets of the output text: the rows of the named recordset become the current rows.
  int32_t SelectRecordSet(std::string_view name);
  // value null: the value's length; else the value is stored there and the current row returned.
  int32_t GetItem(std::string_view name, std::string* value);

  // Read access for tests and the card step.
  int32_t status() const { return status_; }
  const std::string& message() const { return message_; }
  const std::string& output() const { return output_; }
  const std::string& login_info() const { return login_info_; }
  const std::string& center_id() const { return center_id_; }
  const std::string& staff_id() const { return staff_id_; }
  const std::string& staff_name() const { return staff_name_; }
  const std::string& function_id() const { return function_id_; }
  const std::string& config_path() const { return config_path_; }
  const std::string& servlet() const { return servlet_; }
  const std::string& card_library_name() const { return card_library_name_; }
  int32_t card_port() const { return card_port_; }
  bool initialised() const { return initialised_; }
  int32_t current_row() const { return rows_.current_row(); }
  int32_t row_count() const { return rows_.row_count(); }

  // The longest message text; longer composite messages are cut on a whole character.
  static constexpr std::size_t kMaxMessageLength = 1023;
  // How many replies naming a further FunctionID one host call follows.
  static constexpr int kMaxChainDepth = 16;

 private:
  void SetCardPort(int32_t port);

  // The diagnostic log (call_records.cpp): reads the optional [log] section of ini (nothing of
  // it when it is absent; null ini: the file could not be read), then records init_handle.
  void ConfigureLog(config::IniFile* ini, int32_t result, const std::string& message);
  // tls and ca_file of the [log] section, given to the connection (off when absent or ini is
  // null). The message for init_handle when one of them cannot be used, else empty.
  std::string ConfigureTls(config::IniFile* ini);
  // business_handle's steps, recorded around RunBusiness.
  int32_t RunBusiness(const char* request, char* reply);
  // Before and after one exchange of a call: the completed request, the time limit, the reply.
  void BeginExchange(const std::string& request);
  void EndExchange(const Status& sent, const std::string& reply);

  // Status code, with the result XML offered to reply; returns result.
  int32_t Fail(int32_t code, char* reply, int32_t result);
  // The request with the user and login information the function needs; nullopt (status -801
  // or -301) when they cannot be added.
  std::optional<std::string> Assemble(message::Request& request);
  // The recordset `name` of reply (folded to lower case first).
  int32_t SelectRecordSet(message::Reply& reply, std::string_view name);
  // Card work asked for by the reply; its read values replace the reply's text.
  int32_t RunCardSteps(message::Reply& reply);

  platform::Env& env_;
  // Declared before connection_, which holds the two in front of the real ones.
  CallLog log_;
  LoggingPrompts logged_prompts_;
  LoggingHttpClient logged_http_;
  std::chrono::seconds call_limit_{0};
  std::string tls_setting_;  // tls as written in [log], empty when absent
  std::string ca_file_;      // ca_file made absolute, empty when absent
  std::chrono::steady_clock::time_point exchange_start_;
  uint32_t call_number_ = 0;

  std::string login_info_;
  std::string center_id_;
  std::string staff_id_;
  std::string staff_name_;
  std::string card_library_name_;
  int32_t card_port_ = 1;
  std::string output_;
  std::string current_recordset_;
  std::string servlet_;
  std::string function_id_ = "0";
  message::RowStore rows_;
  int32_t status_ = 0;
  std::string message_;
  transport::CenterConnection connection_;
  bool initialised_ = false;
  std::string config_path_;
};

// The buffer rule of init_handle and business_handle: copy text with its terminating zero only
// when buffer is not null and the text already in it is at least as long. Returns whether it
// copied.
bool OfferToBuffer(const std::string& text, char* buffer);

}  // namespace qx

#endif  // QX_INTERFACE_INSURANCE_INTERFACE_H_
