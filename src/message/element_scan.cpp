#include "message/element_scan.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#include <immintrin.h>
#define QX_SCAN_TABLES 1
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

// Only where the compiler has a vector unit to build them on: without one (a 32-bit Windows
// build, whose baseline has no SSE) it would compare the vectors' bytes one by one, slower than
// the plain loop.
#if defined(__SSE2__) || defined(__ARM_NEON)
#define QX_SCAN_VECTORS 1

// A hundred and twenty-eight positions at a time, in the compiler's portable vectors: '<' or ':'
// followed by the first two bytes of a name not yet seen. Only those few positions are compared in
// full (a catalogue's rows start with "<row", a near miss for "<readic" that the second byte
// already rules out).
using Bytes = unsigned char __attribute__((vector_size(32)));
constexpr std::size_t kWidth = sizeof(Bytes);

// Out-parameters rather than results: a vector of 32 bytes is returned in a register only with
// AVX, and the default build of the scan has none.
void Splat(char c, Bytes* v) {
  for (std::size_t k = 0; k < kWidth; ++k) (*v)[k] = static_cast<unsigned char>(c);
}

void LoadAt(const char* s, Bytes* v) { std::memcpy(v, s, sizeof *v); }

std::size_t ScanVectors(std::string_view text, std::span<const std::string_view> names,
                        uint32_t plain, uint32_t all, uint32_t* seen) {
  const char* s = text.data();
  const std::size_t n = text.size();
  Bytes first[kMaxNamesPerScan];
  Bytes second[kMaxNamesPerScan];
  std::size_t count = 0;
  // The names still to be found; made again whenever one is.
  auto pending = [&] {
    count = 0;
    for (std::size_t k = 0; k < names.size(); ++k) {
      if ((plain >> k & 1u) == 0 || (*seen >> k & 1u) != 0) continue;
      Splat(names[k][0], &first[count]);
      Splat(names[k][1], &second[count]);
      ++count;
    }
  };
  pending();
  Bytes open;
  Bytes colon;
  Splat('<', &open);
  Splat(':', &colon);
  // Four vectors a step, their results tested together: taking a vector's bytes out to the
  // general registers costs more than the comparisons, and almost every block has no position.
  constexpr std::size_t kBlock = 4 * kWidth;
  std::size_t i = 0;
  for (; i + kBlock + 2 <= n; i += kBlock) {
    Bytes found[4];
    Bytes either = {};
    for (std::size_t v = 0; v < 4; ++v) {
      Bytes a;
      Bytes b;
      Bytes c;
      LoadAt(s + i + v * kWidth, &a);
      LoadAt(s + i + v * kWidth + 1, &b);
      LoadAt(s + i + v * kWidth + 2, &c);
      auto any = (b == first[0]) & (c == second[0]);
      for (std::size_t k = 1; k < count; ++k) any |= (b == first[k]) & (c == second[k]);
      found[v] = reinterpret_cast<Bytes>(((a == open) | (a == colon)) & any);
      either |= found[v];
    }
    uint64_t hits[4];  // the vector's bytes as words, to test and to take positions from
    std::memcpy(hits, &either, sizeof hits);
    if ((hits[0] | hits[1] | hits[2] | hits[3]) == 0) continue;
    const uint32_t before = *seen;
    for (std::size_t v = 0; v < 4; ++v) {
      std::memcpy(hits, &found[v], sizeof hits);
      for (std::size_t w = 0; w < 4; ++w) {
        // A position found is a byte of all ones.
        for (uint64_t bits = hits[w]; bits != 0;) {
          const auto lane = static_cast<std::size_t>(__builtin_ctzll(bits)) / 8;
          MatchAt(text, i + v * kWidth + w * 8 + lane, names, plain, seen);
          bits &= ~(uint64_t{0xFF} << (lane * 8));
        }
      }
    }
    if (*seen == all) return n;
    if (*seen != before) pending();
  }
  return i;
}

#endif  // QX_SCAN_VECTORS

#if defined(QX_SCAN_TABLES)

