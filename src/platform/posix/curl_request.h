// A post in libcurl's terms: its URL, and the header list that makes the wire carry exactly the
// request line, Host, Content-Length and the caller's headers, in that order.
//
// Quirks handled here:
//  - libcurl adds Accept, Content-Type (for a POST) and Expect of its own; each is removed (a
//    header with no value) unless the caller gives its own.
//  - Bytes that may not stand in a URL path as they are (space, controls, non-ASCII) are
//    escaped; an IPv6 address is put in brackets; port 0 is the service's default, as for
//    WinInet.
#ifndef QX_PLATFORM_POSIX_CURL_REQUEST_H_
#define QX_PLATFORM_POSIX_CURL_REQUEST_H_

#include <curl/curl.h>

#include <string>

#include "platform/http_client.h"

namespace qx::platform::posix {

struct CurlTarget {
  std::string url;    // "http://host:port/path"
  std::string path;   // the request line's target, escaped
  std::string label;  // "host:port", for the words of a failure and the credential question
};
CurlTarget TargetOf(const HttpPost& post);

// The list for CURLOPT_HTTPHEADER: authorization first when not empty (a whole header line,
// where libcurl puts its own: right after Host), Content-Length unless libcurl is to write it
// (with_length false), the caller's headers, and the removals. Every line is wiped once copied
// into the list. Null when out of memory; the caller frees the list.
curl_slist* RequestHeaders(const HttpPost& post, std::string authorization, bool with_length);

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_CURL_REQUEST_H_
