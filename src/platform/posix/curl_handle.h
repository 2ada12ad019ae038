// What the POSIX HTTP client keeps of libcurl between posts: libcurl initialised once per
// process (never from a static constructor), the servers' cookies in one share handle (libcurl's
// cookie engine with no file: nothing on disk), and easy handles whose connections it opens and
// closes itself: sockets close-on-exec (OPENSOCKETFUNCTION), and so the wake-up socket pair
// libcurl 7.88 makes for a handle's first transfer, which no option reaches.
#ifndef QX_PLATFORM_POSIX_CURL_HANDLE_H_
#define QX_PLATFORM_POSIX_CURL_HANDLE_H_

#include <curl/curl.h>
#include <sys/types.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace qx::platform::posix {

// curl_global_init once per process (std::call_once; libcurl 7.88 with the threaded resolver is
// thread-safe to initialise), cleaned up when the library is unloaded.
CURLcode InitCurlOnce();

// The servers' cookies, shared by every easy handle of one client: libcurl's cookie engine in
// memory, no file, guarded by one lock since hosts may call from several threads.
class CookieShare {
 public:
  CookieShare() = default;
  CookieShare(const CookieShare&) = delete;
  CookieShare& operator=(const CookieShare&) = delete;
  ~CookieShare();
  // The share handle, made at first use; null when libcurl cannot make one (no cookies then).
  CURLSH* Get();

 private:
  std::once_flag made_;
  std::mutex mutex_;
  CURLSH* share_ = nullptr;
};

// The transport's security on easy, for every post (a kept handle may serve a site that changed
// it): with tls, https only, the peer's certificate and its host name verified, against the CA
// certificates of ca_file alone (CURLOPT_CAINFO, no CA folder) when it is not empty, else against
// libcurl's default bundle and folder as the handle was made with (defaults); without, http
// only, as a post always was.
struct CaDefaults {
  std::string file, folder;  // CURLINFO_CAINFO / CURLINFO_CAPATH of a fresh handle; may be empty
};
void SetTransportSecurity(CURL* easy, bool tls, std::string_view ca_file,
                          const CaDefaults& defaults);

// libcurl's words for a failure: curl_easy_strerror's, then those of the error buffer (detail)
// without its line end.
std::string CurlWords(CURLcode code, std::string_view detail);
// The same as a status: kLocal for memory and set-up failures, kNetwork for everything on the
// wire.
Status CurlFailure(CURLcode code, std::string_view detail);

// After a failed perform: when it failed on the server's certificate, the failure that names the
// reason (expired, wrong host name, unknown CA, or another, from CURLINFO_SSL_VERIFYRESULT and
// libcurl's words in error) for label ("server:port"), kNetwork; none for any other failure.
std::optional<Status> CertificateFailure(CURL* easy, CURLcode code, const char* error,
                                         const std::string& label);

// One easy handle and the connections libcurl opened through it. Not for two threads at once.
class CurlHandle {
 public:
  CurlHandle();
  CurlHandle(const CurlHandle&) = delete;
  CurlHandle& operator=(const CurlHandle&) = delete;
  ~CurlHandle();

  CURL* easy() const { return easy_; }
  // libcurl's own CA bundle and folder, as the handle was made.
  const CaDefaults& ca_defaults() const { return ca_defaults_; }
  // Whether the handle was made in this process: a forked child never sends on its parent's
  // connections.
  bool Ours() const;
  // Whether the options every post shares are set (until a reset).
  bool configured = false;

  // Makes libcurl open and close its connections through this object.
  void OwnSockets();
  // Before a request: a kept connection its server reset while idle has the pending error taken
  // off, so that libcurl meets the plain end and connects anew instead of sending on it.
  void SettleIdleConnections();
  // After a transfer: the wake-up socket pair libcurl made for the handle's transfer engine is
  // made close-on-exec (no option reaches it).
  void MarkWakeupPair();

 private:
  static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
  static int CloseSocket(void* self, curl_socket_t socket);

  CURL* easy_ = nullptr;
  CaDefaults ca_defaults_;
  pid_t pid_;
  std::vector<int> before_;  // the descriptors open before the first transfer, until marked
  bool marked_ = false;
  std::vector<curl_socket_t> sockets_;
};

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_CURL_HANDLE_H_
