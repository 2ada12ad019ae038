// business_handle: one business call from the host's request to the reply in its buffer.
//
// The center may answer with a reply that itself names a FunctionID; that reply is then posted
// back as the next request, and the host receives only the final reply. The chain is followed
// in a loop, each round exactly as a fresh call, up to kMaxChainDepth rounds.
#include <cstddef>
#include <string>
#include <string_view>

#include "interface/insurance_interface.h"
#include "interface/interface_texts.h"
#include "interface/status_codes.h"
#include "message/reply_reader.h"

namespace qx {
namespace {

constexpr char kLoginFunction[] = "0";
constexpr char kUserInfoFunction[] = "8";

}  // namespace

int32_t InsuranceInterface::BusinessHandle(const char* request, char* reply) {
  // The reply's document lives no longer than this call.
  struct DropReplyOnExit {
    InsuranceInterface* self;
    ~DropReplyOnExit() { self->DropReplyDocument(); }
  } drop_reply{this};
  std::string request_text;
  bool have_request = request != nullptr;
  if (have_request) {
    request_text.assign(request);
  }
  for (int round = 0;; ++round) {
    current_recordset_.clear();
    DropReplyDocument();
    SetStatus(status::kOk);
    if (!initialised_) {
      SetStatus(status::kNotInitialised);
      BuildResultXml(reply);
      return -1;
    }
    // A null request is refused like an empty one.
    if (!have_request || request_text.empty()) {
      SetStatus(status::kNoRequest);
      BuildResultXml(reply);
      return -1;
    }

    if (ExtractFunctionId(request_text, &function_id_) < 0) {
      if (status_ == status::kOk) {
        SetStatus(status::kNoFunctionId);
      }
      BuildResultXml(reply);
      return -1;
    }

    std::string assembled;
    if (function_id_ == kLoginFunction) {
      assembled = request_text;
    } else if (function_id_ == kUserInfoFunction) {
      assembled = InsertLoginInfo(request_text);
    } else {
      assembled = InsertUserInfo(request_text);
      if (assembled != "-1") {
        assembled = InsertLoginInfo(assembled);
      }
    }
    if (assembled == "-1") {
      BuildResultXml(reply);
      return -1;
    }

    output_.clear();
    // The names the call looks for are searched in each piece as it arrives, while its bytes
    // are still in the cache.
    message::ElementNamesScan names(kReplyNames);
    const Status sent = connection_.Exchange(
        servlet_, assembled, output_,
        [&names](std::string_view text, std::size_t from) { names.Feed(text, from); });
    if (!sent.ok()) {
      SetStatus(status::kTransferFailed, sent.words());
      BuildResultXml(reply);
      return status::kTransferFailed;
    }
    ArmReplyDocument();  // from here on the output text is the reply, parsed once when read
    KnowReplyNames(names.seen());

    if (RunCardSteps() < 0) {
      BuildResultXml(reply);
      return status_;
    }

    if (function_id_ == kLoginFunction) {
      if (SelectRecordSet("addition-xml") >= 1) {
        std::string value;
        login_info_ = GetItem("add1", &value) >= 0 ? value : std::string();
      } else {
        login_info_ = texts::LoginNotSupported();
      }
    } else if (function_id_ == kUserInfoFunction) {
      if (SelectRecordSet("user_info") >= 1) {
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
    const int32_t chained = ExtractFunctionId(output_, &function_id_);
    if (chained > 0) {
      if (round + 1 >= kMaxChainDepth) {
        SetStatus(status::kChainTooLong);
        BuildResultXml(reply);
        return status::kChainTooLong;
      }
      request_text = output_;
      continue;
    }
    if (chained == status::kFunctionIdTooLong) {
      // The center named a function whose identifier we refuse: do not deliver as if done.
      BuildResultXml(reply);
      return -1;
    }

    rows_.set_current_row(0);
    DropReplyDocument();
    OfferToBuffer(output_, reply);
    return status_;
  }
}

}  // namespace qx
