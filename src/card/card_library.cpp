#include "card/card_library.h"

#include <cstring>
#include <optional>
#include <vector>

#include "card/card_texts.h"
#include "card/card_values.h"

namespace qx::card {
namespace {

using platform::XmlDocument;
using platform::XmlNode;

// A card library that writes more than it was promised room for must not corrupt our memory:
// the buffers handed over are larger than the sizes the entry points are told to respect, and
// only the announced part is ever read back.
constexpr std::size_t kValueBufferRoom = 4096;
constexpr std::size_t kErrorBufferRoom = 16384;

// Zero-filled heap bytes that are wiped again when released (they may hold a card password).
class WipedBuffer {
 public:
  explicit WipedBuffer(std::size_t size) : bytes_(size, '\0') {}
  WipedBuffer(const WipedBuffer&) = delete;
  WipedBuffer& operator=(const WipedBuffer&) = delete;
  ~WipedBuffer() { WipeBytes(bytes_.data(), bytes_.size()); }

  char* data() { return bytes_.data(); }
  // The zero-terminated text at the start, never reading beyond limit bytes.
  std::string_view TextWithin(std::size_t limit) const {
    return std::string_view(bytes_.data(), strnlen(bytes_.data(), limit));
  }

 private:
  std::vector<char> bytes_;
};

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

// The items of the first row of the first block named block_name; empty when there are none.
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

CardLibrary::CardLibrary(platform::LibraryLoader& loader, platform::Prompts& prompts,
                         platform::XmlFactory& xml, const std::string& library_name, int32_t port)
    : prompts_(prompts), xml_(xml), port_(port), library_(loader.Load(library_name)) {}

CardLibrary::~CardLibrary() = default;

void* CardLibrary::FindEntryPoint(const char* name) {
  return library_ ? library_->FindEntryPoint(name) : nullptr;
}

void CardLibrary::SetMessage(std::string_view head, std::string_view tail) {
  std::string text;
  text.reserve(head.size() + tail.size());
  text.append(head);
  text.append(tail);
  message_ = std::string(CutToWholeGbkCharacters(text, kMaxMessageLength));
}

void CardLibrary::SetStatus(int32_t code) {
  status_ = code;
  if (code >= -210 && code <= -205) {
    std::string library_text;
    if (FetchErrorText(&library_text) < 0) {
      return;  // status -211 with its own text
    }
    status_ = code;
    SetMessage(CardStatusText(code), library_text);
    return;
  }
  SetMessage(CardStatusText(code), {});
}

int32_t CardLibrary::FetchErrorText(std::string* text) {
  text->clear();
  auto fetch = platform::EntryPointAs<platform::ICGeterrMsgFunction>(FindEntryPoint("ICGeterrMsg"));
  if (fetch == nullptr) {
    SetStatus(-211);
    return -211;
  }
  WipedBuffer buffer(kErrorBufferRoom);
  fetch(buffer.data());
  // A text without its terminating zero ends with the announced buffer.
  text->assign(buffer.TextWithin(kErrorBufferSize));
  return 0;
}

void CardLibrary::SetFailure(int32_t failure_code) {
  status_ = failure_code;
  std::string library_text;
  if (FetchErrorText(&library_text) < 0) {
    return;  // status -211 with its own text
  }
  SetMessage(CardFailurePrefix(failure_code), library_text);
}

int32_t CardLibrary::Reset() {
  auto reset = platform::EntryPointAs<platform::ICResetFunction>(FindEntryPoint("ICReset"));
  if (reset == nullptr) {
    SetStatus(-204);
    return -204;
  }
  SetStatus(0);
  if (reset() < 0) {
    SetFailure(-304);
  }
  return status_;
}

int32_t CardLibrary::Start() {
  auto start = platform::EntryPointAs<platform::ICStartFunction>(FindEntryPoint("ICStart"));
  if (start == nullptr) {
    SetStatus(-200);
    return status_;
  }
  SetStatus(0);
  if (start(port_) < 0) {
    SetFailure(-300);
  }
  return status_;
}

int32_t CardLibrary::Get(const std::string& name, std::string* value) {
  value->clear();
  auto get = platform::EntryPointAs<platform::ICGetFunction>(FindEntryPoint("ICGet"));
  if (get == nullptr) {
    SetStatus(-201);
    return status_;
  }
  SetStatus(0);
  WipedBuffer buffer(kValueBufferRoom);
  if (get(name.c_str(), buffer.data()) < 0) {
    SetFailure(-301);
    return status_;
  }
  // A value ended by its zero within the 100 bytes is taken exactly as the reader wrote it, a
  // lead byte without its trail included: the write step compares those very bytes. Only a
  // library that left out the zero has its value cut, to 99 bytes ending on a whole character.
  const std::string_view text = buffer.TextWithin(kValueBufferSize);
  if (text.size() < kValueBufferSize) {
    value->assign(text);
  } else {
    value->assign(CutToWholeGbkCharacters(text, kValueBufferSize - 1));
  }
  return status_;
}

int32_t CardLibrary::Put(const std::string& name, const std::string& value) {
  auto put = platform::EntryPointAs<platform::ICPutFunction>(FindEntryPoint("ICPut"));
  if (put == nullptr) {
    SetStatus(-202);
    return -202;
  }
  SetStatus(0);
  const int result = put(name.c_str(), value.c_str());
  if (result < 0) {
    SetFailure(-302);
  }
  return result;
}

int32_t CardLibrary::Execute() {
  auto execute = platform::EntryPointAs<platform::ICExecuteFunction>(FindEntryPoint("ICExecute"));
  if (execute == nullptr) {
    SetStatus(-203);
    return -203;
  }
  SetStatus(0);
  const int result = execute(port_);
  if (result < 0) {
    SetFailure(-303);
  }
  return result;
}

int32_t CardLibrary::Run(std::string_view reply) {
  // Each pass is one whole attempt; the clerk ends a failing start with Cancel, however often
  // Retry was chosen before.
  for (;;) {
    card_xml_.clear();
    Reset();
    if (Start() < 0) {
      if (prompts_.ShowBox(message_, CardRunFailedCaption(), platform::BoxButtons::kRetryCancel,
                           platform::BoxIcon::kNone) == platform::BoxAnswer::kRetry) {
        continue;
      }
      return status_;
    }
    ReadStep(reply);
    if (status_ < 0) {
      return status_;
    }
    WriteStep(reply);
    return status_;
  }
}

bool CardLibrary::CheckPassword(const std::string& item_name) {
  std::string on_card;
  if (Get(item_name, &on_card) < 0) {
    WipeString(&on_card);
    return false;
  }
  std::string typed = prompts_.AskPassword(CardPasswordLabel(), 6);
  const bool same = typed == on_card;
  WipeString(&typed);
  WipeString(&on_card);
  return same;
}

int32_t CardLibrary::ReadStep(std::string_view reply) {
  status_ = 0;
  try {
    std::unique_ptr<XmlDocument> doc = xml_.NewDocument();
    doc->LoadXml(reply);
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
        SetStatus(kPasswordFailed);
        return kPasswordFailed;
      }
      break;
    }

