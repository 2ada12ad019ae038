// The card step of a business call: when the center's reply asks for card work ("readic" or
// "writeic" blocks), one card run (card/card_dispatch.h), whose outcome becomes the interface
// object's status and message, and whose read values replace the reply's text.
#include <chrono>
#include <string>
#include <string_view>

#include "base/status_codes.h"
#include "card/card_dispatch.h"
#include "interface/insurance_interface.h"
#include "message/reply.h"

namespace qx {

int32_t InsuranceInterface::RunCardSteps(message::Reply& reply) {
  // The byte search saw a block's name, and the document could not be built or read (out of
  // memory among others): the card work asked for cannot be told from none, so the call ends
  // with -106 rather than pass for done.
  bool count_failed = false;
  const auto count = [&reply, &count_failed](std::string_view tag) {
    const int32_t found = reply.CountElements(tag);
    count_failed = count_failed || found < 0;
    return found;
  };
  const bool work_asked = card::AsksForCardWork(count);
  if (count_failed) {
    SetStatus(status::kUnpackFailed);
    return status::kUnpackFailed;
  }
  if (!work_asked) {
    return 0;
  }
  // The card run reads the reply's own parse, and fills the card's values into it. Its
  // dialogs go through the log's prompts as the exchange's do.
  platform::Env env = env_;
  env.prompts = &logged_prompts_;
  env.notes = log_.on() ? &log_ : nullptr;
  const auto start = std::chrono::steady_clock::now();
  log_.Line("card work begins: library " + card_library_name() + ", port " +
            std::to_string(card_port()));
  card::CardWork work =
      card::RunCardWork(env, card_library_name(), card_port(), reply.CardDocument());
  log_.Line("card work ends after " + ElapsedMs(start) + ": result " + std::to_string(work.result) +
            ", message \"" + work.message + "\"");
  if (work.result == status::kUnpackFailed) {
    SetStatus(status::kUnpackFailed);  // the reply could not be worked on: this table's words
    return work.result;
  }
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
