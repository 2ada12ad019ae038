// Request assembly on arbitrary request bytes with arbitrary stored login and user values. The
// input is split at 0x01 bytes: request, login information, center id, staff id, staff name.
// A completed request carries exactly one block of each kind, whatever the stored values hold,
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

#include "message/reply_reader.h"
#include "message/request_assembly.h"
#include "platform/env.h"
#include "platform/xml_document.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
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

  std::string before;
  const int32_t found_before = qx::message::ExtractFunctionId(xml, request, &before);

  std::optional<std::string> with_user = qx::message::InsertUserInfo(xml, request, user);
  if (!with_user) return 0;
  if (user.center_id.empty()) {
    Check(*with_user == request);
  } else {
    Check(qx::message::CountElements(xml, *with_user, "user_info") == 1);
  }
  std::optional<std::string> completed = qx::message::InsertLoginInfo(xml, *with_user, parts[1]);
  if (!completed) return 0;
  Check(qx::message::CountElements(xml, *completed, "addition-xml") == 1);
  if (!user.center_id.empty()) {
    Check(qx::message::CountElements(xml, *completed, "user_info") == 1);
  }
  std::string after;
  const int32_t found_after = qx::message::ExtractFunctionId(xml, *completed, &after);
  bool root_is_function_id = false;
  try {
    std::unique_ptr<qx::platform::XmlDocument> doc = xml.NewDocument();
    root_is_function_id =
        doc->LoadXml(request) && doc->NodeName(doc->DocumentElement()) == "FunctionID";
  } catch (...) {
  }
  if (found_before == qx::message::kFunctionIdFound && !root_is_function_id) {
    Check(found_after == found_before && after == before);
  }
  return 0;
}
