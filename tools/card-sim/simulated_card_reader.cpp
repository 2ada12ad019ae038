#include "card-sim/simulated_card_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qxic {

std::string SimulatedCardReader::EscapeArgument(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
      case ',':
      case ')':
        out.push_back('\\');
        out.push_back(c);
        break;
      case '\n':
        out.append("\\n");
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

int SimulatedCardReader::Fail(std::string text) {
  last_error_ = std::move(text);
  return -1;
}

std::optional<int> SimulatedCardReader::Injected(std::string_view entry, std::string_view item) {
  std::optional<int> forced = faults_.Check(entry, item);
  if (forced && *forced < 0) {
    std::string text = std::string(entry) + " failed (injected fault)";
    if (!item.empty()) {
      text += " for item " + std::string(item);
    }
    last_error_ = std::move(text);
  }
  return forced;
}

int SimulatedCardReader::Record(std::string line, int result) {
  line += "=" + std::to_string(result);
  Journal(line);
  return result;
}

int SimulatedCardReader::Reset() {
  int result = 0;
  if (std::optional<int> forced = Injected("ICReset", "")) {
    result = *forced;
  } else {
    started_ = false;
    staged_.clear();
  }
  return Record("ICReset()", result);
}

int SimulatedCardReader::Start(int port) {
  int result = 0;
  if (std::optional<int> forced = Injected("ICStart", "")) {
    result = *forced;
  } else if (port != reader_port_) {
    result = Fail("no card reader on port " + std::to_string(port));
  } else if (std::optional<CardItems> card = ReadCard()) {
    card_ = std::move(*card);
    staged_.clear();
    started_ = true;
  } else {
    started_ = false;
    result = Fail("no card in the reader");
  }
  return Record("ICStart(" + std::to_string(port) + ")", result);
}

int SimulatedCardReader::Get(const char* name, char* value) {
  const std::string item = name != nullptr ? name : "";
  int result = 0;
  if (std::optional<int> forced = Injected("ICGet", item)) {
    result = *forced;
  } else if (!started_) {
    result = Fail("card reader not started");
  } else if (auto it = card_.find(item); it == card_.end()) {
    result = Fail("no item " + item + " on the card");
  } else {
    faults_.WriteValue(it->second, value);
  }
  return Record("ICGet(" + EscapeArgument(item) + ")", result);
}

int SimulatedCardReader::Put(const char* name, const char* value) {
  const std::string item = name != nullptr ? name : "";
  const std::string text = value != nullptr ? value : "";
  int result = 0;
  if (std::optional<int> forced = Injected("ICPut", item)) {
    result = *forced;
  } else if (!started_) {
    result = Fail("card reader not started");
  } else if (card_.find(item) == card_.end()) {
    result = Fail("no item " + item + " on the card");
  } else if (text.size() > kMaxValueLength) {
    result = Fail("value for " + item + " longer than 99 bytes");
  } else {
    staged_[item] = text;
  }
  return Record("ICPut(" + EscapeArgument(item) + "," + EscapeArgument(text) + ")", result);
}

int SimulatedCardReader::Execute(int port) {
  int result = 0;
  if (std::optional<int> forced = Injected("ICExecute", "")) {
    result = *forced;
  } else if (port != reader_port_) {
    result = Fail("no card reader on port " + std::to_string(port));
  } else if (!started_) {
    result = Fail("card reader not started");
  } else if (!staged_.empty()) {
    // Onto the card in the reader now, so that values of a card put in meanwhile are not lost.
    std::optional<CardItems> card = ReadCard();
    std::string error;
    if (!card) {
      result = Fail("no card in the reader");
    } else {
      for (const auto& [item, text] : staged_) {
        (*card)[item] = text;
      }
      if (!WriteCard(*card, &error)) {
        result = Fail("card not written: " + error);
      } else {
        card_ = std::move(*card);
        staged_.clear();
      }
    }
  }
  return Record("ICExecute(" + std::to_string(port) + ")", result);
}

int SimulatedCardReader::GeterrMsg(char* text) {
  faults_.WriteErrorText(last_error_, text);
  return Record("ICGeterrMsg()", 0);
}

}  // namespace qxic
