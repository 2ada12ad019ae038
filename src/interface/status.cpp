// Status codes with their messages, the result XML, and the buffer rule.
#include <cstring>

#include "base/gbk_text.h"
#include "base/status_codes.h"
#include "base/system_texts.h"
#include "interface/insurance_interface.h"

namespace qx {
namespace {

// The markup characters of a message, so that the result XML stays well-formed whatever the
// card library or the transport put into it.
std::string EscapeMarkup(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

bool OfferToBuffer(const std::string& text, char* buffer) {
  if (buffer == nullptr) {
    return false;
  }
  // The host's buffer is as large as the text it holds, plus its terminating zero. The text fits
  // when no zero comes before its length: look no further than that (a host's buffer may be
  // many megabytes of spaces), and write no more than the length plus one.
  if (std::memchr(buffer, '\0', text.size()) != nullptr) {
    return false;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

void InsuranceInterface::SetStatus(int32_t code, std::string_view detail) {
  std::string text(texts::StatusText(code));
  if (code == status::kTransferFailed) {
    text += detail;
  }
  SetStatusWithMessage(code, text);
}

void InsuranceInterface::SetStatusWithMessage(int32_t code, std::string_view message) {
  status_ = code;
  message_.assign(message);
  message_.resize(CutToWholeGbkCharacters(message_, kMaxMessageLength).size());
}

void InsuranceInterface::BuildResultXml(char* buffer) {
  output_.clear();
  output_ += "<Program><ErrorNo>";
  output_ += std::to_string(status_);
  output_ += "</ErrorNo><ErrorMessage>";
  output_ += EscapeMarkup(message_);
  output_ += "</ErrorMessage><ErrorType>2</ErrorType><Exception></Exception></Program>";
  OfferToBuffer(output_, buffer);
}

}  // namespace qx
