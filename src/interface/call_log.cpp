// The diagnostic log's records, and the prompts and HTTP client that feed it.
#include "interface/call_log.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "base/password_mask.h"
#include "qx_interface.h"

namespace qx {

using platform::BoxAnswer;
using platform::BoxButtons;
using platform::BoxIcon;
using platform::CredentialAnswer;
using platform::Credentials;
using platform::FolderEntry;
using platform::HttpHeader;
using platform::LogStamp;
using platform::Prompts;

// The version is the public header's; the build names the compiler and the platform.
const char kLibraryVersion[] = QX_INTERFACE_VERSION_STRING;
const char kLibraryBuild[] = "g++ " __VERSION__
#if defined(_WIN64)
                             " win64"
#elif defined(_WIN32)
                             " win32"
#else
                             " posix"
#endif
    ;

namespace {

constexpr char kPrefix[] = "qx_interface-";
constexpr char kSuffix[] = ".log";

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

}  // namespace

void CallLog::Configure(LogSettings settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool same_place = settings.folder == settings_.folder;
  if (settings.trace_file != settings_.trace_file) {
    trace_.reset();
    trace_failed_ = false;
  }
  settings_ = std::move(settings);
  if (!same_place) {
    file_.reset();
    day_.clear();
    next_open_ = {};
  }
  wire_.store(settings_.wire, std::memory_order_relaxed);
  on_.store(!settings_.folder.empty() || !settings_.trace_file.empty(), std::memory_order_relaxed);
}

void CallLog::Line(std::string_view what) {
  if (on()) Write(what, nullptr);
}

void CallLog::Text(std::string_view what, std::string_view bytes) {
  if (!on()) return;
  const std::string masked = MaskPasswords(bytes);
  Write(std::string(what) + " (" + std::to_string(bytes.size()) + " bytes)", &masked);
}

void CallLog::Excerpt(std::string_view what, std::string_view bytes) {
  if (!on()) return;
  if (wire() || bytes.size() <= 2 * kExcerpt) {
    Text(what, bytes);
    return;
  }
  std::string cut = MaskPasswords(bytes.substr(0, kExcerpt));
  cut += "\r\n[... " + std::to_string(bytes.size() - 2 * kExcerpt) + " bytes not logged ...]\r\n";
  cut += MaskPasswords(bytes.substr(bytes.size() - kExcerpt));
  Write(std::string(what) + " (" + std::to_string(bytes.size()) + " bytes, the first and last " +
            std::to_string(kExcerpt) + ")",
        &cut);
}

bool CallLog::OpenFor(const LogStamp& stamp) {
  const std::string day =
      std::to_string(stamp.year) + TwoDigits(stamp.month) + TwoDigits(stamp.day);
  if (file_ && day == day_) return true;
  // A folder that cannot be written is tried again at most once a second.
  const auto now = std::chrono::steady_clock::now();
  if (!file_ && now < next_open_ && day == day_) return false;
  file_.reset();
  day_ = day;
  next_open_ = now + std::chrono::seconds(1);
  const std::string path = settings_.folder + settings_.separator + kPrefix + day + kSuffix;
  const Status opened = platform::OpenAppendFile(settings_.folder, path, &file_);
  if (!opened.ok()) {
    if (lost_.empty()) lost_ = opened.words();
    return false;
  }
  Trim();
  return true;
}

void CallLog::Trim() {
  since_trim_ = 0;
  std::vector<FolderEntry> files = platform::ListFiles(settings_.folder, kPrefix, kSuffix);
  std::sort(files.begin(), files.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  uint64_t total = 0;
  for (const FolderEntry& entry : files) total += entry.size;
  const std::string today = kPrefix + day_ + kSuffix;
  for (const FolderEntry& entry : files) {
    if (total <= settings_.max_bytes || entry.name >= today) break;
    if (platform::RemoveFile(settings_.folder + settings_.separator + entry.name))
      total -= entry.size;
  }
}

void CallLog::Write(std::string_view what, const std::string* bytes) {
  try {
    const LogStamp stamp = platform::NowStamp();
    std::lock_guard<std::mutex> lock(mutex_);
    const bool daily = !settings_.folder.empty() && OpenFor(stamp);
    if (!settings_.trace_file.empty() && !trace_ && !trace_failed_) {
      const std::size_t cut = settings_.trace_file.find_last_of("/\\");
      trace_failed_ =
          !platform::OpenAppendFile(
               cut == std::string::npos ? std::string(".") : settings_.trace_file.substr(0, cut),
               settings_.trace_file, &trace_)
               .ok();
    }
    if (!daily && !trace_) return;
    char head[96];
    std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d [pid %lu tid %lu] ",
                  stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second,
                  stamp.millisecond, stamp.process, stamp.thread);
    std::string record;
    if (!lost_.empty() && !lost_told_) {
      record += head;
      record += "log: records were lost before this one: " + lost_ + "\r\n";
    }
    std::string ignored;
    for (const std::string& item : settings_.ignored) ignored += item + "; ";
    if (ignored != said_ignored_) {
      if (!ignored.empty()) {
        record += head;
        record += "log: settings ignored: " + ignored + "\r\n";
      }
    }
    record += head;
    record += what;
    if (bytes != nullptr) {
      record += ":\r\n";
      record += *bytes;
    }
    record += "\r\n";
    if (trace_ && !trace_->Write(record).ok()) trace_.reset();  // qxcall's trace: best effort
    if (!daily) return;
    const Status written = file_->Write(record);
    if (!written.ok()) {
      if (lost_.empty()) lost_ = written.words();
      file_.reset();  // opened afresh for the next record
      return;
    }
    if (!lost_.empty()) lost_told_ = true;
    said_ignored_ = ignored;
    since_trim_ += record.size();
    if (since_trim_ > settings_.max_bytes / 8) Trim();
  } catch (...) {
    // Out of memory for a record: the call goes on without it.
  }
}

// ---- what the clerk is shown ----------------------------------------------------------------

namespace {

const char* ButtonName(BoxAnswer answer) {
  return answer == BoxAnswer::kOk ? "OK" : answer == BoxAnswer::kRetry ? "Retry" : "Cancel";
}

}  // namespace

BoxAnswer LoggingPrompts::ShowBox(std::string_view text, std::string_view caption,
                                  BoxButtons buttons, BoxIcon icon) {
  if (!log_.on()) return inner_.ShowBox(text, caption, buttons, icon);
  const auto start = std::chrono::steady_clock::now();
  log_.Line("box shown: caption \"" + std::string(caption) + "\", text \"" + std::string(text) +
            "\"" + (buttons == BoxButtons::kOk ? ", OK" : ", Retry/Cancel"));
  const BoxAnswer answer = inner_.ShowBox(text, caption, buttons, icon);
  log_.Line(std::string("box answered: ") + ButtonName(answer) + " after " + ElapsedMs(start));
  return answer;
}

std::string LoggingPrompts::AskPassword(std::string_view label, std::size_t max_length) {
  if (!log_.on()) return inner_.AskPassword(label, max_length);
  const auto start = std::chrono::steady_clock::now();
  log_.Line("password entry shown: \"" + std::string(label) + "\"");
  std::string typed = inner_.AskPassword(label, max_length);
  log_.Line(typed.empty() ? "password entry: escaped or nothing typed after " + ElapsedMs(start)
                          : "password entry: " + std::to_string(typed.size()) +
                                " bytes typed (not logged) after " + ElapsedMs(start));
  return typed;
}

std::optional<Credentials> LoggingPrompts::AskCredentials(std::string_view target) {
  if (!log_.on()) return inner_.AskCredentials(target);
  const auto start = std::chrono::steady_clock::now();
  log_.Line("credential entry shown: " + std::string(target));
  std::optional<Credentials> given = inner_.AskCredentials(target);
  log_.Line(given ? "credential entry: user \"" + given->user + "\", password *** after " +
                        ElapsedMs(start)
                  : "credential entry: cancelled after " + ElapsedMs(start));
  return given;
}

// ---- the exchange -----------------------------------------------------------------------------

namespace {

// The head as the sink is handed it, with the credential question recorded.
class LoggingResponse final : public platform::HttpResponse {
 public:
  LoggingResponse(platform::HttpResponse& inner, CallLog& log) : inner_(inner), log_(log) {}
  uint32_t status() const override { return inner_.status(); }
  std::optional<std::string> Header(std::string_view name) override { return inner_.Header(name); }
  std::string Head() override { return inner_.Head(); }
  CredentialAnswer AskCredentials(Prompts& prompts) override {
    const CredentialAnswer answer = inner_.AskCredentials(prompts);
    log_.Line(std::string("credentials for status ") + std::to_string(inner_.status()) + ": " +
              (answer == CredentialAnswer::kRetry       ? "given by the clerk, sent again"
               : answer == CredentialAnswer::kRetryKept ? "kept from an earlier call, sent again"
                                                        : "none given"));
    return answer;
  }

