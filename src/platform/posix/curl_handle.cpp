#include "platform/posix/curl_handle.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "base/system_texts.h"
#include "platform/http_client.h"

namespace qx::platform::posix {
namespace {

// The descriptors open in this process now, in order (none where /proc is not mounted).
std::vector<int> OpenDescriptors() {
  std::vector<int> fds;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd != ::dirfd(dir)) fds.push_back(fd);
    }
    ::closedir(dir);
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

}  // namespace

void SetTransportSecurity(CURL* easy, bool tls, std::string_view ca_file,
                          const CaDefaults& defaults) {
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
  if (!tls) return;
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  // libcurl copies the strings; null leaves the handle without a bundle or folder.
  const std::string file(ca_file);
  const auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
  curl_easy_setopt(easy, CURLOPT_CAINFO, text(file.empty() ? defaults.file : file));
  curl_easy_setopt(easy, CURLOPT_CAPATH, text(file.empty() ? defaults.folder : std::string()));
}

std::string CurlWords(CURLcode code, std::string_view detail) {
  std::string words = curl_easy_strerror(code);
  while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) {
    detail.remove_suffix(1);
  }
  if (!detail.empty()) words.append(": ").append(detail);
  return words;
}

Status CurlFailure(CURLcode code, std::string_view detail) {
  std::string words = CurlWords(code, detail);
  const bool ours = code == CURLE_OUT_OF_MEMORY || code == CURLE_FAILED_INIT ||
                    code == CURLE_BAD_FUNCTION_ARGUMENT || code == CURLE_UNKNOWN_OPTION ||
                    code == CURLE_NOT_BUILT_IN;
  return ours ? Status::Local(std::move(words)) : Status::Network(std::move(words));
}

std::optional<Status> CertificateFailure(CURL* easy, CURLcode code, const char* error,
                                         const std::string& label) {
  long verified = 0;  // OpenSSL's X509_V_* code of the chain's verification
  if (curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verified) != CURLE_OK) verified = 0;
  const bool certificate =
      code == CURLE_PEER_FAILED_VERIFICATION || (code == CURLE_SSL_CONNECT_ERROR && verified != 0);
  if (!certificate) return std::nullopt;
  const std::string words = CurlWords(code, error != nullptr ? error : "");
  texts::CertificateProblem problem = texts::CertificateProblem::kOther;
  // libcurl checks the name itself once the chain passed, and says "... subject name ... does
  // not match target host name ..." or "no alternative certificate subject name matches ...";
  // the chain's own result may be anything then.
  if (words.find("target host name") != std::string::npos) {
    return Status::Network(
        texts::CertificateFailure(texts::CertificateProblem::kWrongName, label, words));
  }
  switch (verified) {
    case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
      problem = texts::CertificateProblem::kExpired;
      break;
    case 2:   // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT
    case 18:  // X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
    case 19:  // X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
    case 20:  // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY
    case 21:  // X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE
    case 27:  // X509_V_ERR_CERT_UNTRUSTED
      problem = texts::CertificateProblem::kUnknownCa;
      break;
    case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
      problem = texts::CertificateProblem::kWrongName;
      break;
    default:
      break;
  }
  return Status::Network(texts::CertificateFailure(problem, label, words));
}

CURLcode InitCurlOnce() {
  struct Global {
    CURLcode code = CURLE_FAILED_INIT;
    ~Global() {
      if (code == CURLE_OK) curl_global_cleanup();
    }
  };
  static std::once_flag once;
  static Global global;
  std::call_once(once, [] { global.code = curl_global_init(CURL_GLOBAL_ALL); });
  return global.code;
}

CookieShare::~CookieShare() {
  if (share_ != nullptr) curl_share_cleanup(share_);
}

CURLSH* CookieShare::Get() {
  std::call_once(made_, [this] {
    CURLSH* share = curl_share_init();
    if (share == nullptr) return;
    curl_lock_function lock = [](CURL*, curl_lock_data, curl_lock_access, void* self) {
      static_cast<CookieShare*>(self)->mutex_.lock();
    };
    curl_unlock_function unlock = [](CURL*, curl_lock_data, void* self) {
      static_cast<CookieShare*>(self)->mutex_.unlock();
    };
    if (curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_USERDATA, this) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
      curl_share_cleanup(share);
      return;
    }
    share_ = share;
  });
  return share_;
}

CurlHandle::CurlHandle() : pid_(::getpid()), before_(OpenDescriptors()) {
  easy_ = curl_easy_init();
  const char* file = nullptr;
  const char* folder = nullptr;
  if (easy_ != nullptr && curl_easy_getinfo(easy_, CURLINFO_CAINFO, &file) == CURLE_OK &&
      file != nullptr) {
    ca_defaults_.file = file;
  }
  if (easy_ != nullptr && curl_easy_getinfo(easy_, CURLINFO_CAPATH, &folder) == CURLE_OK &&
      folder != nullptr) {
    ca_defaults_.folder = folder;
  }
}

CurlHandle::~CurlHandle() {
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
}

bool CurlHandle::Ours() const { return pid_ == ::getpid(); }

void CurlHandle::OwnSockets() {
  curl_easy_setopt(easy_, CURLOPT_OPENSOCKETFUNCTION, &CurlHandle::OpenSocket);
  curl_easy_setopt(easy_, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(easy_, CURLOPT_CLOSESOCKETFUNCTION, &CurlHandle::CloseSocket);
  curl_easy_setopt(easy_, CURLOPT_CLOSESOCKETDATA, this);
}

void CurlHandle::MarkWakeupPair() {
  if (marked_) return;
  marked_ = true;
  for (int fd : OpenDescriptors()) {
    int domain = 0;
    socklen_t length = sizeof domain;
    if (!std::binary_search(before_.begin(), before_.end(), fd) &&
        ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX) {
      const int flags = ::fcntl(fd, F_GETFD);
      if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
  }
  before_ = {};
}

// libcurl 7.88 looks for the end of a connection before it reuses it, but takes a pending reset
// for a live connection, sends on it, and then has to send again.
void CurlHandle::SettleIdleConnections() {
  for (curl_socket_t socket : sockets_) {
    pollfd watch{socket, POLLIN, 0};
    if (poll(&watch, 1, 0) == 1 && (watch.revents & (POLLERR | POLLHUP)) != 0) {
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
    }
  }
}

curl_socket_t CurlHandle::OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
  auto* handle = static_cast<CurlHandle*>(self);
  if (purpose != CURLSOCKTYPE_IPCXN) return CURL_SOCKET_BAD;
  // The transfer engine, and its wake-up pair, exist by the time the first connection opens.
  handle->MarkWakeupPair();
  const curl_socket_t socket =
      ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (socket == CURL_SOCKET_BAD) return socket;
  try {
    handle->sockets_.push_back(socket);
  } catch (const std::bad_alloc&) {
    ::close(socket);
    return CURL_SOCKET_BAD;
  }
  return socket;
}

int CurlHandle::CloseSocket(void* self, curl_socket_t socket) {
  std::vector<curl_socket_t>& sockets = static_cast<CurlHandle*>(self)->sockets_;
  sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
  return ::close(socket);
}

}  // namespace qx::platform::posix
