#include "card/card_run.h"

#include <exception>
#include <memory>
#include <vector>

#include "base/status_codes.h"
#include "base/system_texts.h"
#include "card/card_values.h"
#include "platform/memory_wipe.h"

namespace qx::card {
namespace {

using platform::XmlDocument;
using platform::XmlNode;

// The item elements of a node: text, CDATA, comments and processing instructions in a block or
// a row are not card items (they take a node value, an element never does).
std::vector<XmlNode> ElementChildren(XmlDocument& doc, XmlNode node) {
  std::vector<XmlNode> elements;
  for (XmlNode child : doc.ChildNodes(node)) {
    if (!doc.NodeValue(child).has_value()) {
      elements.push_back(child);
    }
  }
  return elements;
}

// The items of the first row of the reply's first block named block_name (empty when there are
// none). Throws DomError when the DOM fails.
std::vector<XmlNode> FirstRowItems(XmlDocument& doc, std::string_view block_name) {
  const std::vector<XmlNode> blocks = doc.ElementsByTagName(block_name);
  if (blocks.empty()) {
    return {};
  }
  const std::vector<XmlNode> rows = ElementChildren(doc, blocks.front());
  if (rows.empty()) {
    return {};
  }
  return ElementChildren(doc, rows.front());
}

}  // namespace

int32_t CardRun::Run(std::string_view reply) {
  std::unique_ptr<XmlDocument> doc;
  try {
    doc = xml_.NewDocument();
    doc->LoadXml(reply);
  } catch (const std::exception&) {
    // DomError, or no memory for the document: the read step reports it, once the reader is
    // started.
    doc.reset();
  }
  return Run(doc.get());
}

int32_t CardRun::Run(XmlDocument* reply) {
  // Each pass is one whole attempt; the clerk ends a failing start with Cancel, however often
  // Retry was chosen before.
  for (;;) {
    card_xml_.clear();
    card_.Reset();
    if (card_.Start() < 0) {
      if (prompts_.ShowBox(card_.message(), texts::kCardRunFailedCaption,
                           platform::BoxButtons::kRetryCancel,
                           platform::BoxIcon::kNone) == platform::BoxAnswer::kRetry) {
        continue;
      }
      return card_.status();
    }
    ReadStep(reply);
    if (card_.status() < 0) {
      return card_.status();
    }
    // (A read step that succeeded had a document.) The values it filled in belong to items of
    // "readic"'s first row, never to those of "writeic"'s: the write step reads what was sent.
    WriteStep(*reply);
    return card_.status();
  }
}

bool CardRun::CheckPassword(const std::string& item_name) {
  std::string on_card;
  if (card_.Get(item_name, &on_card, /*secret=*/true) < 0) {
    platform::WipeString(&on_card);
    return false;
  }
  std::string typed = prompts_.AskPassword(texts::kCardPasswordLabel, 6);
  const bool same = typed == on_card;
  platform::WipeString(&typed);
  platform::WipeString(&on_card);
  return same;
}

int32_t CardRun::ReadStep(XmlDocument* doc) {
  card_.ClearStatus();
  try {
    if (doc == nullptr) {
      return Unparsed();
    }
    const std::vector<XmlNode> items = FirstRowItems(*doc, "readic");
    if (items.empty()) {
      return 1;
    }

    for (XmlNode item : items) {
      if (doc->NodeName(item) != "verifyic") {
        continue;
      }
      const std::vector<XmlNode> children = doc->ChildNodes(item);
      if (children.empty()) {
        continue;  // an empty "verifyic" asks for no password
      }
      if (!CheckPassword(doc->Text(children.front()))) {
        card_.SetStatus(status::kPasswordFailed);
        return status::kPasswordFailed;
      }
      break;
    }

    std::string value;
    for (XmlNode item : items) {
      const std::string name = doc->NodeName(item);
      if (name == "verifyic") {
        continue;
      }
      if (card_.Get(name, &value) < 0) {
        return card_.status();
      }
      const std::vector<XmlNode> children = doc->ChildNodes(item);
      if (children.empty()) {
        doc->SetText(item, value);
      } else if (doc->NodeValue(children.front()).has_value()) {
        doc->SetNodeValue(children.front(), value);
      }
      // An item whose first child is an element keeps what it has.
    }
    card_xml_ = doc->Xml(doc->DocumentElement());
    return 1;
  } catch (const std::exception&) {  // DomError, or memory the steps ran out of
    return Unparsed();
  }
}

int32_t CardRun::Unparsed() {
  // The reply could not be worked on: report it, so that neither a reply without the card's
  // values nor a write that never happened passes for success.
  card_xml_.clear();
  card_.SetStatus(status::kUnpackFailed);
  return status::kUnpackFailed;
}

int32_t CardRun::WriteStep(XmlDocument& doc) {
  for (;;) {
    bool retry = false;
    const int32_t result = WriteOnce(doc, &retry);
    if (!retry) {
      return result;
    }
  }
}

int32_t CardRun::WriteOnce(XmlDocument& doc, bool* retry) {
  card_.ClearStatus();
  try {
    const std::vector<XmlNode> items = FirstRowItems(doc, "writeic");
    if (items.empty()) {
      return 1;
    }

    std::string on_card;
    for (XmlNode item : items) {
      const std::string name = doc.NodeName(item);
      // Nothing staged so far is committed when the card cannot be read or refuses a value:
      // the failing step's own status and message tell the host that nothing was written.
      if (card_.Get(name, &on_card) < 0) {
        return card_.status();
      }
      const std::vector<XmlNode> children = doc.ChildNodes(item);
      std::string wanted;
      if (!children.empty()) {
        wanted = doc.NodeValue(children.front()).value_or(std::string());
      }
      if (wanted == on_card) {
        continue;
      }
      if (name == "card_no") {
        if (prompts_.ShowBox(texts::kCardNumberDiffersText, texts::kCardNumberDiffersCaption,
                             platform::BoxButtons::kRetryCancel,
                             platform::BoxIcon::kNone) == platform::BoxAnswer::kRetry) {
          card_.Reset();
          card_.Start();
          *retry = true;
          return card_.status();
        }
        card_.SetStatus(status::kCardNumberDiffers);
        return status::kCardNumberDiffers;
      }
      if (name == "last_balance" && ReadBalance(on_card) != BalanceReading::kZeroOrMore) {
        card_.SetStatus(status::kBalanceRefused);
        return status::kBalanceRefused;
      }
      if (name == "issuer_code" || name == "indi_id") {
        continue;
      }
      const int32_t put = card_.Put(name, wanted);
      if (put != 0) {
        if (put > 0) {
          card_.SetStatus(status::kICPutFailed);
        }
        return card_.status();
      }
    }
    card_.Execute();
    return 1;
  } catch (const std::exception&) {  // DomError, or memory the steps ran out of
    card_.SetStatus(status::kUnpackFailed);
    return status::kUnpackFailed;
  }
}

}  // namespace qx::card
