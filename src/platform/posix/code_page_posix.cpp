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
//  - The euro sign is the single byte 0x80, as in code page 936, and 0xFF is U+F8F5.
//  - Code page 936 gives 255 GBK codes that glibc's GBK refuses (A2AB-A2B0, ..., FE50-FE7E,
//    FE80-FEA0) the private-use characters U+E766-U+E864, in both directions; glibc's GB18030
//    maps only some of them so, and others to characters of later standards. They are listed
//    below as runs.
//  - From UTF-16, code page 936 also writes characters it has no code of their own for as a
//    near one ("best fit": U+00B7 as A1A4, U+F900 as the ideograph it is compatible with,
//    U+00AA as 'a'). The list below holds them. Both lists were read off the system's
//    MultiByteToWideChar / WideCharToMultiByte for code page 936 with
//    tests/code_page/code_page_dump_win32.c; the Windows suite compares that program's output
//    with this code page's, entry for entry.
// The tables are built under the C++ static-initialisation guard and never change afterwards,
// so any number of threads may convert at once.
#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/gbk_text.h"
#include "platform/posix/code_page.h"

namespace qx::platform {
namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

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

struct PrivateUseRun {
  uint16_t character;
  uint16_t code;
  uint16_t length;
};
struct BestFit {
  uint16_t character;
  uint16_t code;
};

// Private-use characters U+E766-U+E864: runs of (first character, first code, length).
constexpr PrivateUseRun kPrivateUseRuns[] = {
    {0xE766, 0xA2AB, 6},  {0xE76C, 0xA2E3, 2},  {0xE76E, 0xA2EF, 2},  {0xE770, 0xA2FD, 2},
    {0xE772, 0xA4F4, 11}, {0xE77D, 0xA5F7, 8},  {0xE785, 0xA6B9, 8},  {0xE78D, 0xA6D9, 7},
    {0xE794, 0xA6EC, 2},  {0xE796, 0xA6F3, 1},  {0xE797, 0xA6F6, 9},  {0xE7A0, 0xA7C2, 15},
    {0xE7AF, 0xA7F2, 13}, {0xE7BC, 0xA896, 11}, {0xE7C7, 0xA8BC, 1},  {0xE7C8, 0xA8BF, 1},
    {0xE7C9, 0xA8C1, 4},  {0xE7CD, 0xA8EA, 21}, {0xE7E2, 0xA958, 1},  {0xE7E3, 0xA95B, 1},
    {0xE7E4, 0xA95D, 3},  {0xE7E7, 0xA989, 13}, {0xE7F4, 0xA997, 13}, {0xE801, 0xA9F0, 15},
    {0xE810, 0xD7FA, 5},  {0xE815, 0xFE50, 47}, {0xE844, 0xFE80, 33},
};
// Best-fit characters: (character, code); a code below 0x100 is one byte.
constexpr BestFit kBestFit[] = {
    {0x00A2, 0xA1E9}, {0x00A3, 0xA1EA}, {0x00A5, 0xA3A4}, {0x00A6, 0x007C}, {0x00AA, 0x0061},
    {0x00AD, 0x002D}, {0x00AF, 0xA1A5}, {0x00B2, 0x0032}, {0x00B3, 0x0033}, {0x00B4, 0xA1E4},
    {0x00B5, 0xA6CC}, {0x00B9, 0x0031}, {0x00BA, 0x006F}, {0x00C0, 0xA8A4}, {0x00C1, 0xA8A2},
    {0x00C8, 0xA8A8}, {0x00C9, 0xA8A6}, {0x00CA, 0xA8BA}, {0x00CC, 0xA8AC}, {0x00CD, 0xA8AA},
    {0x00D0, 0x0044}, {0x00D2, 0xA8B0}, {0x00D3, 0xA8AE}, {0x00D9, 0xA8B4}, {0x00DA, 0xA8B2},
    {0x00DC, 0xA8B9}, {0x00DD, 0x0059}, {0x00DE, 0x0054}, {0x00E2, 0x0061}, {0x00F0, 0x0065},
    {0x00FD, 0x0079}, {0x00FE, 0x0074}, {0x0100, 0xA8A1}, {0x0112, 0xA8A5}, {0x011A, 0xA8A7},
    {0x012A, 0xA8A9}, {0x014C, 0xA8AD}, {0x016A, 0xA8B1}, {0x01C1, 0xA1CE}, {0x01CD, 0xA8A3},
    {0x01CF, 0xA8AB}, {0x01D1, 0xA8AF}, {0x01D3, 0xA8B3}, {0x01D5, 0xA8B5}, {0x01D7, 0xA8B6},
    {0x01D9, 0xA8B7}, {0x01DB, 0xA8B8}, {0x203E, 0xA3FE}, {0x2218, 0xA1E3}, {0x223C, 0xA1AB},
    {0x3192, 0xD2BB}, {0x3193, 0xB6FE}, {0x3194, 0xC8FD}, {0x3195, 0xCBC4}, {0x3196, 0xC9CF},
    {0x3197, 0xD6D0}, {0x3198, 0xCFC2}, {0x3199, 0xBCD7}, {0x319A, 0xD2D2}, {0x319B, 0xB1FB},
    {0x319C, 0xB6A1}, {0x319D, 0xCCEC}, {0x319E, 0xB5D8}, {0x319F, 0xC8CB}, {0x322A, 0xD4C2},
    {0x322B, 0xBBF0}, {0x322C, 0xCBAE}, {0x322D, 0xC4BE}, {0x322E, 0xBDF0}, {0x322F, 0xCDC1},
    {0x3230, 0xC8D5}, {0x3232, 0xD3D0}, {0x3233, 0xC9E7}, {0x3234, 0xC3FB}, {0x3235, 0xCCD8},
    {0x3236, 0xB2C6}, {0x3237, 0xD7A3}, {0x3238, 0xC0CD}, {0x3239, 0xB4FA}, {0x323A, 0xBAF4},
    {0x323B, 0xD1A7}, {0x323C, 0xBCE0}, {0x323D, 0xC6F3}, {0x323E, 0xD7CA}, {0x323F, 0xD0AD},
    {0x3240, 0xBCC0}, {0x3241, 0xD0DD}, {0x3242, 0xD7D4}, {0x3243, 0xD6C1}, {0x3280, 0xD2BB},
    {0x3281, 0xB6FE}, {0x3282, 0xC8FD}, {0x3283, 0xCBC4}, {0x3284, 0xCEE5}, {0x3285, 0xC1F9},
    {0x3286, 0xC6DF}, {0x3287, 0xB0CB}, {0x3288, 0xBEC5}, {0x3289, 0xCAAE}, {0x328A, 0xD4C2},
    {0x328B, 0xBBF0}, {0x328C, 0xCBAE}, {0x328D, 0xC4BE}, {0x328E, 0xBDF0}, {0x328F, 0xCDC1},
    {0x3290, 0xC8D5}, {0x3291, 0xD6EA}, {0x3292, 0xD3D0}, {0x3293, 0xC9E7}, {0x3294, 0xC3FB},
    {0x3295, 0xCCD8}, {0x3296, 0xB2C6}, {0x3297, 0xD7A3}, {0x3298, 0xC0CD}, {0x3299, 0xC3D8},
    {0x329A, 0xC4D0}, {0x329B, 0xC5AE}, {0x329C, 0xCACA}, {0x329D, 0xD3C5}, {0x329F, 0xD7A2},
    {0x32A0, 0xCFEE}, {0x32A1, 0xD0DD}, {0x32A2, 0xD0B4}, {0x32A9, 0xD2BD}, {0x32AA, 0xD7DA},
    {0x32AB, 0xD1A7}, {0x32AC, 0xBCE0}, {0x32AD, 0xC6F3}, {0x32AE, 0xD7CA}, {0x32AF, 0xD0AD},
    {0x32B0, 0xD2B9}, {0xF900, 0xD84D}, {0xF901, 0xB8FC}, {0xF902, 0xDC87}, {0xF903, 0xD95A},
    {0xF904, 0xBBAC}, {0xF905, 0xB4AE}, {0xF906, 0xBEE4}, {0xF907, 0xFD94}, {0xF908, 0xFD94},
    {0xF909, 0xC6F5}, {0xF90A, 0xBDF0}, {0xF90B, 0xC0AE}, {0xF90C, 0xC4CE}, {0xF90D, 0x91D0},
    {0xF90E, 0xB05D}, {0xF90F, 0xC15F}, {0xF910, 0xCC7D}, {0xF911, 0xC2DD}, {0xF912, 0xC2E3},
    {0xF913, 0xDF89}, {0xF914, 0x98B7}, {0xF915, 0xC2E5}, {0xF916, 0xC0D3}, {0xF917, 0xE7F3},
    {0xF918, 0xC2E4}, {0xF919, 0xC0D2}, {0xF91A, 0xF198}, {0xF91B, 0x8179}, {0xF91C, 0xC2D1},
    {0xF91D, 0x99DA}, {0xF91E, 0xA080}, {0xF91F, 0xCC6D}, {0xF920, 0xFB5B}, {0xF921, 0x8DB9},
    {0xF922, 0x9E45}, {0xF923, 0xCB7B}, {0xF924, 0xD268}, {0xF925, 0xC0AD}, {0xF926, 0xC544},
    {0xF927, 0xCF9E}, {0xF928, 0xC0C8}, {0xF929, 0xC0CA}, {0xF92A, 0xC0CB}, {0xF92B, 0xC0C7},
    {0xF92D, 0x81ED}, {0xF92E, 0xC0E4}, {0xF92F, 0x84DA}, {0xF930, 0x93EF}, {0xF931, 0x99A9},
    {0xF932, 0xA074}, {0xF933, 0xB152}, {0xF934, 0xC0CF}, {0xF935, 0xCC4A}, {0xF936, 0xCC94},
    {0xF937, 0xC2B7}, {0xF938, 0xC2B6}, {0xF939, 0xF494}, {0xF93A, 0xFA98}, {0xF93B, 0xC2B5},
    {0xF93C, 0xB593}, {0xF93D, 0xBE47}, {0xF93E, 0xC78A}, {0xF93F, 0xE49B}, {0xF940, 0xC2B9},
    {0xF941, 0xD593}, {0xF942, 0x89C5}, {0xF943, 0xC5AA}, {0xF944, 0xBB5C}, {0xF945, 0xC340},
    {0xF946, 0xC0CE}, {0xF947, 0xC0DA}, {0xF948, 0xD954}, {0xF949, 0xC0D7}, {0xF94A, 0x89BE},
    {0xF94B, 0x8CD2}, {0xF94C, 0x98C7}, {0xF94D, 0x9C49}, {0xF94E, 0xC2A9}, {0xF94F, 0xC0DB},
    {0xF950, 0xBF7C}, {0xF951, 0xC2AA}, {0xF952, 0xC0D5}, {0xF953, 0xC0DF}, {0xF954, 0x8443},
    {0xF955, 0xC1E8}, {0xF956, 0xB6A0}, {0xF957, 0xBE63}, {0xF958, 0xC1E2}, {0xF959, 0xC1EA},
    {0xF95A, 0xD778}, {0xF95B, 0x9282}, {0xF95C, 0x98B7}, {0xF95D, 0xD65A}, {0xF95E, 0xB5A4},
    {0xF95F, 0x8C8E}, {0xF960, 0xC5AD}, {0xF961, 0xC2CA}, {0xF962, 0xAE90}, {0xF963, 0xB1B1},
    {0xF964, 0xB491}, {0xF965, 0xB1E3}, {0xF966, 0x8FCD}, {0xF967, 0xB2BB}, {0xF968, 0xC3DA},
    {0xF969, 0x94B5}, {0xF96A, 0xCBF7}, {0xF96B, 0x85A2}, {0xF96C, 0xC8FB}, {0xF96D, 0xCAA1},
    {0xF96E, 0xC87E}, {0xF96F, 0xD566}, {0xF970, 0x9AA2}, {0xF971, 0xB3BD}, {0xF972, 0xC9F2},
    {0xF973, 0xCAB0}, {0xF974, 0xC8F4}, {0xF975, 0xC2D3}, {0xF976, 0xC2D4}, {0xF977, 0xC1C1},
    {0xF978, 0x83C9}, {0xF97A, 0xC1BA}, {0xF97B, 0xBC5A}, {0xF97C, 0xC1BC}, {0xF97D, 0xD58F},
    {0xF97E, 0xC1BF}, {0xF97F, 0x84EE}, {0xF980, 0x85CE}, {0xF981, 0xC5AE}, {0xF982, 0x8F5D},
    {0xF983, 0xC2C3}, {0xF984, 0x9E56}, {0xF985, 0xB55A}, {0xF986, 0xE982}, {0xF987, 0xF350},
    {0xF988, 0xFB90}, {0xF989, 0xC0E8}, {0xF98A, 0xC1A6}, {0xF98B, 0x95D1}, {0xF98C, 0x9A76},
    {0xF98D, 0xDE5D}, {0xF98E, 0xC4EA}, {0xF98F, 0x917A}, {0xF990, 0x91D9}, {0xF991, 0x93D3},
    {0xF992, 0x9D69}, {0xF993, 0x9F92}, {0xF994, 0xAD49}, {0xF996, 0xBE9A}, {0xF997, 0xC293},
    {0xF998, 0xDD82}, {0xF999, 0xC98F}, {0xF99A, 0xDF42}, {0xF99B, 0xE580}, {0xF99C, 0xC1D0},
    {0xF99D, 0xC1D3}, {0xF99E, 0xD1CA}, {0xF99F, 0xC1D2}, {0xF9A0, 0xC1D1}, {0xF9A1, 0xD566},
    {0xF9A2, 0xC1AE}, {0xF9A3, 0xC4EE}, {0xF9A4, 0xC4ED}, {0xF9A5, 0x9A9A}, {0xF9A6, 0xBA9F},
    {0xF9A7, 0xAB43}, {0xF9A8, 0xC1EE}, {0xF9A9, 0xE0F2}, {0xF9AA, 0x8C8E}, {0xF9AB, 0x8E58},
    {0xF9AC, 0xC1AF}, {0xF9AD, 0xC1E1}, {0xF9AE, 0xAC93}, {0xF9AF, 0xC1E7}, {0xF9B0, 0xF1F6},
    {0xF9B1, 0xE28F}, {0xF9B2, 0xC1E3}, {0xF9B3, 0xEC60}, {0xF9B4, 0xEE49}, {0xF9B5, 0xC0FD},
    {0xF9B6, 0xB659}, {0xF9B7, 0xF5B7}, {0xF9B8, 0xEB60}, {0xF9B9, 0x90BA}, {0xF9BA, 0xC1CB},
    {0xF9BB, 0xC1C5}, {0xF9BC, 0xE5BC}, {0xF9BD, 0xC4F2}, {0xF9BE, 0xC1CF}, {0xF9BF, 0x98B7},
    {0xF9C0, 0xC1C7}, {0xF9C1, 0xAF9F}, {0xF9C2, 0xDEA4}, {0xF9C3, 0xDF7C}, {0xF9C4, 0xFD88},
    {0xF9C5, 0x959E}, {0xF9C6, 0xC8EE}, {0xF9C7, 0x84A2}, {0xF9C8, 0x9683}, {0xF9C9, 0xC1F8},
    {0xF9CA, 0xC1F7}, {0xF9CB, 0xC1EF}, {0xF9CC, 0xC1F0}, {0xF9CD, 0xC1F4}, {0xF9CE, 0xC1F2},
    {0xF9CF, 0xBC7E}, {0xF9D0, 0xEE90}, {0xF9D1, 0xC1F9}, {0xF9D2, 0xC2BE}, {0xF9D3, 0xEA91},
    {0xF9D4, 0x8290}, {0xF9D5, 0x8D91}, {0xF9D6, 0x9C53}, {0xF9D7, 0xDD86}, {0xF9D8, 0xC2C9},
    {0xF9D9, 0x90FC}, {0xF9DA, 0xC0F5}, {0xF9DB, 0xC2CA}, {0xF9DC, 0xC2A1}, {0xF9DD, 0xC0FB},
    {0xF9DE, 0xC0F4}, {0xF9DF, 0xC2C4}, {0xF9E0, 0xD2D7}, {0xF9E1, 0xC0EE}, {0xF9E2, 0xC0E6},
    {0xF9E3, 0xC4E0}, {0xF9E4, 0xC0ED}, {0xF9E5, 0xC1A1}, {0xF9E6, 0xEEBE}, {0xF9E8, 0xD165},
    {0xF9E9, 0xC0EF}, {0xF9EA, 0xEB78}, {0xF9EB, 0xC4E4}, {0xF9EC, 0xC4E7}, {0xF9ED, 0xC1DF},
    {0xF9EE, 0x9FFB}, {0xF9EF, 0xAD55}, {0xF9F0, 0xCC41}, {0xF9F2, 0xF75B}, {0xF9F3, 0xF7EB},
    {0xF9F4, 0xC1D6}, {0xF9F5, 0xC1DC}, {0xF9F6, 0xC552}, {0xF9F7, 0xC1A2}, {0xF9F8, 0xF3D2},
    {0xF9F9, 0xC1A3}, {0xF9FA, 0xA0EE}, {0xF9FB, 0xD6CB}, {0xF9FC, 0xD752}, {0xF9FD, 0xCAB2},
    {0xF9FE, 0xB2E8}, {0xF9FF, 0xB4CC}, {0xFA00, 0xC7D0}, {0xFA01, 0xB6C8}, {0xFA02, 0xCDD8},
    {0xFA03, 0xCCC7}, {0xFA04, 0xD5AC}, {0xFA05, 0xB6B4}, {0xFA06, 0xB1A9}, {0xFA07, 0xDD97},
    {0xFA08, 0xD0D0}, {0xFA09, 0xBDB5}, {0xFA0A, 0xD28A}, {0xFA0B, 0xC0AA}, {0xFA10, 0x8956},
    {0xFA12, 0xC7E7}, {0xFA15, 0x8444}, {0xFA16, 0xD869}, {0xFA17, 0xD2E6}, {0xFA19, 0xC9F1},
    {0xFA1A, 0xCFE9}, {0xFA1B, 0xB8A3}, {0xFA1C, 0xBEB8}, {0xFA1D, 0xBEAB}, {0xFA1E, 0xD3F0},
    {0xFA22, 0xD654}, {0xFA25, 0xD2DD}, {0xFA26, 0xB6BC}, {0xFA2A, 0xEF88}, {0xFA2B, 0xEF95},
    {0xFA2C, 0xF05E}, {0xFA2D, 0xFA51},
};

constexpr uint16_t kPrivateUseFF = 0xF8F5;

}  // namespace

