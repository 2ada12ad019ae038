#include "platform/posix/curl_request.h"

#include <strings.h>

#include <algorithm>
#include <string_view>

#include "platform/memory_wipe.h"

namespace qx::platform::posix {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string EscapePath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = path.empty() || path.front() != '/' ? "/" : "";
  for (char c : path) {
    auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || std::string_view("\"<>\\^`{|}").find(c) != std::string::npos) {
      out += {'%', kHex[u >> 4], kHex[u & 0x0f]};
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

CurlTarget TargetOf(const HttpPost& post) {
  const uint16_t port = PortOrDefault(post.port, post.tls);
  std::string host(post.server);
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  CurlTarget target;
  target.path = EscapePath(post.path);
  target.url = SchemeOf(post.tls) + ("://" + host) + ":" + std::to_string(port) + target.path;
  target.label = std::string(post.server) + ":" + std::to_string(port);
  return target;
}

curl_slist* RequestHeaders(const HttpPost& post, std::string authorization, bool with_length) {
  curl_slist* list = nullptr;
  bool listed = true;
  auto add = [&](std::string line) {
    curl_slist* longer = listed ? curl_slist_append(list, line.c_str()) : nullptr;
    WipeString(&line);  // an Authorization, or nothing secret
    listed = longer != nullptr;
    if (listed) list = longer;
  };
  if (!authorization.empty()) add(std::move(authorization));
  if (with_length) add("Content-Length: " + std::to_string(post.body.size()));
  for (const HttpHeader& header : post.headers) {
    add(std::string(header.name) + ": " + std::string(header.value));
  }
  for (std::string_view own : {"Accept", "Content-Type", "Expect"}) {
    if (std::none_of(post.headers.begin(), post.headers.end(),
                     [&](const HttpHeader& h) { return EqualsNoCase(h.name, own); })) {
      add(std::string(own) + ":");
    }
  }
  if (!listed) {
    curl_slist_free_all(list);
    return nullptr;
  }
  return list;
}

}  // namespace qx::platform::posix
