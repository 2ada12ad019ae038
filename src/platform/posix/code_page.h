// Conversion between the system's ANSI code page (GBK as Windows code page 936 has it: 0x80 is
// the euro sign, lead bytes 0x81-0xFE) and UTF-8, the characters of the POSIX XML DOM. The
// Win32 DOM converts to UTF-16 with the system's own functions; this class gives the same
// results for UTF-8, the way those functions behave by default:
//  - ANSI -> UTF-8: a byte that starts no valid character (an invalid lead byte, a lead byte
//    whose trail byte is missing or is no trail byte) becomes one '?', and the byte after it is
//    read afresh as the start of the next character; nothing is dropped or cut short. Code page
//    936 defines every lead byte with every trail byte, and 0xFF as U+F8F5.
//  - UTF-8 -> ANSI: a character the code page cannot hold becomes one '?'; so does every byte
//    of a malformed UTF-8 sequence. A character without a code of its own that code page 936
//    writes as a near one ("best fit": U+00B7 as A1A4, U+00AA as 'a') is written so here too.
//  - The user-defined areas of the code page (AAA1-AFFE, F8A1-FEFE, A140-A7A0) cross as the
//    private-use characters U+E000-U+E765, and 255 more codes (A2AB to FEA0) as U+E766-U+E864,
//    as code page 936 maps them, in both directions.
//
// The conversion runs over tables built from the system's GBK converter when the first object
// is made (a few milliseconds, once per process) and shared, read-only, by every object; objects
// are cheap and may be used from any number of threads at once. Construction throws
// CodePageError when the system has no GBK converter.
#ifndef QX_PLATFORM_POSIX_CODE_PAGE_H_
#define QX_PLATFORM_POSIX_CODE_PAGE_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qx::platform {

class CodePageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CodePage {
 public:
  CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  // ANSI bytes -> UTF-8. Appends to *out.
  void AppendUtf8(std::string_view ansi, std::string* out) const;
  // ANSI bytes -> UTF-8 into out, which has room for Utf8Room(ansi.size()) bytes; returns the
  // number of bytes written (no terminating zero).
  std::size_t WriteUtf8(std::string_view ansi, char* out) const;
  // The most bytes WriteUtf8 may need for `ansi_bytes` bytes (3 per byte, and some slack).
  static constexpr std::size_t Utf8Room(std::size_t ansi_bytes) { return 3 * ansi_bytes + 8; }
  // UTF-8 -> ANSI bytes. Appends to *out.
  void AppendAnsi(std::string_view utf8, std::string* out) const;

  std::string ToUtf8(std::string_view ansi) const {
    std::string out;
    AppendUtf8(ansi, &out);
    return out;
  }
  std::string ToAnsi(std::string_view utf8) const {
    std::string out;
    AppendAnsi(utf8, &out);
    return out;
  }

 public:
  struct Tables;

 private:
  static const Tables& SharedTables();

  const Tables* tables_;
};

}  // namespace qx::platform

#endif  // QX_PLATFORM_POSIX_CODE_PAGE_H_
