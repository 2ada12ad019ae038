#include "platform/posix/curl_credentials.h"

#include <strings.h>

#include <algorithm>
#include <optional>
#include <string_view>

#include "platform/memory_wipe.h"

namespace qx::platform::posix {

KeptCredentials::~KeptCredentials() {
  for (auto& [key, credentials] : kept_) {
    WipeString(&credentials.user);
    WipeString(&credentials.password);
  }
}

CredentialAnswer KeptCredentials::Answer(const std::string& key, bool* tried_kept, Prompts& prompts,
                                         Credentials* credentials) {
  if (*tried_kept) {
    Forget(key);
  } else {
    *tried_kept = true;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [kept_key, kept] : kept_) {
      if (kept_key != key) continue;
      *credentials = kept;
      return CredentialAnswer::kRetryKept;
    }
  }
  std::optional<Credentials> given = prompts.AskCredentials(key);
  if (!given) return CredentialAnswer::kCancel;
  Forget(key);
  std::lock_guard<std::mutex> lock(mutex_);
  kept_.emplace_back(key, *given);
  *credentials = std::move(*given);
  return CredentialAnswer::kRetry;
}

void KeptCredentials::Forget(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(kept_.begin(), kept_.end(), [&](const auto& k) { return k.first == key; });
  if (it == kept_.end()) return;
  WipeString(&it->second.user);
  WipeString(&it->second.password);
  kept_.erase(it);
}

PostCredentials::~PostCredentials() {
  for (Party& party : parties) WipeString(&party.given.password);
}

bool PostCredentials::CurlDigest() const {
  return (parties[0].has && !digest && (parties[0].methods & CURLAUTH_DIGEST) != 0) ||
         (parties[1].has && (parties[1].methods & CURLAUTH_DIGEST) != 0);
}

CredentialAnswer PostCredentials::Ask(CURL* easy, long status, const std::string& label,
                                      KeptCredentials& kept, Prompts& prompts) {
  // A 407 is the proxy's question (Proxy-Authenticate), anything else the server's.
  const int kind = status == 407 ? 1 : 0;
  const char* const header = kind == 1 ? "Proxy-Authenticate" : "WWW-Authenticate";
  Challenges offered;
  for (curl_header* h = nullptr; (h = curl_easy_nextheader(easy, CURLH_HEADER, -1, h));) {
    if (strcasecmp(h->name, header) == 0) ReadChallenge(h->value, kind == 0, &offered);
  }
  // Who asks: the server, or the proxy the transfer went through (the address libcurl reached).
  std::string target = label;
  if (kind == 1) {
    const char* address = nullptr;
    long port = 0;
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &address);
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_PORT, &port);
    target = "proxy " + std::string(address != nullptr ? address : "") + ":" + std::to_string(port);
  }
  if (!offered.realm.empty()) target += " (" + offered.realm + ")";

  Party& party = parties[kind];
  WipeString(&party.given.password);
  const CredentialAnswer answer = kept.Answer(target, &party.tried_kept, prompts, &party.given);
  if (answer == CredentialAnswer::kCancel) return answer;
  party.has = true;
  party.methods = offered.digest ? CURLAUTH_DIGEST : CURLAUTH_BASIC;
  // A Digest challenge we can answer is answered by us; any other is left to libcurl.
  if (kind == 0) digest = std::move(offered.answerable);
  return answer;
}

std::string PostCredentials::Authorization(const std::string& target, std::string_view body) const {
  const Party& server = parties[0];
  if (!server.has || !digest) return std::string();
  return "Authorization: " + DigestAuthorization(*digest, server.given.user, server.given.password,
                                                 "POST", target, body, NewClientNonce());
}

void PostCredentials::Apply(CURL* easy) const {
  const Party& server = parties[0];
  const Party& proxy = parties[1];
  if (server.has && !digest) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, server.methods);
    curl_easy_setopt(easy, CURLOPT_USERNAME, server.given.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, server.given.password.c_str());
  }
  if (proxy.has) {
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, proxy.methods);
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.given.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.given.password.c_str());
  }
}

}  // namespace qx::platform::posix
