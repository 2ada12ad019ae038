// CardRun: one card run over a reply from the center, through one CardLibrary: reset and start the
// reader (Retry/Cancel while the start fails), the read step (with the card password check) and
// the write step (with its refusals and one commit). The outcome is the card library's status()
// and message(), and card_xml() when the read step filled in values. Both steps read one parse of
// the reply: the caller's (message::Reply's, in a business call), or the run's own.
//
// Everything runs on the caller's thread and may block on the reader and on modal prompts: the
// Retry/Cancel boxes and the password entry.
#ifndef QX_CARD_CARD_RUN_H_
#define QX_CARD_CARD_RUN_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "card/card_library.h"
#include "platform/prompts.h"
#include "platform/xml_document.h"

namespace qx::card {

class CardRun {
 public:
  // card does the calls and holds the outcome; prompts shows the boxes and the password entry;
  // xml parses a reply handed in as text. All three outlive the run.
  CardRun(CardLibrary& card, platform::Prompts& prompts, platform::XmlFactory& xml)
      : card_(card), prompts_(prompts), xml_(xml) {}
  CardRun(const CardRun&) = delete;
  CardRun& operator=(const CardRun&) = delete;

  // One card run over the parsed reply: reset, start (Retry/Cancel box while the start fails),
  // the read step, then the write step unless the read failed. Returns the card library's
  // status(). The read step fills the card's values into the document's first "readic" block
  // (the document then no longer stands for the reply's text: card_xml() does); the write step
  // only reads. A null reply is one that could not be parsed: -106 once the reader is started.
  int32_t Run(platform::XmlDocument* reply);
  // The same over the reply's text, parsed once here with xml.
  int32_t Run(std::string_view reply);

  // The reply with the card's values filled in; empty when the read step had nothing to do.
  const std::string& card_xml() const { return card_xml_; }

 private:
  // The read step: password check and the values of the first "readic" block filled into the
  // reply, kept in card_xml(). 1 when done or nothing to do; -401, the read's status or -106.
  int32_t ReadStep(platform::XmlDocument* doc);
  // The write step: the card brought in line with the first "writeic" block and committed once.
  // 1 when done or nothing to do; -320, -321, a failing step's status, or -106.
  int32_t WriteStep(platform::XmlDocument& doc);

  // True when the password typed matches the card's value of the item named item_name.
  bool CheckPassword(const std::string& item_name);
  // The read step's end when the reply cannot be worked on: -106, card_xml() empty.
  int32_t Unparsed();
  // One pass of the write step. Sets *retry when the clerk asked to try again after a card swap.
  int32_t WriteOnce(platform::XmlDocument& doc, bool* retry);

  CardLibrary& card_;
  platform::Prompts& prompts_;
  platform::XmlFactory& xml_;
  std::string card_xml_;
};

}  // namespace qx::card

#endif  // QX_CARD_CARD_RUN_H_
