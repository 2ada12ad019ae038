// Compiled with -fexec-charset=GBK: every narrow literal below is GBK.
#include "interface/interface_texts.h"

namespace qx::texts {
namespace {

struct Entry {
  int32_t code;
  std::string_view text;
};

// Codes -2, -5 to -7, -102, -104, -105, -107 to -109, -111 to -114, -200 to -211 and -300 belong
// to the table although the interface itself raises none of them; a card outcome may carry them.
constexpr Entry kTable[] = {
    {-2, "没有开始业务调用不能调用运行函数."},
    {-3, "没有初始化接口不能调用运行函数."},
    {-4, "传数据出错,"},
    {-5, "处理IC卡失败！"},
    {-6, "事务未开始，不能输入参数！"},
    {-7, "行号太大，请输入连贯行号！"},
    {-8, "没有入参串"},
    {-100, "行号越界."},
    {-101, "对应行没有数据."},
    {-102, "没有数据项可找."},
    {-103, "错误的数据项名称."},
    {-104, "错误的函数调用--空指针."},
    {-105, "没有此记录集."},
    {-106, "解包时出错."},
    {-107, "打包时出错."},
    {-108, "没有数据！"},
    {-109, "不能增加行！"},
    {-110, "请设置记录集后再增加行！"},
    {-111, "行已到底！"},
    {-112, "找不到对应的记录集名！"},
    {-113, "动态装载ic卡动态库qxic.dll出错！"},
    {-114, "设置记录集时出错."},
    {-115, "入参串中没有FunctionID."},
    {-116, "入参串的FunctionID超过51字节."},
    {-117, "中心连续要求的业务调用超过16层."},
    {-200, "找不到IC卡函数(ICStart)！"},
    {-201, "找不到IC卡函数(ICGet)！"},
    {-202, "找不到IC卡函数(ICPut)！"},
    {-203, "找不到IC卡函数(ICExecute)！"},
    {-204, "找不到IC卡函数(ICReset)！"},
    {-205, "IC卡函数(ICStart)执行出错！"},
    {-206, "IC卡函数(ICGet)执行出错！"},
    {-207, "IC卡函数(ICPut)执行出错！"},
    {-208, "写IC卡出错，IC卡原数据可能已坏！"},
    {-209, "写IC卡出错，IC卡原数据已恢复！"},
    {-210, "IC卡函数(ICReset)执行出错！"},
    {-211, "找不到IC卡函数(ICGeterrMsg)！"},
    {-300, "请先登录!"},
    {-301, "生成带登录信息的调用XML出错!!"},
    {-801, "生成带用户信息的调用XML出错!"},
};

std::string Around(std::string_view before, std::string_view middle, std::string_view after) {
  std::string text;
  text.reserve(before.size() + middle.size() + after.size());
  text.append(before).append(middle).append(after);
  return text;
}

}  // namespace

std::string_view StatusText(int32_t code) {
  for (const Entry& entry : kTable) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return code >= 0 ? "系统处理成功！" : "系统处理出错！";
}

std::string InitFileUnreadable(std::string_view path) {
  return Around("初始化配置文件无法打开(", path, ").");
}
std::string_view InitNoServer() { return "获取初始化配置server失败"; }
std::string_view InitNoPort() { return "获取初始化配置port失败"; }
std::string InitBadPort(std::string_view port) {
  return Around("获取初始化配置port失败(", port, ")");
}
std::string_view InitNoServlet() { return "获取初始化配置servlet失败"; }
std::string_view InitDone() { return "初始化成功"; }
std::string_view LoginNotSupported() { return "no support."; }

}  // namespace qx::texts
