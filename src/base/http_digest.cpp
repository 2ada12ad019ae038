#include "base/http_digest.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <random>
#include <utility>

namespace qx {
namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0x0f];
  }
  return out;
}

// ---- MD5 (RFC 1321) ----------------------------------------------------------------------------

uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Md5Block(std::array<uint32_t, 4>& state, const unsigned char* block) {
  static constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  // floor(2^32 * |sin(i + 1)|), the table of RFC 1321.
  static constexpr uint32_t kSine[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
           static_cast<uint32_t>(block[i * 4 + 2]) << 16 |
           static_cast<uint32_t>(block[i * 4 + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f = 0;
    int g = 0;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const uint32_t next = d;
    d = c;
    c = b;
    b = b + Rotate(a + f + kSine[i] + m[g], kShift[i]);
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

// ---- the challenge's parameters ----------------------------------------------------------------

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// Takes "name=value" (value a token or a quoted string) off the front of rest, with the commas
// and blanks around it. False when nothing more can be read.
bool NextParam(std::string_view& rest, std::string* name, std::string* value) {
  while (!rest.empty() && (IsSpace(rest.front()) || rest.front() == ',')) {
    rest.remove_prefix(1);
  }
  const std::size_t equals = rest.find('=');
  if (rest.empty() || equals == std::string_view::npos) {
    return false;
  }
  std::string_view key = rest.substr(0, equals);
  while (!key.empty() && IsSpace(key.back())) {
    key.remove_suffix(1);
  }
  *name = Lower(key);
  rest.remove_prefix(equals + 1);
  while (!rest.empty() && IsSpace(rest.front())) {
    rest.remove_prefix(1);
  }
  value->clear();
  if (!rest.empty() && rest.front() == '"') {
    std::size_t i = 1;
    for (; i < rest.size() && rest[i] != '"'; ++i) {
      if (rest[i] == '\\' && i + 1 < rest.size()) {
        ++i;
      }
      value->push_back(rest[i]);
    }
    rest.remove_prefix(std::min(i + 1, rest.size()));
  } else {
    const std::size_t end = rest.find(',');
    std::string_view token = rest.substr(0, end);
    while (!token.empty() && IsSpace(token.back())) {
      token.remove_suffix(1);
    }
    value->assign(token);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  return true;
}

// text as a quoted string: '"' and '\' escaped.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

std::string Md5Hex(std::string_view data) {
  std::array<uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t whole = data.size() - data.size() % 64;
  for (std::size_t at = 0; at < whole; at += 64) {
    Md5Block(state, bytes + at);
  }
  // The tail, the 0x80 marker, zeros, and the length in bits: one or two more blocks.
  unsigned char tail[128] = {};
  const std::size_t left = data.size() - whole;
  if (left > 0) {
    std::memcpy(tail, bytes + whole, left);
  }
  tail[left] = 0x80;
  const std::size_t tail_size = left < 56 ? 64 : 128;
  const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) {
    tail[tail_size - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  for (std::size_t at = 0; at < tail_size; at += 64) {
    Md5Block(state, tail + at);
  }
  unsigned char digest[16];
  for (int i = 0; i < 16; ++i) {
    digest[i] = static_cast<unsigned char>(state[i / 4] >> (8 * (i % 4)));
  }
  return Hex(digest, sizeof digest);
}

bool ParseDigestChallenge(std::string_view params, DigestChallenge* challenge) {
  *challenge = DigestChallenge();
  bool has_nonce = false;
  bool qop_offered = false;
  bool auth = false;
  bool auth_int = false;
  std::string name;
  std::string value;
  while (NextParam(params, &name, &value)) {
    if (name == "realm") {
      challenge->realm = value;
    } else if (name == "nonce") {
      challenge->nonce = value;
      has_nonce = true;
    } else if (name == "opaque") {
      challenge->opaque = value;
      challenge->has_opaque = true;
    } else if (name == "algorithm") {
      challenge->algorithm = value;
    } else if (name == "qop") {
      qop_offered = true;
      std::string_view options(value);
      while (!options.empty()) {
        const std::size_t comma = options.find(',');
        std::string_view option = options.substr(0, comma);
        while (!option.empty() && IsSpace(option.front())) option.remove_prefix(1);
        while (!option.empty() && IsSpace(option.back())) option.remove_suffix(1);
        auth = auth || Lower(option) == "auth";
        auth_int = auth_int || Lower(option) == "auth-int";
        options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
      }
    }
  }
  const std::string algorithm = Lower(challenge->algorithm);
  if (!has_nonce || (!algorithm.empty() && algorithm != "md5" && algorithm != "md5-sess")) {
    return false;
  }
  challenge->sess = algorithm == "md5-sess";
  if (qop_offered) {
    if (!auth && !auth_int) {
      return false;
    }
    challenge->qop = auth ? "auth" : "auth-int";
  }
  return true;
}

std::string DigestAuthorization(const DigestChallenge& challenge, std::string_view user,
                                std::string_view password, std::string_view method,
                                std::string_view uri, std::string_view body,
                                std::string_view cnonce) {
  const std::string nc = "00000001";
  std::string ha1 = Md5Hex(std::string(user) + ":" + challenge.realm + ":" + std::string(password));
  if (challenge.sess) {
    ha1 = Md5Hex(ha1 + ":" + challenge.nonce + ":" + std::string(cnonce));
  }
  std::string a2 = std::string(method) + ":" + std::string(uri);
  if (challenge.qop == "auth-int") {
    a2 += ":" + Md5Hex(body);
  }
  const std::string ha2 = Md5Hex(a2);
  const std::string response = challenge.qop.empty()
                                   ? Md5Hex(ha1 + ":" + challenge.nonce + ":" + ha2)
                                   : Md5Hex(ha1 + ":" + challenge.nonce + ":" + nc + ":" +
                                            std::string(cnonce) + ":" + challenge.qop + ":" + ha2);
  std::string out = "Digest username=" + Quoted(user) + ", realm=" + Quoted(challenge.realm) +
                    ", nonce=" + Quoted(challenge.nonce) + ", uri=" + Quoted(uri);
  if (!challenge.qop.empty()) {
    out += ", qop=" + challenge.qop + ", nc=" + nc + ", cnonce=" + Quoted(cnonce);
  } else if (challenge.sess) {
    out += ", cnonce=" + Quoted(cnonce);
  }
  out += ", response=" + Quoted(response);
  if (challenge.has_opaque) {
    out += ", opaque=" + Quoted(challenge.opaque);
  }
  if (!challenge.algorithm.empty()) {
    out += ", algorithm=" + challenge.algorithm;
  }
  return out;
}

std::string NewClientNonce() {
  uint32_t words[4] = {};
  try {
    std::random_device device;
    for (uint32_t& word : words) word = device();
  } catch (const std::exception&) {
    // No random device: the clock and a counter still give a nonce never used before.
    static std::atomic<uint64_t> counter{0};
    const uint64_t mix[2] = {
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
        counter.fetch_add(1)};
    std::memcpy(words, mix, sizeof words);
  }
  return Hex(reinterpret_cast<const unsigned char*>(words), sizeof words);
}

void ReadChallenge(std::string_view value, bool answer_digest, Challenges* challenges) {
  const std::string lower = Lower(value);
  const bool is_digest = lower.rfind("digest", 0) == 0;
  const bool is_basic = lower.rfind("basic", 0) == 0;
  challenges->digest = challenges->digest || is_digest;
  challenges->basic = challenges->basic || is_basic;
  DigestChallenge challenge;
  if (answer_digest && is_digest && !challenges->answerable &&
      ParseDigestChallenge(value.substr(6), &challenge)) {
    challenges->answerable = std::move(challenge);
  }
  const std::size_t at = lower.find("realm=\"");
  if ((is_digest || is_basic) && challenges->realm.empty() && at != std::string::npos) {
    const std::string_view quoted = value.substr(at + 7);
    challenges->realm = std::string(quoted.substr(0, quoted.find('"')));
  }
}

}  // namespace qx