    std::string value;
    for (XmlNode item : items) {
      const std::string name = doc->NodeName(item);
      if (name == "verifyic") {
        continue;
      }
      if (Get(name, &value) < 0) {
        return status_;
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
  } catch (const platform::DomError&) {
    // The reply could not be worked on: report it, so that neither a reply without the card's
    // values nor a write that never happened passes for success.
    card_xml_.clear();
    SetStatus(kDomFailed);
    return kDomFailed;
  }
}

int32_t CardLibrary::WriteStep(std::string_view reply) {
  for (;;) {
    bool retry = false;
    const int32_t result = WriteOnce(reply, &retry);
    if (!retry) {
      return result;
    }
  }
}

int32_t CardLibrary::WriteOnce(std::string_view reply, bool* retry) {
  status_ = 0;
  try {
    std::unique_ptr<XmlDocument> doc = xml_.NewDocument();
    doc->LoadXml(reply);
    const std::vector<XmlNode> items = FirstRowItems(*doc, "writeic");
    if (items.empty()) {
      return 1;
    }

    std::string on_card;
    for (XmlNode item : items) {
      const std::string name = doc->NodeName(item);
      // Nothing staged so far is committed when the card cannot be read or refuses a value:
      // the failing step's own status and message tell the host that nothing was written.
      if (Get(name, &on_card) < 0) {
        return status_;
      }
      const std::vector<XmlNode> children = doc->ChildNodes(item);
      std::string wanted;
      if (!children.empty()) {
        wanted = doc->NodeValue(children.front()).value_or(std::string());
      }
      if (wanted == on_card) {
        continue;
      }
      if (name == "card_no") {
        if (prompts_.ShowBox(CardNumberDiffersText(), CardNumberDiffersCaption(),
                             platform::BoxButtons::kRetryCancel,
                             platform::BoxIcon::kNone) == platform::BoxAnswer::kRetry) {
          Reset();
          Start();
          *retry = true;
          return status_;
        }
        SetStatus(kCardNumberDiffers);
        return kCardNumberDiffers;
      }
      if (name == "last_balance" && ReadBalance(on_card) != BalanceReading::kZeroOrMore) {
        SetStatus(kBalanceRefused);
        return kBalanceRefused;
      }
      if (name == "issuer_code" || name == "indi_id") {
        continue;
      }
      const int32_t put = Put(name, wanted);
      if (put != 0) {
        if (put > 0) {
          SetStatus(kPutRefused);
        }
        return status_;
      }
    }
    Execute();
    return 1;
  } catch (const platform::DomError&) {
    SetStatus(kDomFailed);
    return kDomFailed;
  }
}

}  // namespace qx::card
