// The card step of a business call: when the center's reply asks for card work ("readic" or
// "writeic" blocks), one card run through a fresh CardLibrary, whose outcome becomes the
// interface object's status and message, and whose read values replace the output text.
#include <memory>
#include <string>
#include <string_view>

#include "card/card_library.h"
#include "interface/insurance_interface.h"
#include "platform/dynamic_library.h"
#include "platform/xml_document.h"

namespace qx {

int32_t InsuranceInterface::RunCardSteps() {
  // A "verifyic" alone is no card work: it lives inside "readic".
  if (CountElements(output_, "writeic") < 1 && CountElements(output_, "readic") < 1) {
    return 0;
  }
  int32_t result = 0;
  std::string card_xml;
  {
    // The card library is loaded for this run only and unloaded at the end of this block.
    card::CardLibrary card(*env_.libraries, *env_.prompts, *env_.xml, card_library_name(),
                           card_port());
    result = card.Run(output_);
    if (result < 0) {
      // The card's own words, not this object's table.
      SetStatusWithMessage(result, card.message());
      return result;
    }
    card_xml = card.card_xml();
  }
  if (!card_xml.empty()) {
    output_ = std::move(card_xml);
    ResetReplyDocument();  // the reply with the card's values is parsed afresh when read
  }
  return result;
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
