// Completing requests on arbitrary request bytes with arbitrary stored login and user values. The
// input is split at 0x01 bytes: request, login information, center id, staff id, staff name.
// A completed request carries exactly one block of each kind, whatever the stored values hold,
// (one parse for both blocks writes the document a parse per block writes, and a request spliced
// as text comes out as the DOM writes it, byte for byte),
// and the FunctionID found in it is the one found in the request (unless the request's document
// element is itself the FunctionID: the blocks are appended to it and their text joins its text).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/reply.h"
#include "message/request.h"
#include "platform/env.h"
#include "platform/xml_document.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The text read and written again by the DOM.
std::string Rewritten(qx::platform::XmlFactory& xml, const std::string& text) {
  std::unique_ptr<qx::platform::XmlDocument> doc = xml.NewDocument();
  doc->LoadXml(text);
  return doc->Xml(doc->DocumentElement());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01 && parts.size() < 5) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  parts.resize(5);
  qx::platform::XmlFactory& xml = *qx::platform::DefaultEnv().xml;
  const std::string& request = parts[0];
  const qx::message::UserInfo user{parts[2], parts[3], parts[4]};

  // As a business call does it: one parse for the FunctionID and both blocks.
  qx::message::Request once(xml, request);
  std::string before;
  const qx::message::FunctionIdLookup found_before = once.FunctionId(&before);
  const bool user_added = once.InsertUserInfo(user);
  const bool login_added = user_added && once.InsertLoginInfo(parts[1]);
  std::optional<std::string> completed = once.Completed();

  // Every block through the DOM: the same answers and the same bytes.
  qx::message::Request dom_only(xml, request, qx::message::Request::Assembly::kDomOnly);
  std::string dom_id;
  Check(dom_only.FunctionId(&dom_id) == found_before && dom_id == before);
  const bool dom_user = dom_only.InsertUserInfo(user);
  Check(dom_user == user_added);
  Check((dom_user && dom_only.InsertLoginInfo(parts[1])) == login_added);
  Check(dom_only.Completed() == completed);

  // One block at a time, each on a parse of its own, gives the same.
  qx::message::Request first(xml, request);
  if (!first.InsertUserInfo(user)) {
    Check(!user_added);
    return 0;
  }
  std::optional<std::string> with_user = first.Completed();
  Check(user_added && with_user.has_value());
  if (user.center_id.empty()) {
    Check(*with_user == request);
  } else {
    Check(qx::message::Reply(xml, *with_user).CountElements("user_info") == 1);
  }
  qx::message::Request second(xml, *with_user);
  if (!second.InsertLoginInfo(parts[1])) {
    Check(!login_added);
    return 0;
  }
  // The same document: the same bytes once both are read and written again (a parse per block
  // drops a user value made only of blanks, and writes an empty one as <x/>).
  std::optional<std::string> stepwise = second.Completed();
  Check(login_added && completed.has_value() && stepwise.has_value() &&
        Rewritten(xml, *stepwise) == Rewritten(xml, *completed));
  qx::message::Reply sent(xml, *completed);
  Check(sent.CountElements("addition-xml") == 1);
  if (!user.center_id.empty()) {
    Check(sent.CountElements("user_info") == 1);
  }
  std::string after;
  const qx::message::FunctionIdLookup found_after = sent.FunctionId(&after);
  bool root_is_function_id = false;
  try {
    std::unique_ptr<qx::platform::XmlDocument> doc = xml.NewDocument();
    root_is_function_id =
        doc->LoadXml(request) && doc->NodeName(doc->DocumentElement()) == "FunctionID";
  } catch (...) {
  }
  if (found_before == qx::message::FunctionIdLookup::kFound && !root_is_function_id) {
    Check(found_after == found_before && after == before);
  }
  return 0;
}
