// URL splitting as the POSIX client did it, which agrees with WinInet's InternetCrackUrl on
// everything the scenario table puts to both (docs/transport.md lists where the two differed).
#include "transport/url_parts.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qx::transport {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// The port of the authority: 1 to 65535 in at most five digits; 0 when it is not one.
uint32_t ReadPort(std::string_view text) {
  if (text.size() > 5) {
    return 0;
  }
  uint32_t port = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return 0;
    }
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  return port <= 65535 ? port : 0;
}

}  // namespace

std::optional<UrlParts> UrlParts::Split(std::string_view url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(url[0]))) {
    return std::nullopt;
  }
  for (char c : url.substr(0, colon)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return std::nullopt;
    }
  }
  UrlParts parts;
  parts.scheme_name = Lower(url.substr(0, colon));
  std::string_view rest = url.substr(colon + 3);
  const std::size_t authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  std::string_view tail =
      authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host;
  std::optional<std::string_view> port_text;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    host = authority.substr(1, close - 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') {
        return std::nullopt;
      }
      port_text = after.substr(1);
    }
  } else {
    const std::size_t port_colon = authority.rfind(':');
    host = authority.substr(0, port_colon);
    if (port_colon != std::string_view::npos) {
      port_text = authority.substr(port_colon + 1);
    }
  }
  if (host.empty() || host.find_first_of(" \t\r\n") != std::string_view::npos) {
    return std::nullopt;
  }
  if (port_text && !port_text->empty()) {
    parts.port = static_cast<uint16_t>(ReadPort(*port_text));
    if (parts.port == 0) {
      return std::nullopt;
    }
  } else if (parts.scheme_name == "http") {
    parts.port = 80;
  } else if (parts.scheme_name == "https") {
    parts.port = 443;
  } else if (parts.scheme_name == "ftp") {
    parts.port = 21;
  }
  parts.scheme = parts.scheme_name == "http"    ? Scheme::kHttp
                 : parts.scheme_name == "https" ? Scheme::kHttps
                                                : Scheme::kOther;
  parts.host = std::string(host);
  tail = tail.substr(0, tail.find('#'));
  if (tail.empty() || tail.front() != '/') {
    parts.path = '/';
  }
  parts.path.append(tail);
  return parts;
}

}  // namespace qx::transport
