// The card step of a business call: when the center's reply asks for card work ("readic" or
// "writeic" blocks), one card run (card/card_dispatch.h), whose outcome becomes the interface
// object's status and message, and whose read values replace the output text.
#include <memory>
#include <string>
#include <string_view>

#include "card/card_dispatch.h"
#include "interface/insurance_interface.h"
#include "platform/xml_document.h"

namespace qx {

int32_t InsuranceInterface::RunCardSteps() {
  if (!card::AsksForCardWork([&](std::string_view tag) { return CountElements(output_, tag); })) {
    return 0;
  }
  card::CardWork work = card::RunCardWork(env_, card_library_name(), card_port(), output_);
  if (work.result < 0) {
    // The card's own words, not this object's table.
    SetStatusWithMessage(work.result, work.message);
    return work.result;
  }
  if (!work.card_xml.empty()) {
    output_ = std::move(work.card_xml);
    ResetReplyDocument();  // the reply with the card's values is parsed afresh when read
  }
  return work.result;
}

int32_t InsuranceInterface::CountElements(std::string_view xml, std::string_view tag) {
  if (!MayHold(xml, tag)) {
    return 0;
  }
  try {
    if (platform::XmlDocument* reply = ReplyDocument(xml)) {
      return static_cast<int32_t>(reply->ElementsByTagName(tag).size());
    }
    std::unique_ptr<platform::XmlDocument> doc = env_.xml->NewDocument();
    doc->LoadXml(xml);  // text that does not parse counts 0
    return static_cast<int32_t>(doc->ElementsByTagName(tag).size());
  } catch (const platform::DomError&) {
    SetStatus(-106);
    return -1;
  }
}

}  // namespace qx
