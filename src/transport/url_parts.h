// UrlParts: an absolute URL split into what a redirect needs (scheme, host, port, path), the
// same on every platform. Splits the Location of a redirect (CenterConnection).
#ifndef QX_TRANSPORT_URL_PARTS_H_
#define QX_TRANSPORT_URL_PARTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qx::transport {

struct UrlParts {
  enum class Scheme { kHttp, kHttps, kOther };
  Scheme scheme = Scheme::kOther;
  std::string scheme_name;  // as written, lower case
  std::string host;         // without brackets for an IPv6 literal
  uint16_t port = 0;        // the URL's port, else the scheme's default (80, 443, 21), else 0
  std::string path;         // path and query as written, without a fragment; "/" when none

  // Splits "scheme://[user[:password]@]host[:port][/path][?query][#fragment]". Empty when url is
  // not one: no "://", a scheme that does not start with a letter or holds other than letters,
  // digits, '+', '-', '.', no host or a host with blanks, an unclosed '[', a port that is not 1
  // to 65535 in at most five digits.
  static std::optional<UrlParts> Split(std::string_view url);
};

}  // namespace qx::transport

#endif  // QX_TRANSPORT_URL_PARTS_H_
