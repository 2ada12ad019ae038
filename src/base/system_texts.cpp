// Compiled with -fexec-charset=GBK: every narrow literal below is GBK bytes.
#include "base/system_texts.h"

#include "base/status_codes.h"

namespace qx::texts {
namespace {

using namespace qx::status;

// Which status table a row belongs to.
enum Table : unsigned { kInterface = 1, kCard = 2, kBoth = 3 };

struct Row {
  int32_t code;
  unsigned tables;
  std::string_view text;
};

constexpr Row kRows[] = {
    {kNoBusinessCall, kInterface, "没有开始业务调用不能调用运行函数."},
    {kNotInitialised, kInterface, "没有初始化接口不能调用运行函数."},
    {kTransferFailed, kInterface, "传数据出错,"},
    {kCardFailed, kInterface, "处理IC卡失败！"},
    {kNoTransaction, kInterface, "事务未开始，不能输入参数！"},
    {kRowTooLarge, kInterface, "行号太大，请输入连贯行号！"},
    {kNoRequest, kInterface, "没有入参串"},
    {kRowOutOfRange, kInterface, "行号越界."},
    {kRowEmpty, kInterface, "对应行没有数据."},
    {kNoItemToFind, kInterface, "没有数据项可找."},
    {kNoSuchItem, kInterface, "错误的数据项名称."},
    {kNullPointer, kInterface, "错误的函数调用--空指针."},
    {kNoRecordSet, kInterface, "没有此记录集."},
    {kUnpackFailed, kInterface, "解包时出错."},
    {kPackFailed, kInterface, "打包时出错."},
    {kNoData, kInterface, "没有数据！"},
    {kCannotAddRow, kInterface, "不能增加行！"},
    {kNoSuchRecordSet, kInterface, "请设置记录集后再增加行！"},
    {kAtLastRow, kInterface, "行已到底！"},
    {kRecordSetNameNotFound, kInterface, "找不到对应的记录集名！"},
    {kCardLibraryNotLoaded, kInterface, "动态装载ic卡动态库qxic.dll出错！"},
    {kSetRecordSetFailed, kInterface, "设置记录集时出错."},
    {kNoFunctionId, kInterface, "入参串中没有FunctionID."},
    {kFunctionIdTooLong, kInterface, "入参串的FunctionID超过51字节."},
    {kChainTooLong, kInterface, "中心连续要求的业务调用超过16层."},
    {kNoICStart, kBoth, "找不到IC卡函数(ICStart)！"},
    {kNoICGet, kBoth, "找不到IC卡函数(ICGet)！"},
    {kNoICPut, kBoth, "找不到IC卡函数(ICPut)！"},
    {kNoICExecute, kBoth, "找不到IC卡函数(ICExecute)！"},
    {kNoICReset, kBoth, "找不到IC卡函数(ICReset)！"},
    {kICStartFailed, kBoth, "IC卡函数(ICStart)执行出错！"},
    {kICGetFailed, kBoth, "IC卡函数(ICGet)执行出错！"},
    {kICPutFailed, kBoth, "IC卡函数(ICPut)执行出错！"},
    {kWriteDamaged, kBoth, "写IC卡出错，IC卡原数据可能已坏！"},
    {kWriteRestored, kBoth, "写IC卡出错，IC卡原数据已恢复！"},
    {kICResetFailed, kBoth, "IC卡函数(ICReset)执行出错！"},
    {kNoICGeterrMsg, kBoth, "找不到IC卡函数(ICGeterrMsg)！"},
    {kNotLoggedIn, kInterface, "请先登录!"},
    {kLoginInfoFailed, kInterface, "生成带登录信息的调用XML出错!!"},
    {kCardSwapped, kCard, "写卡时发现卡号不一致。"},
    {kOverdrawn, kCard, "写卡时发现个人帐户已透支。"},
    {kPasswordFailed, kCard, "读卡时用户口令校验失败。"},
    {kUserInfoFailed, kInterface, "生成带用户信息的调用XML出错!"},
};

std::string_view Lookup(unsigned table, int32_t code) {
  for (const Row& row : kRows) {
    if (row.code == code && (row.tables & table) != 0) {
      return row.text;
    }
  }
  return code >= 0 ? "系统处理成功！" : "系统处理出错！";
}

std::string Around(std::string_view before, std::string_view middle, std::string_view after) {
  std::string text;
  text.reserve(before.size() + middle.size() + after.size());
  text.append(before).append(middle).append(after);
  return text;
}

}  // namespace

std::string_view StatusText(int32_t code) { return Lookup(kInterface, code); }
std::string_view CardStatusText(int32_t code) { return Lookup(kCard, code); }

std::string InitFileUnreadable(std::string_view path) {
  return Around("初始化配置文件无法打开(", path, ").");
}
const std::string_view kInitNoServer = "获取初始化配置server失败";
const std::string_view kInitNoPort = "获取初始化配置port失败";
std::string InitBadPort(std::string_view port) {
  return Around("获取初始化配置port失败(", port, ")");
}
const std::string_view kInitNoServlet = "获取初始化配置servlet失败";
const std::string_view kInitDone = "初始化成功";
std::string InitBadTls(std::string_view value) {
  return Around("获取初始化配置tls失败(", value, ")：[log]节的tls只能是on或off");
}
std::string InitNoCaFile(std::string_view path) {
  return Around("获取初始化配置ca_file失败(", path, ")：没有这个文件");
}
const std::string_view kLoginNotSupported = "no support.";

std::string ConfigOpenFailed(std::string_view path) {
  return Around("对不起！打开文件 ", path, " 时，出现不可恢复的错误。\n读取文件失败。");
}
std::string ConfigNoSection(std::string_view section) {
  return Around("对不起！您需要的关键字<", section, ">没有存在。");
}
std::string ConfigNoKey(std::string_view key) {
  return Around("对不起！您需要的值<", key, ">没有存在。");
}

const char* const kSystemErrorCaption = "系统错误";
const char* const kErrorCaption = "错误";
const char* const kInvalidPassword = "无效的口令.";
const char* const kRedirectWithoutLocation = "Error: Site redirects with no new location.";
const char* const kRedirectUnparsable = "Error: the redirected URL could not be parsed.";
const char* const kRedirectNotHttp =
    "Error: the redirected URL does not reference a HTTP resource.";
const char* const kRedirectBadStatus = "Error: Got status code.";
std::string ReplyTooLong(std::size_t limit) {
  return "The reply is longer than " + std::to_string(limit) + " bytes, the most a reply may hold.";
}

std::string ProxyUnreachable(std::string_view proxy) {
  return Around("无法连接代理服务器 ", proxy, ": ");
}

std::string CertificateFailure(CertificateProblem problem, std::string_view server,
                               std::string_view words) {
  std::string_view why;
  switch (problem) {
    case CertificateProblem::kExpired:
      why = "的证书已过期";
      break;
    case CertificateProblem::kWrongName:
      why = "的证书不是签发给这个名字的(名字不符)";
      break;
    case CertificateProblem::kUnknownCa:
      why = "的证书不是受信任的CA签发的(未知的CA)";
      break;
    case CertificateProblem::kOther:
      why = "的证书验证失败";
      break;
  }
  return Around("中心 ", server, why) + ": " + std::string(words);
}

std::string_view CardFailurePrefix(int32_t code) {
  switch (code) {
    case kStartStepFailed:
      return "启动IC卡操作时出错：";
    case kGetStepFailed:
      return "执行底层IC卡函数(get)出错：";
    case kPutStepFailed:
      return "执行底层IC卡函数(put)出错：";
    case kExecuteStepFailed:
      return "写IC卡时出错：";
    case kResetStepFailed:
      return "IC卡复位时出错：";
    default:
      return "";
  }
}
const std::string_view kCardRunFailedCaption = "IC卡操作失败";
const std::string_view kCardNumberDiffersText =
    "写卡时发现卡号不一致，可能是已换了一张卡。\n请换回原来的卡。";
const std::string_view kCardNumberDiffersCaption = "卡号不一致";
const std::string_view kCardPasswordLabel = "请用户输入6位密码";

}  // namespace qx::texts
