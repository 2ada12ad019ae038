// The card steps on arbitrary replies against the in-memory card reader. The first input byte
// picks the reader's faults, the rest is the reply. A run commits at most once, and a run that
// fails leaves the card exactly as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "card/card_library.h"
#include "card/card_run.h"
#include "platform/env.h"
#include "support/fake_card_reader.h"
#include "support/fake_prompts.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const char* const kFaults[] = {
    "",
    "ICGet:card_no=fail",
    "ICPut=fail-after:1",
    "ICExecute=fail",
    "ICPut=return:3",
    "ICGeterrMsg=unterminated;ICGet=fail-on:2",
    "ICGeterrMsg=long:5000;*=fail-on:4",
    "ICGet=unterminated",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  qx::platform::fake::FakeCardReader reader;
  reader.card() = {{"card_no", "C43010012345"},
                   {"indi_id", "430102198001010012"},
                   {"password", "123456"},
                   {"last_balance", "100.00"},
                   {"name", "x"}};
  std::string error;
  reader.faults().Parse(kFaults[data[0] % (sizeof kFaults / sizeof kFaults[0])], &error);
  const qx::platform::fake::CardItems before = reader.card();
  qx::platform::fake::FakeLibraryLoader loader(reader);
  qx::platform::fake::FakePrompts prompts;
  prompts.QueuePassword("123456");
  prompts.QueueBoxAnswer(qx::platform::BoxAnswer::kRetry);  // one retry, then Cancel
  {
    qx::card::CardLibrary card(loader, qx::card::kCardLibraryName, 1);
    qx::card::CardRun run(card, prompts, *qx::platform::DefaultEnv().xml);
    const int32_t result = run.Run(reply);
    Check(result == card.status());
    Check(card.message().size() <= qx::card::CardLibrary::kMaxMessageLength);
    Check(reader.commits() <= 1);
    if (result < 0) {
      Check(reader.card() == before);
    }
  }
  Check(loader.loaded() == 0);
  return 0;
}
