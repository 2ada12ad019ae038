// CallLog: the diagnostic log a site switches on in qx_interface.ini. One file a day in the
// log's folder (qx_interface-YYYYMMDD.log); every record is whole, stamped with local time,
// process and thread, and written to the system as it is made, so that a call that hangs or a
// host that is killed leaves on disk what was under way. Passwords are masked before anything
// is written. A record that cannot be written changes nothing of the call; the first such
// failure is told in the next record that can be written. Past the size limit the oldest
// day's file goes.
//
// LoggingPrompts and LoggingHttpClient sit in front of the real prompts and HTTP client and
// record each box, dialog and exchange when the log is on; off, they only pass calls through.
#ifndef QX_INTERFACE_CALL_LOG_H_
#define QX_INTERFACE_CALL_LOG_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/http_client.h"
#include "platform/log_files.h"
#include "platform/prompts.h"

namespace qx {

// The library's version and build, as the log's first record of a configuration gives them.
extern const char kLibraryVersion[];
extern const char kLibraryBuild[];

struct LogSettings {
  std::string folder;                       // empty: no log
  char separator = '/';                     // between the folder and a file's name
  uint64_t max_bytes = uint64_t{50} << 20;  // all days' files together
  bool wire = false;                        // every body whole, not only excerpts of the reply
  std::chrono::seconds call_limit{0};       // a whole business call; 0: none
  std::vector<std::string> ignored;         // keys or values not taken, said once in the log
  // A file that gets every record too (qxcall --trace hands its path in QX_INTERFACE_TRACE).
  std::string trace_file;
};

class CallLog final : public platform::Notes {
 public:
  static constexpr std::size_t kExcerpt = 1024;  // the first and last bytes of a long text

  CallLog() = default;
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;
  ~CallLog() override = default;

  void Note(std::string_view what) override { Line(what); }

  // Takes settings from now on (a folder of "" closes the log).
  void Configure(LogSettings settings);
  bool on() const { return on_.load(std::memory_order_relaxed); }
  bool wire() const { return wire_.load(std::memory_order_relaxed); }

  // One record of one line.
  void Line(std::string_view what);
  // One record: what, the length, then the bytes whole (passwords masked).
  void Text(std::string_view what, std::string_view bytes);
  // The same with only the first and last kExcerpt bytes of a longer text, unless at wire level.
  void Excerpt(std::string_view what, std::string_view bytes);

 private:
  void Write(std::string_view what, const std::string* bytes);
  bool OpenFor(const platform::LogStamp& stamp);
  void Trim();

  std::atomic<bool> on_{false};
  std::atomic<bool> wire_{false};
  std::mutex mutex_;
  LogSettings settings_;
  std::unique_ptr<platform::AppendFile> file_;
  std::unique_ptr<platform::AppendFile> trace_;
  bool trace_failed_ = false;
  std::string day_;           // YYYYMMDD of file_
  std::string said_ignored_;  // what of settings_.ignored was last said
  std::string lost_;          // the first failure not yet told
  bool lost_told_ = false;    // once per process
  uint64_t since_trim_ = 0;
  std::chrono::steady_clock::time_point next_open_;
};

class LoggingPrompts final : public platform::Prompts {
 public:
  LoggingPrompts(platform::Prompts& inner, CallLog& log) : inner_(inner), log_(log) {}
  platform::BoxAnswer ShowBox(std::string_view text, std::string_view caption,
                              platform::BoxButtons buttons, platform::BoxIcon icon) override;
  std::string AskPassword(std::string_view label, std::size_t max_length) override;
  std::optional<platform::Credentials> AskCredentials(std::string_view target) override;

 private:
  platform::Prompts& inner_;
  CallLog& log_;
};

class LoggingHttpClient final : public platform::HttpClient {
 public:
  LoggingHttpClient(platform::HttpClient& inner, CallLog& log) : inner_(inner), log_(log) {}
  Status Check(const std::string& server, uint16_t port) override;
  Status Post(const platform::HttpPost& post, platform::HttpSink& sink) override;
  void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) override {
    inner_.SetTimeouts(connect, stall);
  }
  void SetDeadline(std::chrono::steady_clock::time_point deadline,
                   std::chrono::seconds limit) override {
    inner_.SetDeadline(deadline, limit);
  }

 private:
  platform::HttpClient& inner_;
  CallLog& log_;
};

// Milliseconds since start, as the log writes a step's wall time.
inline std::string ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count()) +
         " ms";
}

}  // namespace qx

#endif  // QX_INTERFACE_CALL_LOG_H_
