// The recordsets of a reply: thin members over the message model, each turning the model's
// outcome into the interface's status.
#include <utility>

#include "base/status_codes.h"
#include "interface/insurance_interface.h"
#include "message/case_folding.h"
#include "message/reply.h"

namespace qx {

int32_t InsuranceInterface::SelectRecordSet(message::Reply& reply, std::string_view name) {
  const std::string folded = message::FoldLowerDoubleByte(name);
  SetStatus(status::kOk);
  if (folded == current_recordset_) {
    return rows_.row_count();
  }
  const int32_t outcome = reply.UnpackRecordSet(folded, &rows_);
  if (outcome != status::kOk) {
    SetStatus(outcome);
    return -1;
  }
  rows_.set_current_row(1);  // the status is still kOk, set above
  return rows_.row_count();
}

int32_t InsuranceInterface::SelectRecordSet(std::string_view name) {
  message::Reply reply(*env_.xml, std::move(output_));
  const int32_t rows = SelectRecordSet(reply, name);
  output_ = reply.Release();
  return rows;
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

}  // namespace qx
