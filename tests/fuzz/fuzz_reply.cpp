// The reply side of business calls on arbitrary reply bytes: a login, a user information call and
// a business call, each answered with the input, through the whole interface object (card steps
// on the in-memory card reader, unpacking, chaining), then the recordset and item reads a host
// makes. Whatever the center sends, the status and message stay within their bounds and
// result_handle hands out exactly the output text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_http.h"
#include "interface/insurance_interface.h"
#include "message/element_scan.h"
#include "message/reply.h"
#include "platform/env.h"
#include "platform/xml_document.h"
#include "support/fake_card_reader.h"
#include "support/fake_file_system.h"
#include "support/fake_prompts.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Everything reading shows of a document: each node's name, value and text, depth first.
std::string Dump(qx::platform::XmlDocument& doc, qx::platform::XmlNode node) {
  std::string out =
      doc.NodeName(node) + "[" + doc.NodeValue(node).value_or("-") + "]{" + doc.Text(node) + "}(";
  for (qx::platform::XmlNode child : doc.ChildNodes(node)) out += Dump(doc, child);
  return out + ")";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  qx::platform::fake::FakeFileSystem files;
  files.files["/hospital/qx_interface.ini"] =
      "[center]\r\nserver=127.0.0.1\r\nport=80\r\nservlet=/qx/servlet\r\n\r\n";
  qx::platform::fake::FakePrompts prompts;
  qx::platform::fake::FakeCardReader reader;
  reader.card() = {{"card_no", "C43010012345"},
                   {"indi_id", "430102198001010012"},
                   {"password", "123456"},
                   {"last_balance", "100.00"}};
  qx::platform::fake::FakeLibraryLoader loader(reader);
  qx::fuzz::CannedHttpClient http;
  http.body = reply;
  qx::platform::Env env = qx::platform::DefaultEnv();
  env.files = &files;
  env.prompts = &prompts;
  env.http = &http;
  env.libraries = &loader;

  qx::InsuranceInterface iface(env);
  std::string message(255, ' ');
  Check(iface.InitHandle(message.data()) == 1);
  const char* const requests[] = {
      "<Program><FunctionID>0</FunctionID></Program>",
      "<Program><FunctionID>8</FunctionID></Program>",
      "<Program><FunctionID>11</FunctionID><parameters/></Program>",
  };
  for (const char* request : requests) {
    std::string buffer(64, ' ');
    const int32_t result = iface.BusinessHandle(request, buffer.data());
    Check(iface.message().size() <= qx::InsuranceInterface::kMaxMessageLength);
    Check(result == iface.status() || result == -1);
    Check(iface.ResultHandle(nullptr) == static_cast<int32_t>(iface.output().size()));
    Check(reader.commits() <= 1);
  }
  for (const char* name : {"personinfo", "user_info", "addition-xml", "readic", "ROW1"}) {
    const int32_t rows = iface.SelectRecordSet(name);
    if (rows >= 1) {
      std::string value;
      for (const char* item : {"name", "center_id", "add1", "card_no", ""}) {
        const int32_t length = iface.GetItem(item, nullptr);
        const int32_t row = iface.GetItem(item, &value);
        Check(length < 0 ||
              (row == iface.current_row() && static_cast<std::size_t>(length) == value.size()));
      }
    }
  }
  {
    qx::message::Reply parsed(*env.xml, reply);
    std::string function_id;
    if (parsed.FunctionId(&function_id) == qx::message::FunctionIdLookup::kFound) {
      Check(function_id.size() <= qx::message::kMaxFunctionIdLength);
    }
    (void)parsed.CountElements("readic");
  }

  // A document loaded for reading shows what an ordinary one shows.
  {
    std::unique_ptr<qx::platform::XmlDocument> ordinary = env.xml->NewDocument();
    std::unique_ptr<qx::platform::XmlDocument> reading = env.xml->NewDocument();
    const bool loaded = ordinary->LoadXml(reply);
    Check(reading->LoadXmlForReading(reply) == loaded);
    if (loaded)
      Check(Dump(*reading, reading->DocumentElement()) ==
            Dump(*ordinary, ordinary->DocumentElement()));
  }

  // The byte search that spares catalogues a parse never denies an element the DOM finds.
  const std::string_view names[] = {"writeic", "readic", "FunctionID", "user_info"};
  const uint32_t may = qx::message::MayHoldElements(reply, names);
  for (std::size_t k = 0; k < std::size(names); ++k) {
    Check((may >> k & 1u) == (qx::message::MayHoldElement(reply, names[k]) ? 1u : 0u));
    if ((may >> k & 1u) == 0) {
      std::unique_ptr<qx::platform::XmlDocument> doc = env.xml->NewDocument();
      doc->LoadXml(reply);
      Check(doc->ElementsByTagName(names[k]).empty());
    }
  }
  return 0;
}
