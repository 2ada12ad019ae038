// Helpers of the message tests: data files, a whitespace-blind view of serialised XML, and a
// DOM that fails on its Nth operation.
#ifndef QX_TESTS_MESSAGE_MESSAGE_TEST_UTIL_H_
#define QX_TESTS_MESSAGE_MESSAGE_TEST_UTIL_H_

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/xml_document.h"

namespace qx::test {

inline std::string ReadMessageData(const std::string& name) {
  std::ifstream in(std::string(QX_TEST_DATA_DIR) + "/message/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Serialised XML with what the message format leaves open taken out: whitespace-only runs
// between a '>' and the next '<' (the DOM's re-indentation), and "<x></x>" written as "<x/>".
inline std::string Canonical(std::string_view xml) {
  std::string out;
  size_t i = 0;
  while (i < xml.size()) {
    char c = xml[i];
    out.push_back(c);
    ++i;
    if (c != '>') continue;
    size_t j = i;
    while (j < xml.size() && (xml[j] == ' ' || xml[j] == '\t' || xml[j] == '\r' || xml[j] == '\n'))
      ++j;
    if (j < xml.size() && xml[j] == '<') i = j;
  }
  static const std::regex kEmptyPair(R"(<([^\s/>!?]+)((?:\s[^<>]*)?)></\1>)");
  return std::regex_replace(out, kEmptyPair, "<$1$2/>");
}

// The real DOM, failing with DomError on the operation numbered fail_at (counted from 1 over
// every document the factory makes, NewDocument included); 0 never fails.
class FaultyXmlFactory final : public platform::XmlFactory {
 public:
  explicit FaultyXmlFactory(int fail_at) : fail_at_(fail_at) {}
  int operations() const { return count_; }

  std::unique_ptr<platform::XmlDocument> NewDocument() override {
    Tick();
    return std::make_unique<Doc>(this, platform::DefaultEnv().xml->NewDocument());
  }

 private:
  void Tick() {
    if (++count_ == fail_at_) throw platform::DomError("injected failure");
  }

  class Doc final : public platform::XmlDocument {
   public:
    Doc(FaultyXmlFactory* f, std::unique_ptr<platform::XmlDocument> real)
        : f_(f), real_(std::move(real)) {}
    bool LoadXml(std::string_view t) override { return f_->Tick(), real_->LoadXml(t); }
    platform::XmlNode DocumentElement() override { return f_->Tick(), real_->DocumentElement(); }
    std::vector<platform::XmlNode> ElementsByTagName(std::string_view n) override {
      return f_->Tick(), real_->ElementsByTagName(n);
    }
    std::vector<platform::XmlNode> ChildNodes(platform::XmlNode n) override {
      return f_->Tick(), real_->ChildNodes(n);
    }
    std::string NodeName(platform::XmlNode n) override { return f_->Tick(), real_->NodeName(n); }
    std::optional<std::string> NodeValue(platform::XmlNode n) override {
      return f_->Tick(), real_->NodeValue(n);
    }
    std::string Text(platform::XmlNode n) override { return f_->Tick(), real_->Text(n); }
    std::string Xml(platform::XmlNode n) override { return f_->Tick(), real_->Xml(n); }
    platform::XmlNode CreateElement(std::string_view n) override {
      return f_->Tick(), real_->CreateElement(n);
    }
    void AppendChild(platform::XmlNode p, platform::XmlNode c) override {
      f_->Tick();
      real_->AppendChild(p, c);
    }
    void RemoveChild(platform::XmlNode p, platform::XmlNode c) override {
      f_->Tick();
      real_->RemoveChild(p, c);
    }
    void SetText(platform::XmlNode n, std::string_view t) override {
      f_->Tick();
      real_->SetText(n, t);
    }
    void SetNodeValue(platform::XmlNode n, std::string_view v) override {
      f_->Tick();
      real_->SetNodeValue(n, v);
    }

   private:
    FaultyXmlFactory* f_;
    std::unique_ptr<platform::XmlDocument> real_;
  };

  int fail_at_;
  int count_ = 0;
};

}  // namespace qx::test

#endif  // QX_TESTS_MESSAGE_MESSAGE_TEST_UTIL_H_
