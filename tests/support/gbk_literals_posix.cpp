#include <iconv.h>

#include <cstdio>
#include <cstdlib>

#include "support/gbk.h"

namespace qx::test {
namespace {

std::string Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::perror("iconv_open");
    std::abort();
  }
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
    std::fprintf(stderr, "test literal not convertible from %s to %s\n", from, to);
    std::abort();
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

}  // namespace

std::string Gbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }
std::string Gbk(std::u8string_view utf8) {
  return Convert("GBK", "UTF-8",
                 std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}
std::string Utf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }

}  // namespace qx::test
