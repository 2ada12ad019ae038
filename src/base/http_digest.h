// HTTP Digest access authentication (RFC 7616, RFC 2617) as the POSIX client answers a 401 with
// the clerk's credentials: the challenge the center sent is answered at once, so the retry is one
// request with the body and the Authorization header, never a probing round without a body.
// MD5 and MD5-sess, with qop "auth", "auth-int" or none. Standard C++ only, as all of base/.
#ifndef QX_BASE_HTTP_DIGEST_H_
#define QX_BASE_HTTP_DIGEST_H_

#include <optional>
#include <string>
#include <string_view>

namespace qx {

struct DigestChallenge {
  std::string realm;
  std::string nonce;
  std::string opaque;
  std::string algorithm;  // as the center named it; empty: MD5
  bool has_opaque = false;
  bool sess = false;  // MD5-sess
  std::string qop;    // "auth", "auth-int", or empty when the center offered none
};

// Reads the parameters of a "Digest" challenge (the text after the scheme name). False when it
// cannot be answered here: no nonce, an algorithm other than MD5 or MD5-sess, or qop options
// without "auth" and "auth-int".
bool ParseDigestChallenge(std::string_view params, DigestChallenge* challenge);

// The value of the Authorization header answering challenge for one request: method and uri as
// in the request line, body for qop "auth-int", cnonce the client's nonce (used with a qop and
// with MD5-sess), nonce count 1.
std::string DigestAuthorization(const DigestChallenge& challenge, std::string_view user,
                                std::string_view password, std::string_view method,
                                std::string_view uri, std::string_view body,
                                std::string_view cnonce);

// Lower-case hexadecimal MD5 of data (RFC 1321).
std::string Md5Hex(std::string_view data);

// 32 hexadecimal digits from the standard library's random device, or, where it has none, from
// the clock and a counter (still a nonce never used before).
std::string NewClientNonce();

// What the challenges of a 401's WWW-Authenticate (or a 407's Proxy-Authenticate) headers offer,
// read header by header: the schemes we know, the first Digest challenge that can be answered
// here (when answering is wanted), and the realm of the first Basic or Digest challenge naming one.
struct Challenges {
  bool basic = false;
  bool digest = false;
  std::optional<DigestChallenge> answerable;
  std::string realm;
};
void ReadChallenge(std::string_view value, bool answer_digest, Challenges* challenges);

}  // namespace qx

#endif  // QX_BASE_HTTP_DIGEST_H_
