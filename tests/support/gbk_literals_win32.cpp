// support/gbk.h on Windows: UTF-8 -> UTF-16 -> code page 936 through the system's own tables,
// independent of the ANSI code page the test runs under and of how the library makes its bytes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/gbk.h"

namespace qx::test {
namespace {

constexpr UINT kGbk = 936;

std::wstring Wide(UINT code_page, std::string_view in, DWORD flags) {
  if (in.empty()) {
    return std::wstring();
  }
  int n = MultiByteToWideChar(code_page, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) {
    std::fprintf(stderr, "test literal not convertible from code page %u\n", code_page);
    std::abort();
  }
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, flags, in.data(), static_cast<int>(in.size()), out.data(), n);
  return out;
}

std::string Narrow(UINT code_page, const std::wstring& in) {
  if (in.empty()) {
    return std::string();
  }
  BOOL used_default = FALSE;
  BOOL* check = code_page == CP_UTF8 ? nullptr : &used_default;
  DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), nullptr, 0,
                              nullptr, check);
  if (n <= 0 || used_default) {
    std::fprintf(stderr, "test literal not convertible to code page %u\n", code_page);
    std::abort();
  }
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

}  // namespace

std::string Gbk(std::string_view utf8) {
  return Narrow(kGbk, Wide(CP_UTF8, utf8, MB_ERR_INVALID_CHARS));
}
std::string Gbk(std::u8string_view utf8) {
  return Gbk(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}
std::string Utf8(std::string_view gbk) { return Narrow(CP_UTF8, Wide(kGbk, gbk, 0)); }

}  // namespace qx::test
