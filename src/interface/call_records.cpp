// The diagnostic log a site switches on: the optional [log] section of qx_interface.ini, and the
// records of init_handle and of each business call's steps. Without the section nothing here
// reads a setting or writes a file.
//
//   [log]
//   folder=log          the log's folder, relative to the configuration file's (or absolute)
//   max_mb=50           the most all days' files may hold together, in MB (1 to 100000)
//   level=calls         calls: each step, the reply's first and last KB; wire: every body whole
//   call_timeout=0      seconds one exchange of a call may take (1 to 86400); 0 or absent: none
//   tls=off             on: every exchange goes over HTTPS to the same server and port, the
//                       center's certificate verified; off or absent: plain HTTP. Any other
//                       value fails init_handle.
//   ca_file=ca.pem      with tls=on, the PEM file of the CA certificates to trust instead of the
//                       system's, relative to the configuration file's folder (or absolute);
//                       not used on Windows, where WinInet trusts the machine's store only
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/system_texts.h"
#include "config/ini_file.h"
#include "interface/insurance_interface.h"
#include "platform/file_system.h"
#include "platform/http_client.h"

namespace qx {
namespace {

constexpr char kLogSection[] = "log";

// A whole decimal number from low to high, or -1.
int64_t Number(const std::string& text, int64_t low, int64_t high) {
  if (text.empty() || text.size() > 9) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value >= low && value <= high ? value : -1;
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() >= 2 && path[1] == ':');
}

// path as it stands, or relative to the folder of the file at config_path.
std::string BesideConfig(const std::string& path, const std::string& config_path) {
  if (IsAbsolute(path)) return path;
  const std::size_t cut = config_path.find_last_of("/\\");
  return cut == std::string::npos ? path : config_path.substr(0, cut + 1) + path;
}

}  // namespace

std::string InsuranceInterface::ConfigureTls(config::IniFile* ini) {
  std::vector<std::pair<std::string, std::string>> entries;
  tls_setting_.clear();
  ca_file_.clear();
  if (ini != nullptr && ini->Entries(kLogSection, &entries)) {
    for (const auto& [key, value] : entries) {
      if (key == "tls") tls_setting_ = value;
      if (key == "ca_file") ca_file_ = value.empty() ? value : BesideConfig(value, config_path_);
    }
  }
  const bool on = tls_setting_ == "on";
  connection_.SetTls(on, ca_file_);
  if (!on && !tls_setting_.empty() && tls_setting_ != "off") {
    return texts::InitBadTls(tls_setting_);
  }
  if (on && !ca_file_.empty() && platform::CaFileUsed() && !env_.files->Exists(ca_file_)) {
    return texts::InitNoCaFile(ca_file_);
  }
  return {};
}

void InsuranceInterface::ConfigureLog(config::IniFile* ini, int32_t result,
                                      const std::string& message) {
  std::vector<std::pair<std::string, std::string>> entries;
  LogSettings settings;
  if (ini != nullptr && ini->Entries(kLogSection, &entries)) {
    std::string folder;
    for (const auto& [key, value] : entries) {
      int64_t number = 0;
      if (key == "folder") {
        folder = value;
      } else if (key == "max_mb" && (number = Number(value, 1, 100000)) > 0) {
        settings.max_bytes = static_cast<uint64_t>(number) << 20;
      } else if (key == "level" && (value == "calls" || value == "wire")) {
        settings.wire = value == "wire";
      } else if (key == "call_timeout" && (number = Number(value, 0, 86400)) >= 0) {
        settings.call_limit = std::chrono::seconds(number);
      } else if (key == "tls" || key == "ca_file") {
        // ConfigureTls's, recorded below.
      } else {
        settings.ignored.push_back(key + "=" + value);
      }
    }
    if (!folder.empty()) {
      const char separator = env_.files->PathSeparator();
      folder = BesideConfig(folder, config_path_);
      while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
      }
      settings.folder = std::move(folder);
      settings.separator = separator;
    }
  }
  // qxcall --trace FILE sets QX_INTERFACE_TRACE=FILE before it loads the library: the same
  // records go there, at the section's level. A host that sets nothing gets nothing.
  if (const char* trace = std::getenv("QX_INTERFACE_TRACE"); trace != nullptr && *trace != '\0') {
    settings.trace_file = trace;
  }
  call_limit_ = settings.call_limit;
  const bool wire = settings.wire;
  const uint64_t max_bytes = settings.max_bytes;
  log_.Configure(std::move(settings));
  if (!log_.on()) return;
  std::string record = "init_handle: library " + std::string(kLibraryVersion) + " (" +
                       kLibraryBuild + "), configuration " + config_path_;
  for (const char* key : {"server", "port", "servlet", "com"}) {
    if (ini == nullptr) {
      record += " (unreadable)";
      break;
    }
    record += std::string(", ") + key + "=" + ini->GetValue("center", key, false);
  }
  record += ", log level " + std::string(wire ? "wire" : "calls") + ", max_mb " +
            std::to_string(max_bytes >> 20) + ", call_timeout " +
            std::to_string(call_limit_.count()) + " s";
  // Only a section that names tls says anything of it.
  if (!tls_setting_.empty()) record += ", tls " + tls_setting_;
  if (!ca_file_.empty()) {
    record += ", ca_file " + ca_file_;
    if (!connection_.tls()) {
      record += " (not used: tls is off)";
    } else if (!platform::CaFileUsed()) {
      record +=
          " (not used on Windows: WinInet trusts the CA certificates of the machine's "
          "Trusted Root Certification Authorities store)";
    }
  }
  const bool tls = connection_.tls();
  record += "; URL " + std::string(platform::SchemeOf(tls)) + "://" + connection_.server() + ":" +
            std::to_string(platform::PortOrDefault(connection_.port(), tls)) + servlet_ +
            "; result " + std::to_string(result) + ", message \"" + message + "\"";
  log_.Line(record);
}

int32_t InsuranceInterface::BusinessHandle(const char* request, char* reply) {
  if (!log_.on()) {
    return RunBusiness(request, reply);
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string number = std::to_string(++call_number_);
  if (request == nullptr) {
    log_.Line("business_handle #" + number + " begins: no request");
  } else {
    log_.Text("business_handle #" + number + " begins: the request as the host gave it", request);
  }
  const int32_t result = RunBusiness(request, reply);
  log_.Excerpt("business_handle #" + number + " output", output_);
  log_.Line("business_handle #" + number + " ends after " + ElapsedMs(start) + ": result " +
            std::to_string(result) + ", status " + std::to_string(status_) + ", message \"" +
            message_ + "\"");
  return result;
}

void InsuranceInterface::BeginExchange(const std::string& request) {
  // Each exchange of the call (chained ones too) has the whole limit; 0 lifts it.
  logged_http_.SetDeadline(std::chrono::steady_clock::now() + call_limit_, call_limit_);
  if (!log_.on()) return;
  exchange_start_ = std::chrono::steady_clock::now();
  log_.Text("exchange begins, FunctionID " + function_id_ + ": the request as completed and sent",
            request);
}

void InsuranceInterface::EndExchange(const Status& sent, const std::string& reply) {
  if (!log_.on()) return;
  if (!sent.ok()) {
    log_.Line("exchange failed after " + ElapsedMs(exchange_start_) + ": " + sent.words());
  } else {
    log_.Excerpt("exchange ends after " + ElapsedMs(exchange_start_) + ": the reply, " +
                     std::to_string(reply.size()) + " bytes",
                 reply);
  }
}

}  // namespace qx
