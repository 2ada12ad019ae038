// Texts shared by the Win32 files: the system's description of an error code, and the ANSI code
// page conversions (the only place the library turns bytes into UTF-16 and back).
//
// Quirks handled here:
//  - WinInet's errors (12000 and up) are not in the system message table but in wininet.dll's
//    own; FormatMessageA is asked with both sources, the module first.
//  - FormatMessageA ends its texts with CR LF (and a period); the line end is dropped so that the
//    text can stand in a message box or a one-line reply.
//  - The buffer is fixed at 1024 bytes, so a description never exceeds 1023 bytes.
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/win32/default_parts.h"

namespace qx::platform::win32 {

std::string SystemErrorText(uint32_t code) {
  char buffer[1024] = {};
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE source = nullptr;
  if (code >= 12000 && code < 13000) {
    source = GetModuleHandleA("wininet.dll");
    if (source != nullptr) {
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
  }
  DWORD length = FormatMessageA(flags, source, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                buffer, sizeof buffer, nullptr);
  std::string text(buffer, length < sizeof buffer ? length : sizeof buffer - 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    text = "error " + std::to_string(code);
  }
  return text;
}

std::wstring AnsiToWide(std::string_view text) {
  if (text.empty()) {
    return std::wstring();
  }
  int size = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (needed <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), needed);
  return wide;
}

std::string WideToAnsi(std::wstring_view text) {
  if (text.empty()) {
    return std::string();
  }
  int size = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return std::string();
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

}  // namespace qx::platform::win32
