#include "sim_gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qx::sim {
namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return std::nullopt;
  }
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  size_t used = 0;
  bool ok = true;
  while (src_left > 0) {
    char* dst = out.data() + used;
    size_t dst_left = out.size() - used;
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    used = out.size() - dst_left;
    if (rc != static_cast<size_t>(-1)) {
      break;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ok = false;
    break;
  }
  iconv_close(cd);
  if (!ok) {
    return std::nullopt;
  }
  out.resize(used);
  return out;
}

}  // namespace

std::optional<std::string> ToGbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }
std::optional<std::string> ToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }

std::string Gbk(std::string_view utf8) {
  std::optional<std::string> gbk = ToGbk(utf8);
  if (!gbk) {
    std::fprintf(stderr, "qx-center-sim: text not convertible to GBK\n");
    std::abort();
  }
  return *gbk;
}

}  // namespace qx::sim
