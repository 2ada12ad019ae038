// A simulated card-reader library, built as libqxic-sim.so (qxic-sim.dll on Windows), never
// under the vendor's name: the entry points the interface library calls, over one card kept in a
// small text file, with faults injected on demand and a journal of every call. For tests and for
// trying the interface library without a reader.
//
// Environment (read at every call):
//   QXIC_CARD_FILE    the card: lines "name=value" (GBK bytes; "\n" and "\\" escape a line break
//                     and a backslash in a value; lines starting with '#' are comments). Default:
//                     qxic-card.txt beside this library. No file: no card in the reader.
//   QXIC_PORT         the port the reader is on (default 1).
//   QXIC_FAULTS       fault rules, e.g. "ICStart=fail-times:1;ICGet:card_no=fail" (the grammar is
//                     in card_faults.h).
//   QXIC_FAULTS_FILE  a file holding more fault rules, one a line.
//   QXIC_JOURNAL      a file to which one line per call is appended ("ICGet(card_no)=0").
// The counts of the fault rules start afresh whenever the rules change and when the library is
// loaded again.
//
// Built without some entry points (QXIC_WITHOUT_<entry point>) for the variants that stand for
// a vendor library lacking them.
#ifdef _WIN32
#include "qxic_win32.h"
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "card-sim/simulated_card_reader.h"
#include "card/card_abi.h"

#ifdef _WIN32
#define QXIC_EXPORT extern "C"  // exported by name through qxic.def
#else
#define QXIC_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using qxic::CardItems;

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      ++i;
      out.push_back(text[i] == 'n' ? '\n' : text[i]);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out.append("\\\\");
    } else if (c == '\n') {
      out.append("\\n");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

#ifndef _WIN32
bool WriteAllTo(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}
#endif

class FileCardReader final : public qxic::SimulatedCardReader {
 public:
  // Takes in the environment as it is now; called before every call.
  void Refresh() {
    const std::string port = EnvText("QXIC_PORT");
    set_reader_port(port.empty() ? 1 : std::atoi(port.c_str()));

    std::string rules = EnvText("QXIC_FAULTS");
    const std::string rules_file = EnvText("QXIC_FAULTS_FILE");
    if (!rules_file.empty()) {
      rules += "\n" + ReadFile(rules_file).value_or(std::string());
    }
    if (rules != rules_) {
      rules_ = rules;
      std::string error;
      if (!faults().Parse(rules_, &error)) {
        Journal("faults: " + error);
      }
    }
  }

 protected:
  std::optional<CardItems> ReadCard() override {
    std::optional<std::string> content = ReadFile(CardPath());
    if (!content) {
      return std::nullopt;
    }
    CardItems items;
    std::istringstream lines(*content);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::size_t equals = line.find('=');
      if (line.empty() || line.front() == '#' || equals == std::string::npos) continue;
      items[line.substr(0, equals)] = Unescape(std::string_view(line).substr(equals + 1));
    }
    return items;
  }

  // A new file beside the card, flushed to the disk, then renamed over it: a crash leaves either
  // the old card or the new one, never a mixture.
  bool WriteCard(const CardItems& items, std::string* error) override {
    const std::string path = CardPath();
    std::string bytes;
    for (const auto& [name, value] : items) {
      bytes += name + "=" + Escape(value) + "\n";
    }
#ifdef _WIN32
    return qxic::win32::ReplaceWhole(path, bytes, error);
#else
    const std::string temp = path + ".tmp." + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      *error = "cannot create " + temp + ": " + std::strerror(errno);
      return false;
    }
    const bool written = WriteAllTo(fd, bytes) && fsync(fd) == 0;
    const int saved = errno;
    if (close(fd) != 0 || !written) {
      unlink(temp.c_str());
      *error = "cannot write " + temp + ": " + std::strerror(written ? errno : saved);
      return false;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
      *error = "cannot rename " + temp + ": " + std::strerror(errno);
      unlink(temp.c_str());
      return false;
    }
    return true;
#endif
  }

  void Journal(const std::string& line) override {
    const std::string path = EnvText("QXIC_JOURNAL");
    if (path.empty()) {
      return;
    }
#ifdef _WIN32
    qxic::win32::AppendToFile(path, line + "\n");
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      WriteAllTo(fd, line + "\n");
      close(fd);
    }
#endif
  }

 public:
  void Note(const std::string& line) { Journal(line); }

 private:
  static std::string CardPath() {
    std::string path = EnvText("QXIC_CARD_FILE");
    if (!path.empty()) {
      return path;
    }
#ifdef _WIN32
    return qxic::win32::LibraryFolder() + "qxic-card.txt";
#else
    Dl_info info{};
    static const int anchor = 0;
    if (dladdr(&anchor, &info) != 0 && info.dli_fname != nullptr) {
      path = info.dli_fname;
      const std::size_t slash = path.rfind('/');
      return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
             "qxic-card.txt";
    }
    return "qxic-card.txt";
#endif
  }

  std::string rules_;
};

FileCardReader& Reader() {
  static FileCardReader reader;
  reader.Refresh();
  return reader;
}

}  // namespace

// No exception leaves an entry point: a failure inside the simulator is a failed call.
#define QXIC_GUARDED(expression) \
  try {                          \
    return expression;           \
  } catch (...) {                \
    return -1;                   \
  }

#ifndef QXIC_WITHOUT_ICReset
QXIC_EXPORT int QX_CARD_CALL ICReset(void){QXIC_GUARDED(Reader().Reset())}
#endif
#ifndef QXIC_WITHOUT_ICStart
QXIC_EXPORT int QX_CARD_CALL ICStart(int port){QXIC_GUARDED(Reader().Start(port))}
#endif
#ifndef QXIC_WITHOUT_ICGet
QXIC_EXPORT int QX_CARD_CALL
    ICGet(const char* name, char* value){QXIC_GUARDED(Reader().Get(name, value))}
#endif
#ifndef QXIC_WITHOUT_ICPut
QXIC_EXPORT int QX_CARD_CALL
    ICPut(const char* name, const char* value){QXIC_GUARDED(Reader().Put(name, value))}
#endif
#ifndef QXIC_WITHOUT_ICExecute
QXIC_EXPORT int QX_CARD_CALL ICExecute(int port){QXIC_GUARDED(Reader().Execute(port))}
#endif
#ifndef QXIC_WITHOUT_ICGeterrMsg
QXIC_EXPORT int QX_CARD_CALL ICGeterrMsg(char* text) {
  QXIC_GUARDED(Reader().GeterrMsg(text))
}
#endif

// Entry points of the vendor's library that the interface library never calls: transaction
// details (none are kept: an empty text) and blocking or unblocking the card's application
// (recorded only).
QXIC_EXPORT int QX_CARD_CALL ICGetjymx(char* details) {
  try {
    if (details != nullptr) details[0] = '\0';
    Reader().Note("ICGetjymx()=0");
    return 0;
  } catch (...) {
    return -1;
  }
}

QXIC_EXPORT int QX_CARD_CALL ICAPPBlock(int port) {
  try {
    Reader().Note("ICAPPBlock(" + std::to_string(port) + ")=0");
    return 0;
  } catch (...) {
    return -1;
  }
}

QXIC_EXPORT int QX_CARD_CALL ICAPPUnblock(int port) {
  try {
    Reader().Note("ICAPPUnblock(" + std::to_string(port) + ")=0");
    return 0;
  } catch (...) {
    return -1;
  }
}