 private:
  platform::HttpResponse& inner_;
  CallLog& log_;
};

// The exchange's sink, with each head and the body's length and time recorded.
class LoggingSink final : public platform::HttpSink {
 public:
  LoggingSink(platform::HttpSink& inner, CallLog& log, std::chrono::steady_clock::time_point start)
      : inner_(inner), log_(log), start_(start) {}

  platform::HeadAction OnHead(platform::HttpResponse& response) override {
    std::string head = response.Head();
    if (head.empty()) head = "status " + std::to_string(response.status());
    while (!head.empty() && (head.back() == '\n' || head.back() == '\r')) head.pop_back();
    log_.Text("answer after " + ElapsedMs(start_), head);
    LoggingResponse logged(response, log_);
    action_ = inner_.OnHead(logged);
    body_start_ = std::chrono::steady_clock::now();
    body_bytes_ = 0;
    return action_;
  }
  Status OnBody(std::string_view piece) override {
    body_bytes_ += piece.size();
    return inner_.OnBody(piece);
  }

  // After the post: what became of the last answer's body.
  void Ended(const Status& posted) {
    if (!posted.ok()) {
      log_.Line((action_ == platform::HeadAction::kBody
                     ? "body failed after " + std::to_string(body_bytes_) + " bytes and " +
                           ElapsedMs(body_start_)
                     : "POST failed after " + ElapsedMs(start_)) +
                ": " + posted.words());
    } else if (action_ == platform::HeadAction::kBody) {
      log_.Line("body: " + std::to_string(body_bytes_) + " bytes in " + ElapsedMs(body_start_));
    }
  }