// decode: (lead - 0x81) * 256 + trail -> BMP code point, 0 for none.
// encode: BMP code point -> lead << 8 | trail, or a single byte below 0x100; 0 for none.
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
      if (!IsGbkTrail(static_cast<unsigned char>(trail))) continue;
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
  for (const PrivateUseRun& run : kPrivateUseRuns) {
    for (uint16_t k = 0; k < run.length; ++k) {
      const uint16_t code = static_cast<uint16_t>(run.code + k);
      tables->decode[((code >> 8) - 0x81) * 256 + (code & 0xFF)] =
          static_cast<uint16_t>(run.character + k);
      tables->encode[run.character + k] = code;
    }
  }
  tables->encode[kPrivateUseFF] = 0xFF;
  for (const BestFit& fit : kBestFit) {
    if (tables->encode[fit.character] == 0) tables->encode[fit.character] = fit.code;
  }
  return tables;
}

}  // namespace

const CodePage::Tables& CodePage::SharedTables() {
  static const std::unique_ptr<Tables> tables = BuildTables();
  return *tables;
}

CodePage::CodePage() : tables_(&SharedTables()) {}

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
      // The rest of the run (markup between characters is short) a byte at a time.
      while (i < n && s[i] < 0x80 && out < out_end) {
        *out++ = static_cast<char>(s[i++]);
      }
      continue;
    }
    // A lead byte with a trail byte that forms a character with it (the table holds 0 for
    // every pair that does not, an invalid trail byte included).
    uint32_t cp = IsGbkLead(b) && i + 1 < n ? decode[(b - 0x81) * 256 + s[i + 1]] : 0;
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
    } else if (b == 0xFF) {
      std::memcpy(out, "\xEF\xA3\xB5", 3);  // U+F8F5
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

// The length of the run of ASCII bytes text begins with, eight bytes at a time.
size_t LeadingAscii(std::string_view text) {
  size_t i = 0;
  for (uint64_t word = 0; i + 8 <= text.size(); i += 8) {
    std::memcpy(&word, text.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

void AppendConverted(const CodePage::Tables& tables, std::string_view ansi, std::string* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(ansi.data());
  const size_t n = ansi.size();
  out->reserve(out->size() + n + n / 2);
  // Written through a small buffer on the stack and appended a piece at a time: one capacity
  // check per piece instead of one per byte.
  constexpr size_t kPiece = 16384;
  char piece[kPiece];
  size_t i = 0;
  while (i < n) {
    char* end = ConvertToUtf8(tables, s, n, &i, piece, piece + kPiece);
    out->append(piece, static_cast<size_t>(end - piece));
  }
}

}  // namespace

void CodePage::AppendUtf8(std::string_view ansi, std::string* out) const {
  // ASCII stands as it is in UTF-8: the run a text begins with (all of a text of markup and
  // plain names) is appended whole, and only the rest, from a byte of 0x80 or more, converted.
  const size_t ascii = LeadingAscii(ansi);
  out->append(ansi.substr(0, ascii));
  if (ascii < ansi.size()) AppendConverted(*tables_, ansi.substr(ascii), out);
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
    } else if (code >= 0x100) {
      out->push_back(static_cast<char>(code >> 8));
      out->push_back(static_cast<char>(code & 0xFF));
    } else if (code != 0) {
      out->push_back(static_cast<char>(code));
    } else {
      out->push_back('?');
    }
  }
}

}  // namespace qx::platform
