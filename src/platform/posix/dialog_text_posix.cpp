// GBK <-> UTF-8 for the dialogs, with the system's iconv. Not the shared code page
// (code_page.h): the clerk has always seen, and the card library and the center have always
// received, iconv's results, which differ from code page 936 in places: 0xFF and the user-defined
// areas (A140-A7A0, AAA1-AFFE, F8A1-FEFE) show as '?' here, and a typed character that GBK
// cannot hold comes back as one '?' per UTF-8 byte, with no best fit.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "platform/posix/prompt_channel_posix.h"

namespace qx::platform::posix {
namespace {

// Converts with iconv, replacing what cannot be converted by '?' one byte at a time.
std::string Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return std::string(in);
  }
  std::string out;
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char buffer[1024];
  while (src_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    std::size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.push_back('?');
      ++src;
      --src_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string ToDisplay(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }
std::string FromDisplay(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }

}  // namespace qx::platform::posix
