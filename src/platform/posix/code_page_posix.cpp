// GBK <-> UTF-8 with glibc iconv, made to behave like the Windows conversion functions.
//
// Quirks handled here:
//  - glibc iconv stops at the first byte it cannot convert (EILSEQ, or EINVAL for a lead byte at
//    the end of the input), where Windows puts '?' for that one byte and carries on with the
//    next. So the conversion runs in a loop: iconv converts as far as it can, the byte or
//    character it stopped at is handled by hand, and iconv resumes right after it.
//  - glibc's GBK rejects the user-defined areas that code page 936 maps to private-use
//    characters; glibc's GB18030 maps them the same way code page 936 does, so those pairs (and
//    only those) are converted through GB18030.
//  - ASCII passes straight through without iconv: messages are mostly ASCII markup, and the
//    per-call cost of iconv would dominate otherwise.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace qx::platform {
namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

iconv_t Open(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == kNoDescriptor) {
    throw CodePageError(std::string("iconv_open from ") + from + " to " + to + " failed");
  }
  return cd;
}

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

}  // namespace

struct CodePage::Descriptors {
  iconv_t gbk_to_utf8 = kNoDescriptor;
  iconv_t utf8_to_gbk = kNoDescriptor;
  iconv_t gb18030_to_utf8 = kNoDescriptor;  // opened when first needed
  iconv_t utf8_to_gb18030 = kNoDescriptor;

  ~Descriptors() {
    for (iconv_t cd : {gbk_to_utf8, utf8_to_gbk, gb18030_to_utf8, utf8_to_gb18030}) {
      if (cd != kNoDescriptor) iconv_close(cd);
    }
  }
};

namespace {

// Runs cd over in[*pos, end), appending to *out. Stops at the first byte it cannot convert and
// leaves *pos there; returns true when it converted everything.
bool ConvertRun(iconv_t cd, std::string_view in, size_t* pos, size_t end, size_t growth,
                std::string* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(in.data() + *pos);
  size_t src_left = end - *pos;
  for (;;) {
    size_t old_size = out->size();
    size_t room = src_left * growth + 8;
    out->resize(old_size + room);
    char* dst = out->data() + old_size;
    size_t dst_left = room;
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    int error = errno;
    out->resize(out->size() - dst_left);
    *pos = static_cast<size_t>(src - in.data());
    if (rc != static_cast<size_t>(-1)) return true;
    if (error != E2BIG) return false;
  }
}

// Converts exactly one character in[0..n) with cd; false when cd refuses it.
bool ConvertOne(iconv_t cd, const char* in, size_t n, std::string* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char buffer[8];
  char* src = const_cast<char*>(in);
  size_t src_left = n;
  char* dst = buffer;
  size_t dst_left = sizeof buffer;
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) || src_left != 0) {
    return false;
  }
  out->append(buffer, sizeof buffer - dst_left);
  return true;
}

}  // namespace

CodePage::CodePage() : descriptors_(std::make_unique<Descriptors>()) {
  descriptors_->gbk_to_utf8 = Open("UTF-8", "GBK");
  descriptors_->utf8_to_gbk = Open("GBK", "UTF-8");
}

CodePage::~CodePage() = default;

void CodePage::AppendUtf8(std::string_view ansi, std::string* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(ansi.data());
  const size_t n = ansi.size();
  out->reserve(out->size() + n + n / 2);
  size_t i = 0;

  // One character at i the hard way; returns the bytes it took (at least 1).
  auto decode_one = [&](size_t at) -> size_t {
    unsigned char b = s[at];
    if (b < 0x80) {
      out->push_back(static_cast<char>(b));
      return 1;
    }
    if (b == 0x80) {
      out->append("\xE2\x82\xAC");  // the euro sign
      return 1;
    }
    if (IsLead(b) && at + 1 < n && IsTrail(s[at + 1])) {
      if (ConvertOne(descriptors_->gbk_to_utf8, ansi.data() + at, 2, out)) return 2;
      if (IsUserDefinedPair(b, s[at + 1])) {
        if (descriptors_->gb18030_to_utf8 == kNoDescriptor) {
          descriptors_->gb18030_to_utf8 = Open("UTF-8", "GB18030");
        }
        if (ConvertOne(descriptors_->gb18030_to_utf8, ansi.data() + at, 2, out)) return 2;
      }
    }
    out->push_back('?');
    return 1;
  };

  while (i < n) {
    if (s[i] < 0x80) {
      size_t j = i;
      while (j < n && s[j] < 0x80) ++j;
      out->append(ansi.data() + i, j - i);
      i = j;
      continue;
    }
    // A run of well-formed pairs goes to iconv in one call.
    size_t j = i;
    while (j + 1 < n && IsLead(s[j]) && IsTrail(s[j + 1])) j += 2;
    while (i < j) {
      if (ConvertRun(descriptors_->gbk_to_utf8, ansi, &i, j, 2, out)) break;
      i += decode_one(i);
    }
    if (i == j && i < n && s[i] >= 0x80) i += decode_one(i);
  }
}

void CodePage::AppendAnsi(std::string_view utf8, std::string* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  out->reserve(out->size() + n);
  size_t i = 0;

  auto encode_one = [&](size_t at) -> size_t {
    uint32_t cp = 0;
    size_t len = Utf8SequenceLength(s + at, n - at, &cp);
    if (len == 0) {
      out->push_back('?');
      return 1;
    }
    if (ConvertOne(descriptors_->utf8_to_gbk, utf8.data() + at, len, out)) return len;
    if (cp >= 0xE000 && cp <= 0xE765) {
      if (descriptors_->utf8_to_gb18030 == kNoDescriptor) {
        descriptors_->utf8_to_gb18030 = Open("GB18030", "UTF-8");
      }
      size_t before = out->size();
      if (ConvertOne(descriptors_->utf8_to_gb18030, utf8.data() + at, len, out)) {
        size_t produced = out->size() - before;
        if (produced == 2 && IsUserDefinedPair(static_cast<unsigned char>((*out)[before]),
                                               static_cast<unsigned char>((*out)[before + 1]))) {
          return len;
        }
        out->resize(before);
      }
    }
    out->push_back('?');
    return len;
  };

  while (i < n) {
    if (s[i] < 0x80) {
      size_t j = i;
      while (j < n && s[j] < 0x80) ++j;
      out->append(utf8.data() + i, j - i);
      i = j;
      continue;
    }
    size_t j = i;
    while (j < n && s[j] >= 0x80) ++j;
    while (i < j) {
      if (ConvertRun(descriptors_->utf8_to_gbk, utf8, &i, j, 1, out)) break;
      i += encode_one(i);
    }
  }
}

}  // namespace qx::platform
