// InsuranceInterface: the one process-wide object behind the four exported functions. It holds
// everything that lives between calls (login and user information, the output text, the rows of
// the last selected recordset, the status with its message, the connection to the center) and
// runs each call on the caller's thread.
//
// Members are spread over files by subsystem:
//   insurance_interface.cpp  construction, init_handle, config_handle, result_handle
//   status.cpp               SetStatus, BuildResultXml, the buffer rule
//   business_call.cpp        business_handle
//   record_sets.cpp          SelectRecordSet, GetItem, AddReplyItem, ClearReplyRows,
//                            UnpackRecordSet, ExtractFunctionId, InsertUserInfo, InsertLoginInfo
//   card_steps.cpp           RunCardSteps, CountElements
#ifndef QX_INTERFACE_INSURANCE_INTERFACE_H_
#define QX_INTERFACE_INSURANCE_INTERFACE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "message/row_store.h"
#include "platform/env.h"
#include "platform/xml_document.h"
#include "transport/center_connection.h"

namespace qx {

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

  // Recordsets of the current reply (the output text).
  int32_t SelectRecordSet(std::string_view name);
  // value null: the value's length; else the value is stored there and the current row returned.
  int32_t GetItem(std::string_view name, std::string* value);
  int32_t AddReplyItem(int32_t row, std::string_view name, std::string_view value);
  void ClearReplyRows();
  int32_t UnpackRecordSet(std::string_view folded_name);

  // Request assembly.
  int32_t ExtractFunctionId(std::string_view xml, std::string* function_id);
  std::string InsertUserInfo(std::string_view xml);
  std::string InsertLoginInfo(std::string_view xml);

  // Card work asked for by the output text.
  int32_t RunCardSteps();
  int32_t CountElements(std::string_view xml, std::string_view tag);

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

  // The longest FunctionID accepted; a longer one is refused rather than cut.
  static constexpr std::size_t kMaxFunctionIdLength = 51;
  // The longest message text; longer composite messages are cut on a whole character.
  static constexpr std::size_t kMaxMessageLength = 1023;
  // How many replies naming a further FunctionID one host call follows.
  static constexpr int kMaxChainDepth = 16;

 private:
  int32_t BusinessCall(const char* request, char* reply, int depth);
  void SetCardPort(int32_t port);

  // The output text parsed once per business call (record_sets.cpp): the card step's counts, the
  // recordset selection and the reply's FunctionID all read the one document. Armed by the
  // business call once the center's reply stands in the output text; reset whenever the output
  // text changes; dropped when the call ends. ReplyDocument gives null (the caller then parses
  // for itself, as it always may) when not armed, when xml is not the output text itself, or
  // when the document could not be had.
  platform::XmlDocument* ReplyDocument(std::string_view xml);
  // Whether `xml` may hold an element `tag` (message::MayHoldElement); for the output text and
  // the names of kReplyNames, the answer found once is kept until the output text changes.
  bool MayHold(std::string_view xml, std::string_view tag);
  // The elements every business call looks for in the center's reply; which of them the reply
  // may hold is found while it arrives (business_call.cpp) and given here, after the arming.
  static constexpr std::string_view kReplyNames[] = {"writeic", "readic", "FunctionID"};
  void KnowReplyNames(uint32_t seen);
  void ArmReplyDocument();
  void ResetReplyDocument();
  void DropReplyDocument();

  platform::Env& env_;

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
  std::unique_ptr<platform::XmlDocument> reply_document_;
  bool reply_document_armed_ = false;
  bool reply_document_failed_ = false;
  uint32_t reply_names_ = 0;  // bits of kReplyNames the output text may hold
  bool reply_names_known_ = false;
};

// The buffer rule of init_handle and business_handle: copy text with its terminating zero only
// when buffer is not null and the text already in it is at least as long. Returns whether it
// copied.
bool OfferToBuffer(const std::string& text, char* buffer);

}  // namespace qx

#endif  // QX_INTERFACE_INSURANCE_INTERFACE_H_
