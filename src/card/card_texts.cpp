// Compiled with -fexec-charset=GBK: every narrow literal below is GBK bytes.
#include "card/card_texts.h"

namespace qx::card {

std::string_view CardStatusText(int32_t code) {
  switch (code) {
    case -401:
      return "读卡时用户口令校验失败。";
    case -306:
      return "写卡时发现个人帐户已透支。";
    case -305:
      return "写卡时发现卡号不一致。";
    case -211:
      return "找不到IC卡函数(ICGeterrMsg)！";
    case -210:
      return "IC卡函数(ICReset)执行出错！";
    case -209:
      return "写IC卡出错，IC卡原数据已恢复！";
    case -208:
      return "写IC卡出错，IC卡原数据可能已坏！";
    case -207:
      return "IC卡函数(ICPut)执行出错！";
    case -206:
      return "IC卡函数(ICGet)执行出错！";
    case -205:
      return "IC卡函数(ICStart)执行出错！";
    case -204:
      return "找不到IC卡函数(ICReset)！";
    case -203:
      return "找不到IC卡函数(ICExecute)！";
    case -202:
      return "找不到IC卡函数(ICPut)！";
    case -201:
      return "找不到IC卡函数(ICGet)！";
    case -200:
      return "找不到IC卡函数(ICStart)！";
    default:
      return code < 0 ? "系统处理出错！" : "系统处理成功！";
  }
}

std::string_view CardFailurePrefix(int32_t code) {
  switch (code) {
    case -300:
      return "启动IC卡操作时出错：";
    case -301:
      return "执行底层IC卡函数(get)出错：";
    case -302:
      return "执行底层IC卡函数(put)出错：";
    case -303:
      return "写IC卡时出错：";
    case -304:
      return "IC卡复位时出错：";
    default:
      return "";
  }
}

std::string_view CardRunFailedCaption() { return "IC卡操作失败"; }

std::string_view CardNumberDiffersText() {
  return "写卡时发现卡号不一致，可能是已换了一张卡。\n请换回原来的卡。";
}

std::string_view CardNumberDiffersCaption() { return "卡号不一致"; }

std::string_view CardPasswordLabel() { return "请用户输入6位密码"; }

}  // namespace qx::card
