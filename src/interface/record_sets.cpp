// The recordsets of the current reply and the completion of requests: thin members over the
// message model, each turning the model's outcome into the interface's status.
#include <algorithm>
#include <iterator>

#include "interface/insurance_interface.h"
#include "interface/status_codes.h"
#include "message/case_folding.h"
#include "message/reply_reader.h"
#include "message/request_assembly.h"

namespace qx {

int32_t InsuranceInterface::SelectRecordSet(std::string_view name) {
  const std::string folded = message::FoldLowerDoubleByte(name);
  SetStatus(status::kOk);
  if (folded == current_recordset_) {
    return rows_.row_count();
  }
  if (UnpackRecordSet(folded) == -1 || status_ < 0) {
    return -1;
  }
  rows_.set_current_row(1);
  SetStatus(status::kOk);
  return rows_.row_count();
}

int32_t InsuranceInterface::GetItem(std::string_view name, std::string* value) {
  const std::string* found = nullptr;
  const int32_t outcome = rows_.Find(name, &found);
  if (outcome != message::RowStore::kFound) {
    SetStatus(outcome);
    return outcome == message::RowStore::kRowEmpty ? -1 : outcome;
  }
  if (value == nullptr) {
    return static_cast<int32_t>(found->size());
  }
  *value = *found;
  return rows_.current_row();
}

int32_t InsuranceInterface::AddReplyItem(int32_t row, std::string_view name,
                                         std::string_view value) {
  return rows_.AddItem(row, name, value);
}

void InsuranceInterface::ClearReplyRows() { rows_.Clear(); }

platform::XmlDocument* InsuranceInterface::ReplyDocument(std::string_view xml) {
  if (!reply_document_armed_ || reply_document_failed_ || xml.data() != output_.data() ||
      xml.size() != output_.size()) {
    return nullptr;
  }
  if (!reply_document_) {
    try {
      std::unique_ptr<platform::XmlDocument> doc = env_.xml->NewDocument();
      // Only read (card counts, recordsets, the FunctionID): stored compactly where the DOM can.
      doc->LoadXmlForReading(output_);  // a text that does not parse leaves an empty document
      reply_document_ = std::move(doc);
    } catch (...) {
      // Each reader then parses for itself and meets the failure on its own terms.
      reply_document_failed_ = true;
      return nullptr;
    }
  }
  return reply_document_.get();
}

bool InsuranceInterface::MayHold(std::string_view xml, std::string_view tag) {
  const auto known = std::find(std::begin(kReplyNames), std::end(kReplyNames), tag);
  if (!reply_document_armed_ || xml.data() != output_.data() || xml.size() != output_.size() ||
      known == std::end(kReplyNames)) {
    return message::MayHoldElement(xml, tag);
  }
  if (!reply_names_known_) {
    // Normally known from the exchange already (KnowReplyNames); the card's XML is searched here.
    reply_names_ = message::MayHoldElements(output_, kReplyNames);
    reply_names_known_ = true;
  }
  return (reply_names_ >> (known - std::begin(kReplyNames)) & 1u) != 0;
}

void InsuranceInterface::KnowReplyNames(uint32_t seen) {
  reply_names_ = seen;
  reply_names_known_ = true;
}

void InsuranceInterface::ArmReplyDocument() {
  ResetReplyDocument();
  reply_document_armed_ = true;
}

void InsuranceInterface::ResetReplyDocument() {
  reply_document_.reset();
  reply_document_failed_ = false;
  reply_names_known_ = false;
}

void InsuranceInterface::DropReplyDocument() {
  ResetReplyDocument();
  reply_document_armed_ = false;
}

int32_t InsuranceInterface::UnpackRecordSet(std::string_view folded_name) {
  platform::XmlDocument* doc = ReplyDocument(output_);
  const int32_t outcome = doc != nullptr
                              ? message::UnpackRecordSet(*doc, folded_name, &rows_)
                              : message::UnpackRecordSet(*env_.xml, output_, folded_name, &rows_);
  if (outcome == message::kNoRecordSet) {
    SetStatus(status::kNoSuchRecordSet);
    return status::kNoSuchRecordSet;
  }
  if (outcome != message::kUnpacked) {
    SetStatus(status::kUnpackFailed);
    return -1;
  }
  return 0;
}

int32_t InsuranceInterface::ExtractFunctionId(std::string_view xml, std::string* function_id) {
  if (!MayHold(xml, "FunctionID")) {
    return -1;  // as the DOM would find none; a catalogue is not parsed for it
  }
  std::string found;
  platform::XmlDocument* doc = ReplyDocument(xml);
  const int32_t outcome = doc != nullptr ? message::ExtractFunctionId(*doc, &found)
                                         : message::ExtractFunctionId(*env_.xml, xml, &found);
  switch (outcome) {
    case message::kFunctionIdFound:
      *function_id = std::move(found);
      return 1;
    case message::kFunctionIdTooLong:
      // Refused rather than cut: a cut identifier could name another function.
      SetStatus(status::kFunctionIdTooLong);
      return status::kFunctionIdTooLong;
    case message::kNoFunctionId:
      return -1;
    default:
      SetStatus(status::kUnpackFailed);
      return -1;
  }
}

std::string InsuranceInterface::InsertUserInfo(std::string_view xml) {
  std::optional<std::string> completed =
      message::InsertUserInfo(*env_.xml, xml, {center_id_, staff_id_, staff_name_});
  if (!completed) {
    SetStatus(status::kUserInfoFailed);
    return "-1";
  }
  return std::move(*completed);
}

std::string InsuranceInterface::InsertLoginInfo(std::string_view xml) {
  std::optional<std::string> completed = message::InsertLoginInfo(*env_.xml, xml, login_info_);
  if (!completed) {
    SetStatus(status::kLoginInfoFailed);
    return "-1";
  }
  return std::move(*completed);
}

}  // namespace qx
