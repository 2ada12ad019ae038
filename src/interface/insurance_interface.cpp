// Construction, init_handle, config_handle and result_handle.
#include "interface/insurance_interface.h"

#include <climits>
#include <cstring>
#include <utility>

#include "base/status_codes.h"
#include "base/system_texts.h"
#include "card/card_abi.h"
#include "config/ini_file.h"
#include "platform/file_system.h"
#include "platform/prompts.h"

namespace qx {
namespace {

constexpr char kConfigFileName[] = "qx_interface.ini";
constexpr char kSection[] = "center";

// Leading decimal digits as atol reads them (white space, an optional sign), saturating at the
// limits of a 32-bit long instead of overflowing.
int32_t LeadingNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) {
      return negative ? INT32_MIN : INT32_MAX;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

InsuranceInterface::InsuranceInterface(platform::Env& env)
    : env_(env),
      logged_prompts_(*env.prompts, log_),
      logged_http_(*env.http, log_),
      card_library_name_(card::kCardLibraryName),
      connection_(logged_http_, logged_prompts_) {
  SetStatus(status::kOk);
  // The current directory of the host at the moment the library is loaded, whatever its length.
  const std::string directory = env_.files->CurrentDirectory();
  if (directory.empty()) {
    config_path_ = kConfigFileName;
  } else {
    config_path_ = directory;
    if (config_path_.back() != env_.files->PathSeparator()) {
      config_path_ += env_.files->PathSeparator();
    }
    config_path_ += kConfigFileName;
  }
}

InsuranceInterface::~InsuranceInterface() = default;

void InsuranceInterface::SetCardPort(int32_t port) {
  card_port_ = port;
  SetStatus(status::kOk);
}

int32_t InsuranceInterface::InitHandle(char* message) {
  initialised_ = false;
  std::string local;
  int32_t result = -1;

  config::IniFile ini(*env_.files, *env_.prompts, config_path_);
  const bool loaded = ini.Load().ok();
  if (!loaded) {
    local = texts::InitFileUnreadable(config_path_);
    ConfigureTls(nullptr);
  } else {
    // Each failing key overwrites the message of an earlier one: the last failure wins.
    const std::string server = ini.GetValue(kSection, "server", false);
    if (server.empty()) {
      local = texts::kInitNoServer;
    }
    const std::string port_text = ini.GetValue(kSection, "port", false);
    if (port_text.empty()) {
      local = texts::kInitNoPort;
    }
    const int32_t port = LeadingNumber(port_text);
    if (port < 1) {
      local = texts::InitBadPort(port_text);
    }
    const std::string servlet = ini.GetValue(kSection, "servlet", false);
    if (servlet.empty()) {
      local = texts::kInitNoServlet;
    }
    const std::string com_text = ini.GetValue(kSection, "com", false);
    int32_t com = com_text.empty() ? 1 : LeadingNumber(com_text);
    if (com < 1 || com > 10) {
      com = 1;
    }
    if (std::string tls_problem = ConfigureTls(&ini); !tls_problem.empty()) {
      local = std::move(tls_problem);
    }

    if (local.empty()) {
      connection_.SetServer(server, static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFFu));
      if (!connection_.Connect().ok()) {
        SetStatus(status::kNotInitialised);
      } else {
        SetCardPort(com);
        local = texts::kInitDone;
        initialised_ = true;
        servlet_ = servlet;
        SetStatus(status::kInitialised);
        result = 1;
      }
    }
  }
  ConfigureLog(loaded ? &ini : nullptr, result, local);
  OfferToBuffer(local, message);
  return result;
}

int32_t InsuranceInterface::ConfigHandle(const char* server, const char* port, const char* servlet,
                                         const char* com) {
  if (server == nullptr && port == nullptr && servlet == nullptr && com == nullptr) {
    return 0;
  }
  config::IniFile ini(*env_.files, *env_.prompts, config_path_);
  if (ini.Load().kind() == Status::Kind::kLocal) {
    // The file is there but could not be read (the clerk has been told): rewriting it now
    // would replace its other settings by the few given here.
    return -1;
  }
  const char* const values[] = {server, port, servlet, com};
  const char* const keys[] = {"server", "port", "servlet", "com"};
  for (int i = 0; i < 4; ++i) {
    if (values[i] != nullptr) {
      ini.SetValue(kSection, keys[i], values[i], true);
    }
  }
  return ini.Save(true, false).ok() ? 1 : -1;
}

int32_t InsuranceInterface::ResultHandle(char* buffer) {
  if (buffer != nullptr) {
    std::memcpy(buffer, output_.c_str(), output_.size() + 1);
  }
  return output_.size() > static_cast<std::size_t>(INT32_MAX)
             ? INT32_MAX
             : static_cast<int32_t>(output_.size());
}

}  // namespace qx