// The same search on x86-64 Linux where the processor has AVX2, with a table lookup (one byte
// shuffle) in place of two comparisons a name: the pending names' first bytes stand in a table at
// the index of their low four bits, their second bytes in another, so that a byte b can start a
// name only if first[b & 15] == b, and then the byte after it must be second[b & 15]. A byte with
// its high bit set looks up zero, which it is not; an unused index holds 0x80, which no byte
// below 0x80 is. It needs the names' first bytes to differ in their low four bits, as those of
// Reply's names do; for other names it answers false and the portable search runs
// (bench/RESULTS.md has what it saves). Not on Windows: GCC keeps a 16-byte aligned stack there
// and spills 32-byte registers with aligned moves.
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

// The 32 positions from `at` where '<' or ':' is followed by a pending name's first two bytes.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i FoundAt(const char* at, __m256i first,
                                                                   __m256i second) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2));
  const __m256i pair = _mm256_and_si256(_mm256_cmpeq_epi8(b, _mm256_shuffle_epi8(first, b)),
                                        _mm256_cmpeq_epi8(c, _mm256_shuffle_epi8(second, b)));
  const __m256i opens = _mm256_or_si256(_mm256_cmpeq_epi8(a, _mm256_set1_epi8('<')),
                                        _mm256_cmpeq_epi8(a, _mm256_set1_epi8(':')));
  return _mm256_and_si256(pair, opens);
}

[[gnu::target("avx2")]] bool ScanTables(std::string_view text,
                                        std::span<const std::string_view> names, uint32_t plain,
                                        uint32_t all, uint32_t* seen, std::size_t* reached) {
  const char* s = text.data();
  const std::size_t n = text.size();
  // The tables of the names still to be found; made again whenever one is. False when two of
  // them would share an index. (The loads stay out of the lambda, which is not built for AVX2.)
  alignas(32) unsigned char f[32];
  alignas(32) unsigned char g[32];
  auto pending = [&] {
    std::memset(f, 0x80, sizeof f);
    std::memset(g, 0, sizeof g);
    for (std::size_t k = 0; k < names.size(); ++k) {
      if ((plain >> k & 1u) == 0 || (*seen >> k & 1u) != 0) continue;
      const auto byte = static_cast<unsigned char>(names[k][0]);
      const unsigned index = byte & 15u;
      if (f[index] != 0x80) return false;
      f[index] = f[index + 16] = byte;
      g[index] = g[index + 16] = static_cast<unsigned char>(names[k][1]);
    }
    return true;
  };
  if (!pending()) return false;
  __m256i first = _mm256_load_si256(reinterpret_cast<const __m256i*>(f));
  __m256i second = _mm256_load_si256(reinterpret_cast<const __m256i*>(g));
  constexpr std::size_t kBlock = 128;
  std::size_t i = 0;
  for (; i + kBlock + 2 <= n; i += kBlock) {
    const __m256i found[4] = {FoundAt(s + i, first, second), FoundAt(s + i + 32, first, second),
                              FoundAt(s + i + 64, first, second),
                              FoundAt(s + i + 96, first, second)};
    const __m256i either =
        _mm256_or_si256(_mm256_or_si256(found[0], found[1]), _mm256_or_si256(found[2], found[3]));
    if (_mm256_testz_si256(either, either)) continue;
    const uint32_t before = *seen;
    for (std::size_t v = 0; v < 4; ++v) {
      for (auto bits = static_cast<uint32_t>(_mm256_movemask_epi8(found[v])); bits != 0;
           bits &= bits - 1) {
        MatchAt(text, i + v * 32 + static_cast<std::size_t>(__builtin_ctz(bits)), names, plain,
                seen);
      }
    }
    if (*seen == all) {
      *reached = n;
      return true;
    }
    if (*seen != before) {
      pending();  // fewer names than before: no index shared
      first = _mm256_load_si256(reinterpret_cast<const __m256i*>(f));
      second = _mm256_load_si256(reinterpret_cast<const __m256i*>(g));
    }
  }
  *reached = i;
  return true;
}

#endif  // QX_SCAN_TABLES

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
  std::size_t i = 0;
  bool scanned = false;
#if defined(QX_SCAN_TABLES)
  scanned = HasAvx2() && ScanTables(text, names, plain, all, &seen, &i);
#endif
#if defined(QX_SCAN_VECTORS)
  if (!scanned) i = ScanVectors(text, names, plain, all, &seen);
#endif
  (void)scanned;
  // The rest, a byte at a time.
  for (; i < text.size() && seen != all; ++i) {
    if (OpensName(text[i])) MatchAt(text, i, names, plain, &seen);
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
