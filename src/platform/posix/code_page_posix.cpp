// GBK <-> UTF-8 over two tables built once per process from glibc's iconv, made to behave like
// the Windows conversion functions.
//
// Quirks handled here:
//  - glibc iconv stops at the first byte it cannot convert (EILSEQ, or EINVAL for a lead byte at
//    the end of the input), where Windows puts '?' for that one byte and carries on with the
//    next. And a call of iconv per short run of Chinese text costs more than the conversion
//    itself. So iconv is asked once per double-byte code, when the first CodePage is made, and
//    the conversion proper is a table lookup that applies the Windows replacement rules.
//  - glibc's GBK rejects the user-defined areas that code page 936 maps to private-use
//    characters; glibc's GB18030 maps them the same way code page 936 does, so those pairs (and
//    only those) are taken from GB18030.
//  - The euro sign is the single byte 0x80, as in code page 936.
// The tables are built under the C++ static-initialisation guard and never change afterwards,
// so any number of threads may convert at once.
#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace qx::platform {
namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// The user-defined areas of code page 936.
bool IsUserDefinedPair(unsigned char lead, unsigned char trail) {
  if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1 && trail <= 0xFE) return true;
  if (lead >= 0xF8 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE) return true;
  return lead >= 0xA1 && lead <= 0xA7 && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F;
}

// Length of the well-formed UTF-8 sequence at s[0..n), 0 when it is not well formed.
size_t Utf8SequenceLength(const unsigned char* s, size_t n, uint32_t* code_point) {
  unsigned char b = s[0];
  size_t len;
  uint32_t cp;
  if (b < 0x80) {
    *code_point = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[k] & 0x3F);
  }
  if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    return 0;
  }
  *code_point = cp;
  return len;
}

// Two bytes through cd into out[0..1]; false when cd refuses them or gives another length.
bool ConvertTwo(iconv_t cd, unsigned char first, unsigned char second, unsigned char out[2]) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[2] = {static_cast<char>(first), static_cast<char>(second)};
  unsigned char converted[4];
  char* src = in;
  size_t src_left = 2;
  char* dst = reinterpret_cast<char*>(converted);
  size_t dst_left = sizeof converted;
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) ||
      sizeof converted - dst_left != 2) {
    return false;
  }
  out[0] = converted[0];
  out[1] = converted[1];
  return true;
}

// One pair through cd (to UCS-2); 0 when cd refuses it.
uint16_t DecodePair(iconv_t cd, unsigned char lead, unsigned char trail) {
  unsigned char out[2];
  if (!ConvertTwo(cd, lead, trail, out)) return 0;
  return static_cast<uint16_t>(out[0] | (out[1] << 8));
}

// One character through cd (from UCS-2); the double-byte code, or 0.
uint16_t EncodeChar(iconv_t cd, uint16_t cp) {
  unsigned char out[2];
  if (!ConvertTwo(cd, static_cast<unsigned char>(cp & 0xFF), static_cast<unsigned char>(cp >> 8),
                  out)) {
    return 0;
  }
  return static_cast<uint16_t>((out[0] << 8) | out[1]);
}

