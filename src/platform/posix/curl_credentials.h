// Credentials on POSIX: those the clerk gave after a 401 or a 407, kept by the client per key
// (who asked, and the realm) for its life and wiped when they are forgotten or the client goes
// (WinInet keeps its own on Windows); and how one post answers a 401 or 407 on its easy handle.
// KeptCredentials is safe to use from several threads; a post's parties belong to that post.
#ifndef QX_PLATFORM_POSIX_CURL_CREDENTIALS_H_
#define QX_PLATFORM_POSIX_CURL_CREDENTIALS_H_

#include <curl/curl.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/http_digest.h"
#include "platform/http_client.h"
#include "platform/prompts.h"

namespace qx::platform::posix {

class KeptCredentials {
 public:
  KeptCredentials() = default;
  KeptCredentials(const KeptCredentials&) = delete;
  KeptCredentials& operator=(const KeptCredentials&) = delete;
  ~KeptCredentials();
  // Credentials for a 401 or a 407 from key: those kept, once per post (*tried_kept), nobody
  // asked (kRetryKept); else the clerk's, through prompts, kept from then on (kRetry). Kept ones
  // tried already were refused, and are forgotten first. kCancel when the clerk gave none.
  CredentialAnswer Answer(const std::string& key, bool* tried_kept, Prompts& prompts,
                          Credentials* credentials);

 private:
  void Forget(const std::string& key);  // wiped

  std::mutex mutex_;
  std::vector<std::pair<std::string, Credentials>> kept_;
};

// What one post holds for the server [0] and the proxy [1]: the credentials given, the method
// to answer with, and whether kept credentials were tried already. A server's Digest challenge
// that base/http_digest.h answers is the post's own (digest); any other method is libcurl's.
struct PostCredentials {
  struct Party {
    Credentials given;
    bool has = false;
    unsigned long methods = CURLAUTH_BASIC;
    bool tried_kept = false;
  } parties[2];
  std::optional<DigestChallenge> digest;

  PostCredentials() = default;
  PostCredentials(const PostCredentials&) = delete;
  PostCredentials& operator=(const PostCredentials&) = delete;
  ~PostCredentials();

  bool any() const { return parties[0].has || parties[1].has; }
  // Whether libcurl answers a Digest challenge itself, and so may send a first round without
  // the body.
  bool CurlDigest() const;
  // The answer to the 401 or 407 (status) that easy has just received from label (the server,
  // "host:port"): the challenges read, then the kept credentials or the clerk's.
  CredentialAnswer Ask(CURL* easy, long status, const std::string& label, KeptCredentials& kept,
                       Prompts& prompts);
  // The server's Authorization header line where the post answers its Digest challenge itself
  // (for the request line's target and the body), else empty.
  std::string Authorization(const std::string& target, std::string_view body) const;
  // libcurl's own authentication options for the parties it answers.
  void Apply(CURL* easy) const;
};

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_CURL_CREDENTIALS_H_
