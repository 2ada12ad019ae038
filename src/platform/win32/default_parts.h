// The Win32 implementations behind DefaultEnv() (declared in platform/default_parts.h), and the
// few helpers the Win32 files share.
#ifndef QX_PLATFORM_WIN32_DEFAULT_PARTS_H_
#define QX_PLATFORM_WIN32_DEFAULT_PARTS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/default_parts.h"

namespace qx::platform::win32 {

// The system's text for an error code (FormatMessageA, the user's default language, at most
// 1023 bytes, without the trailing line end). Codes of the internet API (12000 to 12999) are
// looked up in wininet.dll's message table first. Never empty: an unknown code gives
// "error <code>".
std::string SystemErrorText(uint32_t code);

// True when the DLL runs under Wine (ntdll exports wine_get_version): the few places where Wine's
// components are worked around ask this.
bool UnderWine();

// ANSI code page <-> UTF-16, over the whole text (embedded zero bytes included).
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

}  // namespace qx::platform::win32

#endif  // QX_PLATFORM_WIN32_DEFAULT_PARTS_H_
