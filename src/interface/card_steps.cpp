// The card step of a business call: when the center's reply asks for card work ("readic" or
// "writeic" blocks), one card run (card/card_dispatch.h), whose outcome becomes the interface
// object's status and message, and whose read values replace the reply's text.
#include <string>
#include <string_view>

#include "base/status_codes.h"
#include "card/card_dispatch.h"
#include "interface/insurance_interface.h"
#include "message/reply.h"

namespace qx {

int32_t InsuranceInterface::RunCardSteps(message::Reply& reply) {
  // A failing DOM counts no block (status -106, and the call goes on).
  const auto count = [this, &reply](std::string_view tag) {
    const int32_t found = reply.CountElements(tag);
    if (found < 0) {
      SetStatus(status::kUnpackFailed);
    }
    return found;
  };
  if (!card::AsksForCardWork(count)) {
    return 0;
  }
  card::CardWork work = card::RunCardWork(env_, card_library_name(), card_port(), reply.text());
  if (work.result < 0) {
    // The card's own words, not this object's table.
    SetStatusWithMessage(work.result, work.message);
    return work.result;
  }
  if (!work.card_xml.empty()) {
    reply.Replace(std::move(work.card_xml));  // parsed afresh when read
  }
  return work.result;
}

}  // namespace qx
