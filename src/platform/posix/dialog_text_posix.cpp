// GBK <-> UTF-8 for the dialogs, through the shared code page (code_page.h), so that the clerk
// sees what the Windows build's boxes show through code page 936: 0xFF and the user-defined areas
// as their private-use characters, and a typed character that GBK cannot hold as one '?' (or its
// best fit), as the library would also receive it from a Windows dialog. Without a GBK converter
// on the system the bytes pass as they are.
#include <string>

#include "platform/posix/code_page.h"
#include "platform/posix/prompt_channel_posix.h"

namespace qx::platform::posix {

std::string ToDisplay(std::string_view gbk) {
  try {
    return CodePage().ToUtf8(gbk);
  } catch (const CodePageError&) {
    return std::string(gbk);
  }
}

std::string FromDisplay(std::string_view utf8) {
  try {
    return CodePage().ToAnsi(utf8);
  } catch (const CodePageError&) {
    return std::string(utf8);
  }
}

}  // namespace qx::platform::posix
