// The card step of a business call: when the center's reply asks for card work ("readic" or
// "writeic" blocks), one card run through a fresh CardLibrary, whose outcome becomes the
// interface object's status and message, and whose read values replace the reply's text.
#include <string>

#include "base/status_codes.h"
#include "card/card_library.h"
#include "interface/insurance_interface.h"
#include "message/reply.h"

namespace qx {

int32_t InsuranceInterface::RunCardSteps(message::Reply& reply) {
  // A "verifyic" alone is no card work: it lives inside "readic". A failing DOM counts no block
  // (status -106, and the call goes on).
  const auto count = [this, &reply](std::string_view tag) {
    const int32_t found = reply.CountElements(tag);
    if (found < 0) {
      SetStatus(status::kUnpackFailed);
    }
    return found;
  };
  if (count("writeic") < 1 && count("readic") < 1) {
    return 0;
  }
  int32_t result = 0;
  std::string card_xml;
  {
    // The card library is loaded for this run only and unloaded at the end of this block.
    card::CardLibrary card(*env_.libraries, *env_.prompts, *env_.xml, card_library_name(),
                           card_port());
    result = card.Run(reply.text());
    if (result < 0) {
      // The card's own words, not this object's table.
      SetStatusWithMessage(result, card.message());
      return result;
    }
    card_xml = card.card_xml();
  }
  if (!card_xml.empty()) {
    reply.Replace(std::move(card_xml));  // parsed afresh when read
  }
  return result;
}

}  // namespace qx
