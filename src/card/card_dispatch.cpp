#include "card/card_dispatch.h"

#include "card/card_library.h"
#include "card/card_run.h"

namespace qx::card {

bool AsksForCardWork(const std::function<int32_t(std::string_view)>& count_elements) {
  return count_elements("writeic") >= 1 || count_elements("readic") >= 1;
}

namespace {

template <typename Source>
CardWork RunOver(const platform::Env& env, const std::string& library_name, int32_t port,
                 Source reply) {
  CardLibrary card(*env.libraries, library_name, port, env.notes);
  CardRun run(card, *env.prompts, *env.xml);
  CardWork work;
  work.result = run.Run(reply);
  if (work.result < 0) {
    work.message = card.message();
  } else {
    work.card_xml = run.card_xml();
  }
  return work;
}

}  // namespace

CardWork RunCardWork(const platform::Env& env, const std::string& library_name, int32_t port,
                     platform::XmlDocument* reply) {
  return RunOver(env, library_name, port, reply);
}

CardWork RunCardWork(const platform::Env& env, const std::string& library_name, int32_t port,
                     std::string_view reply) {
  return RunOver(env, library_name, port, reply);
}

}  // namespace qx::card