 private:
  platform::HttpSink& inner_;
  CallLog& log_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point body_start_;
  platform::HeadAction action_ = platform::HeadAction::kDone;
  uint64_t body_bytes_ = 0;
};

}  // namespace

Status LoggingHttpClient::Check(const std::string& server, uint16_t port) {
  Status checked = inner_.Check(server, port);
  if (log_.on() && !checked.ok()) {
    log_.Line("connection to " + server + ":" + std::to_string(port) +
              " refused: " + checked.words());
  }
  return checked;
}

Status LoggingHttpClient::Post(const platform::HttpPost& post, platform::HttpSink& sink) {
  if (!log_.on()) return inner_.Post(post, sink);
  const auto start = std::chrono::steady_clock::now();
  std::string line = "POST " + std::string(platform::SchemeOf(post.tls)) + "://" +
                     std::string(post.server) + ":" +
                     std::to_string(platform::PortOrDefault(post.port, post.tls)) +
                     std::string(post.path) + ", " + std::to_string(post.body.size()) + " bytes";
  for (const HttpHeader& header : post.headers) {
    line += ", " + std::string(header.name) + ": " + std::string(header.value);
  }
  if (log_.wire()) {
    log_.Text(line, post.body);
  } else {
    log_.Line(line);
  }
  LoggingSink logged(sink, log_, start);
  const Status posted = inner_.Post(post, logged);
  logged.Ended(posted);
  return posted;
}

}  // namespace qx
