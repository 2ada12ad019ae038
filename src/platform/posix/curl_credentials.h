// Credentials the clerk gave after a 401 or a 407, kept by the POSIX client per key (who asked,
// and the realm) for its life, and wiped when they are forgotten or the client goes (WinInet
// keeps its own on Windows). Safe to use from several threads.
#ifndef QX_PLATFORM_POSIX_KEPT_CREDENTIALS_H_
#define QX_PLATFORM_POSIX_KEPT_CREDENTIALS_H_

#include <mutex>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_KEPT_CREDENTIALS_H_
