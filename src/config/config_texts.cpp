// Compiled with -fexec-charset=GBK: every narrow literal below is GBK.
#include "config/config_texts.h"

namespace qx::config::texts {
namespace {

std::string Around(std::string_view before, std::string_view middle, std::string_view after) {
  std::string text;
  text.reserve(before.size() + middle.size() + after.size());
  text.append(before).append(middle).append(after);
  return text;
}

}  // namespace

std::string OpenFailed(std::string_view path) {
  return Around("对不起！打开文件 ", path, " 时，出现不可恢复的错误。\n读取文件失败。");
}

std::string NoSection(std::string_view section) {
  return Around("对不起！您需要的关键字<", section, ">没有存在。");
}

std::string NoKey(std::string_view key) { return Around("对不起！您需要的值<", key, ">没有存在。"); }

std::string_view ErrorCaption() { return "错误"; }

}  // namespace qx::config::texts
