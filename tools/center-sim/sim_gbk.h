// GBK <-> UTF-8 for the simulated center. Its texts are written in UTF-8 and leave as GBK, as a
// real center's do; requests arrive as GBK and are parsed as UTF-8.
#ifndef QX_TOOLS_CENTER_SIM_SIM_GBK_H_
#define QX_TOOLS_CENTER_SIM_SIM_GBK_H_

#include <optional>
#include <string>
#include <string_view>

namespace qx::sim {

// nullopt when the text holds a byte sequence the other side cannot take.
std::optional<std::string> ToGbk(std::string_view utf8);
std::optional<std::string> ToUtf8(std::string_view gbk);

// For the sim's own literals, which are always convertible.
std::string Gbk(std::string_view utf8);

}  // namespace qx::sim

#endif  // QX_TOOLS_CENTER_SIM_SIM_GBK_H_
