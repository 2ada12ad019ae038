// The interface's own texts, in GBK: the status table and the messages of init_handle.
#ifndef QX_INTERFACE_INTERFACE_TEXTS_H_
#define QX_INTERFACE_INTERFACE_TEXTS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::texts {

// The message of a status code; codes outside the table take the text of their sign.
std::string_view StatusText(int32_t code);

std::string InitFileUnreadable(std::string_view path);  // "初始化配置文件无法打开(<path>)."
std::string_view InitNoServer();                        // "获取初始化配置server失败"
std::string_view InitNoPort();                          // "获取初始化配置port失败"
std::string InitBadPort(std::string_view port);         // "获取初始化配置port失败(<port>)"
std::string_view InitNoServlet();                       // "获取初始化配置servlet失败"
std::string_view InitDone();                            // "初始化成功"
std::string_view LoginNotSupported();                   // "no support."

}  // namespace qx::texts

#endif  // QX_INTERFACE_INTERFACE_TEXTS_H_
