// business_handle: one business call from the host's request to the reply in its buffer.
//
// Each round has one message::Request (the host's text, parsed once for its FunctionID and for
// the blocks added to it) and one message::Reply (the center's text, parsed at most once for the
// card step, the recordsets and the chained FunctionID). The center may answer with a reply that
// itself names a FunctionID; that reply is then posted back as the next request, and the host
// receives only the final reply. The chain is followed in a loop, each round exactly as a fresh
// call, up to kMaxChainDepth rounds.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/status_codes.h"
#include "base/system_texts.h"
#include "interface/insurance_interface.h"
#include "message/reply.h"
#include "message/request.h"

namespace qx {
namespace {

constexpr char kLoginFunction[] = "0";
constexpr char kUserInfoFunction[] = "8";

}  // namespace

std::optional<std::string> InsuranceInterface::Assemble(message::Request& request) {
  if (function_id_ != kLoginFunction) {
    if (function_id_ != kUserInfoFunction &&
        !request.InsertUserInfo({center_id_, staff_id_, staff_name_})) {
      SetStatus(status::kUserInfoFailed);
      return std::nullopt;
    }
    if (!request.InsertLoginInfo(login_info_)) {
      SetStatus(status::kLoginInfoFailed);
      return std::nullopt;
    }
  }
  std::optional<std::string> completed = request.Completed();
  if (!completed) {
    SetStatus(status::kLoginInfoFailed);  // the login block was the last one added
  }
  return completed;
}

int32_t InsuranceInterface::Fail(int32_t code, char* reply, int32_t result) {
  SetStatus(code);
  BuildResultXml(reply);
  return result;
}

int32_t InsuranceInterface::RunBusiness(const char* request, char* reply) {
  std::string request_text;
  bool have_request = request != nullptr;
  if (have_request) {
    request_text.assign(request);
  }
  for (int round = 0;; ++round) {
    current_recordset_.clear();
    SetStatus(status::kOk);
    if (!initialised_) {
      return Fail(status::kNotInitialised, reply, -1);
    }
    // A null request is refused like an empty one.
    if (!have_request || request_text.empty()) {
      return Fail(status::kNoRequest, reply, -1);
    }

    message::Request host_request(*env_.xml, std::move(request_text));
    switch (host_request.FunctionId(&function_id_)) {
      case message::FunctionIdLookup::kFound:
        break;
      case message::FunctionIdLookup::kNone:
        return Fail(status::kNoFunctionId, reply, -1);
      case message::FunctionIdLookup::kTooLong:
        // Refused rather than cut: a cut identifier could name another function.
        return Fail(status::kFunctionIdTooLong, reply, -1);
      case message::FunctionIdLookup::kDomFailure:
        return Fail(status::kUnpackFailed, reply, -1);
    }

    const std::optional<std::string> assembled = Assemble(host_request);
    if (!assembled) {
      BuildResultXml(reply);
      return -1;
    }

    // The reply is written into the room the output text had, and becomes the output text.
    message::Reply center_reply(*env_.xml, std::move(output_));
    center_reply.text().clear();
    BeginExchange(*assembled);
    const Status sent = connection_.Exchange(servlet_, *assembled, center_reply);
    EndExchange(sent, center_reply.text());
    if (!sent.ok()) {
      output_ = center_reply.Release();  // its room, for the result XML
      SetStatus(status::kTransferFailed, sent.words());
      BuildResultXml(reply);
      return status::kTransferFailed;
    }
    center_reply.Arrived();

    if (RunCardSteps(center_reply) < 0) {
      BuildResultXml(reply);
      return status_;
    }

    // A reply that could not be parsed (-106) is not a reply without the recordset: the kept
    // login or user information stays, and the call ends with the status.
    if (function_id_ == kLoginFunction) {
      const int32_t rows = SelectRecordSet(center_reply, "addition-xml");
      if (status_ == status::kUnpackFailed) {
        return Fail(status::kUnpackFailed, reply, status::kUnpackFailed);
      }
      if (rows >= 1) {
        std::string value;
        login_info_ = GetItem("add1", &value) >= 0 ? value : std::string();
      } else {
        login_info_ = texts::kLoginNotSupported;
      }
    } else if (function_id_ == kUserInfoFunction) {
      const int32_t rows = SelectRecordSet(center_reply, "user_info");
      if (status_ == status::kUnpackFailed) {
        return Fail(status::kUnpackFailed, reply, status::kUnpackFailed);
      }
      if (rows >= 1) {
        // A row without one of the items stores the empty text for it.
        std::string value;
        center_id_ = GetItem("center_id", &value) >= 0 ? value : std::string();
        value.clear();
        staff_id_ = GetItem("staff_id", &value) >= 0 ? value : std::string();
        value.clear();
        staff_name_ = GetItem("staff_name", &value) >= 0 ? value : std::string();
      } else {
        center_id_.clear();
        staff_id_.clear();
        staff_name_.clear();
      }
    }

    // Chaining: a reply that names a FunctionID is the next request.
    switch (center_reply.FunctionId(&function_id_)) {
      case message::FunctionIdLookup::kFound:
        if (round + 1 >= kMaxChainDepth) {
          return Fail(status::kChainTooLong, reply, status::kChainTooLong);
        }
        request_text = center_reply.Release();
        continue;
      case message::FunctionIdLookup::kTooLong:
        // The center named a function whose identifier we refuse: do not deliver as if done.
        return Fail(status::kFunctionIdTooLong, reply, -1);
      case message::FunctionIdLookup::kDomFailure:
        // Whether the center asked for a further call cannot be told: not delivered as done.
        return Fail(status::kUnpackFailed, reply, status::kUnpackFailed);
      case message::FunctionIdLookup::kNone:
        break;
    }

    rows_.set_current_row(0);
    output_ = center_reply.Release();
    OfferToBuffer(output_, reply);
    return status_;
  }
}

}  // namespace qx
