// The XML DOM document on POSIX, over pugixml. (Being filled in: this first version only makes
// the factory exist so that the library links.)
#include <memory>

#include "platform/posix/default_parts.h"
#include "platform/xml_document.h"

namespace qx::platform::posix {
namespace {

class PugiXmlFactory final : public XmlFactory {
 public:
  std::unique_ptr<XmlDocument> NewDocument() override {
    throw DomError("XML documents are not available yet");
  }
};

}  // namespace

XmlFactory& DefaultXmlFactory() {
  static PugiXmlFactory factory;
  return factory;
}

}  // namespace qx::platform::posix