class Descriptor {
 public:
  Descriptor(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == kNoDescriptor) {
      throw CodePageError(std::string("iconv_open from ") + from + " to " + to + " failed");
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { iconv_close(cd_); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

// decode: (lead - 0x81) * 256 + trail -> BMP code point, 0 for none.
// encode: BMP code point -> lead << 8 | trail, 0 for none.
struct CodePage::Tables {
  std::array<uint16_t, 126 * 256> decode{};
  std::array<uint16_t, 65536> encode{};
};

namespace {

std::unique_ptr<CodePage::Tables> BuildTables() {
  auto tables = std::make_unique<CodePage::Tables>();
  Descriptor gbk("UCS-2LE", "GBK");
  Descriptor gb18030("UCS-2LE", "GB18030");
  Descriptor to_gbk("GBK", "UCS-2LE");
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (!IsTrail(static_cast<unsigned char>(trail))) continue;
      auto l = static_cast<unsigned char>(lead);
      auto t = static_cast<unsigned char>(trail);
      uint16_t cp = DecodePair(gbk.get(), l, t);
      if (cp == 0 && IsUserDefinedPair(l, t)) {
        cp = DecodePair(gb18030.get(), l, t);
        if (cp < 0xE000 || cp > 0xE765) cp = 0;
      }
      if (cp < 0x80) continue;
      tables->decode[(lead - 0x81) * 256 + trail] = cp;
      uint16_t code = static_cast<uint16_t>((lead << 8) | trail);
      uint16_t& slot = tables->encode[cp];
      // Two codes for one character: keep the one GBK itself writes.
      if (slot == 0 || EncodeChar(to_gbk.get(), cp) == code) slot = code;
    }
  }
  return tables;
}

}  // namespace

const CodePage::Tables& CodePage::SharedTables() {
  static const std::unique_ptr<Tables> tables = BuildTables();
  return *tables;
}

CodePage::CodePage() : tables_(&SharedTables()) {}

CodePage::~CodePage() = default;

namespace {

// Converts ANSI bytes from s[*at] on, until the input ends or fewer than 8 bytes of room are left
// before out_end; returns the end of what it wrote and moves *at past what it read. A step
// writes at most 3 bytes.
char* ConvertToUtf8(const CodePage::Tables& tables, const unsigned char* s, size_t n, size_t* at,
                    char* out, const char* out_end) {
  const auto& decode = tables.decode;
  size_t i = *at;
  while (i < n && out_end - out >= 8) {
    unsigned char b = s[i];
    if (b < 0x80) {
      // ASCII runs (the markup) move 8 bytes at a time.
      uint64_t word;
      while (i + 8 <= n && out_end - out >= 8 &&
             (std::memcpy(&word, s + i, 8), (word & 0x8080808080808080ULL) == 0)) {
        std::memcpy(out, &word, 8);
        out += 8;
        i += 8;
      }
      if (i < n && s[i] < 0x80 && out < out_end) {
        *out++ = static_cast<char>(s[i++]);
      }
      continue;
    }
    // A lead byte with a trail byte that forms a character with it (the table holds 0 for
    // every pair that does not, an invalid trail byte included).
    uint32_t cp = IsLead(b) && i + 1 < n ? decode[(b - 0x81) * 256 + s[i + 1]] : 0;
    if (cp != 0) {
      if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
      }
      i += 2;
    } else if (b == 0x80) {
      std::memcpy(out, "\xE2\x82\xAC", 3);  // the euro sign
      out += 3;
      ++i;
    } else {
      *out++ = '?';  // this byte only: the next one starts afresh
      ++i;
    }
  }
  *at = i;
  return out;
}

}  // namespace

void CodePage::AppendUtf8(std::string_view ansi, std::string* out) const {
  const auto* s = reinterpret_cast<const unsigned char*>(ansi.data());
  const size_t n = ansi.size();
  out->reserve(out->size() + n + n / 2);
  // Written through a small buffer on the stack and appended a piece at a time: one capacity
  // check per piece instead of one per byte.
  constexpr size_t kPiece = 16384;
  char piece[kPiece];
  size_t i = 0;
  while (i < n) {
    char* end = ConvertToUtf8(*tables_, s, n, &i, piece, piece + kPiece);
    out->append(piece, static_cast<size_t>(end - piece));
  }
}

size_t CodePage::WriteUtf8(std::string_view ansi, char* out) const {
  size_t i = 0;
  const char* room_end = out + Utf8Room(ansi.size());
  char* end = ConvertToUtf8(*tables_, reinterpret_cast<const unsigned char*>(ansi.data()),
                            ansi.size(), &i, out, room_end);
  return static_cast<size_t>(end - out);
}

void CodePage::AppendAnsi(std::string_view utf8, std::string* out) const {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  out->reserve(out->size() + n);
  size_t i = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      size_t j = i + 1;
      while (j < n && s[j] < 0x80) ++j;
      out->append(utf8.data() + i, j - i);
      i = j;
      continue;
    }
    uint32_t cp = 0;
    size_t len = Utf8SequenceLength(s + i, n - i, &cp);
    if (len == 0) {
      out->push_back('?');  // every byte of a malformed sequence
      ++i;
      continue;
    }
    i += len;
    uint16_t code = cp < 0x10000 ? tables_->encode[cp] : 0;
    if (cp == 0x20AC) {
      out->push_back('\x80');
    } else if (code != 0) {
      out->push_back(static_cast<char>(code >> 8));
      out->push_back(static_cast<char>(code & 0xFF));
    } else {
      out->push_back('?');
    }
  }
}

}  // namespace qx::platform
