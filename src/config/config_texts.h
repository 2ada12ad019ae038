// The configuration store's own texts, in GBK.
#ifndef QX_CONFIG_CONFIG_TEXTS_H_
#define QX_CONFIG_CONFIG_TEXTS_H_

#include <string>
#include <string_view>

namespace qx::config::texts {

// "对不起！打开文件 <path> 时，出现不可恢复的错误。\n读取文件失败。"
std::string OpenFailed(std::string_view path);
// "对不起！您需要的关键字<section>没有存在。"
std::string NoSection(std::string_view section);
// "对不起！您需要的值<key>没有存在。"
std::string NoKey(std::string_view key);
// Caption of the box shown when the file cannot be opened: "错误".
std::string_view ErrorCaption();

}  // namespace qx::config::texts

#endif  // QX_CONFIG_CONFIG_TEXTS_H_
