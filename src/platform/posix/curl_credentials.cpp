#include "platform/posix/kept_credentials.h"

#include <algorithm>
#include <optional>

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

}  // namespace qx::platform::posix
