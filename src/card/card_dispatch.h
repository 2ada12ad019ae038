// The card step's dispatcher: whether a reply from the center asks for card work ("readic" or
// "writeic" blocks), and one card run for it through a card library loaded for that run only.
#ifndef QX_CARD_CARD_DISPATCH_H_
#define QX_CARD_CARD_DISPATCH_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/env.h"
#include "platform/xml_document.h"

namespace qx::card {

// count_elements(tag) gives the number of elements named tag in the reply, or a negative value
// when the reply could not be counted (the counter reports that itself; the block then counts
// as absent). True when there is a "writeic" block or, failing that, a "readic" block. A
// "verifyic" alone is no card work: it lives inside "readic".
bool AsksForCardWork(const std::function<int32_t(std::string_view)>& count_elements);

// How a card run ended.
struct CardWork {
  int32_t result = 0;    // 0, or the card's negative status
  std::string message;   // the card's message, for a negative result
  std::string card_xml;  // the reply with the card's values; empty when nothing was read
};

// One card run over the parsed reply (CardRun::Run: its "readic" values are filled in; null when
// it could not be parsed) with the card library library_name on port, through env's loader and
// prompts. The library is unloaded before this returns.
CardWork RunCardWork(const platform::Env& env, const std::string& library_name, int32_t port,
                     platform::XmlDocument* reply);
// The same over the reply's text, parsed once with env's DOM.
CardWork RunCardWork(const platform::Env& env, const std::string& library_name, int32_t port,
                     std::string_view reply);

}  // namespace qx::card

#endif  // QX_CARD_CARD_DISPATCH_H_
