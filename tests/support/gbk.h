// Tests write the system's Chinese texts in UTF-8 and compare bytes against their GBK encoding,
// converted here by iconv once per literal, independent of how the library produces its bytes.
#ifndef QX_TESTS_SUPPORT_GBK_H_
#define QX_TESTS_SUPPORT_GBK_H_

#include <string>
#include <string_view>

namespace qx::test {

// UTF-8 -> GBK bytes; aborts the test program on a text GBK cannot hold.
std::string Gbk(std::string_view utf8);
std::string Gbk(std::u8string_view utf8);  // for u8"..." literals

// GBK bytes -> UTF-8, for readable failure messages.
std::string Utf8(std::string_view gbk);

}  // namespace qx::test

#endif  // QX_TESTS_SUPPORT_GBK_H_
