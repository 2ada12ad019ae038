#include "message/element_scan.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qx::message {

namespace {

bool IsPlainName(std::string_view name) {
  if (name.size() < 2) return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The byte before an element's name: '<', or ':' after a prefix (the Windows DOM finds
// "x:writeic" when asked for "writeic").
bool OpensName(char c) { return c == '<' || c == ':'; }

// Marks in *seen every plain name that follows the '<' or ':' at `at`.
void MatchAt(std::string_view text, std::size_t at, std::span<const std::string_view> names,
             uint32_t plain, uint32_t* seen) {
  std::string_view rest = text.substr(at + 1);
  for (std::size_t k = 0; k < names.size(); ++k) {
    if ((plain >> k & 1u) != 0 && rest.starts_with(names[k])) *seen |= 1u << k;
  }
}

}  // namespace

bool MayHoldElement(std::string_view text, std::string_view name) {
  return MayHoldElements(text, std::span<const std::string_view>(&name, 1)) != 0;
}

uint32_t MayHoldElements(std::string_view text, std::span<const std::string_view> names) {
  if (names.size() > kMaxNamesPerScan) {
    names = names.first(kMaxNamesPerScan);
  }
  const uint32_t all = (1u << names.size()) - 1;
  // Names the scan cannot rule out are answered "may" at once.
  uint32_t plain = 0;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (IsPlainName(names[k])) plain |= 1u << k;
  }
  uint32_t seen = all & ~plain;
  if (seen == all) return seen;
  const char* s = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen positions at a time: '<' or ':' followed by the first two bytes of some name. Only
  // those few positions are compared in full (a catalogue's rows start with "<row", a near miss
  // for "<readic" that the second byte already rules out).
  __m128i first[kMaxNamesPerScan];
  __m128i second[kMaxNamesPerScan];
  std::size_t count = 0;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if ((plain >> k & 1u) == 0) continue;
    first[count] = _mm_set1_epi8(names[k][0]);
    second[count] = _mm_set1_epi8(names[k][1]);
    ++count;
  }
  const __m128i open = _mm_set1_epi8('<');
  const __m128i colon = _mm_set1_epi8(':');
  while (i + 18 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 2));
    __m128i any = _mm_and_si128(_mm_cmpeq_epi8(b, first[0]), _mm_cmpeq_epi8(c, second[0]));
    for (std::size_t k = 1; k < count; ++k) {
      any = _mm_or_si128(any,
                         _mm_and_si128(_mm_cmpeq_epi8(b, first[k]), _mm_cmpeq_epi8(c, second[k])));
    }
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(a, open), _mm_cmpeq_epi8(a, colon)), any)));
    if (mask != 0) {
      do {
        MatchAt(text, i + static_cast<std::size_t>(__builtin_ctz(mask)), names, plain, &seen);
        mask &= mask - 1;
      } while (mask != 0);
      if (seen == all) return seen;
    }
    i += 16;
  }
#endif
  // The rest (all of it without SSE2), a byte at a time.
  for (; i < n && seen != all; ++i) {
    if (OpensName(s[i])) MatchAt(text, i, names, plain, &seen);
  }
  return seen;
}

ElementNamesScan::ElementNamesScan(std::span<const std::string_view> names)
    : names_(names.size() > kMaxNamesPerScan ? names.first(kMaxNamesPerScan) : names) {
  for (std::string_view name : names_) longest_ = std::max(longest_, name.size());
  all_ = (1u << names_.size()) - 1;
  seen_ = MayHoldElements(std::string_view(), names_);  // the names no search can rule out
}

void ElementNamesScan::Feed(std::string_view text, std::size_t from) {
  if (seen_ == all_) return;
  // A name cut by the end of the last piece starts at most '<' plus the longest name before it.
  const std::size_t back = longest_ + 1;
  const std::size_t start = std::min(from > back ? from - back : 0, text.size());
  seen_ |= MayHoldElements(text.substr(start), names_);
}

}  // namespace qx::message
