#include "center_business.h"

#include <pugixml.hpp>

#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "sim_gbk.h"

namespace qx::sim {
namespace {

using Item = std::pair<std::string, std::string>;
using Row = std::vector<Item>;

const char kOkMessage[] = "处理成功！";

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
}

void AppendElement(std::string& out, std::string_view name, std::string_view value) {
  out += '<';
  out.append(name);
  if (value.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  AppendEscaped(out, value);
  out += "</";
  out.append(name);
  out += '>';
}

// A recordset in the message format: <name><row1><item>value</item>...</row1>...</name>.
std::string Recordset(std::string_view name, const std::vector<Row>& rows) {
  std::string out = "<" + std::string(name) + ">";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string row_name = "row" + std::to_string(i + 1);
    out += "<" + row_name + ">";
    for (const Item& item : rows[i]) {
      AppendElement(out, item.first, item.second);
    }
    out += "</" + row_name + ">";
  }
  out += "</" + std::string(name) + ">";
  return out;
}

// The whole reply in UTF-8; function_id set makes the library post it back (chaining).
std::string Reply(std::string_view error_no, std::string_view message, std::string_view blocks,
                  std::string_view function_id = {}) {
  std::string out = "<Program>";
  if (!function_id.empty()) {
    AppendElement(out, "FunctionID", function_id);
  }
  out += "<ErrorNo>";
  AppendEscaped(out, error_no);
  out += "</ErrorNo><ErrorMessage>";
  AppendEscaped(out, message);
  out += "</ErrorMessage><ErrorType>";
  out += error_no == "1" ? "0" : "1";
  out += "</ErrorType><Exception></Exception>";
  out.append(blocks);
  out += "</Program>";
  return out;
}

std::string Failure(std::string_view error_no, std::string_view message) {
  return Reply(error_no, message, {});
}

pugi::xml_node FirstElement(const pugi::xml_node& root, std::string_view name) {
  return root.find_node([&](const pugi::xml_node& node) {
    return node.type() == pugi::node_element && name == node.name();
  });
}

pugi::xml_node FirstChildElement(const pugi::xml_node& node) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_element) {
      return child;
    }
  }
  return pugi::xml_node();
}

class Request {
 public:
  explicit Request(const pugi::xml_document& doc) : doc_(doc) {}

  std::optional<std::string> FunctionId() const {
    pugi::xml_node node = FirstElement(doc_, "FunctionID");
    if (!node) {
      return std::nullopt;
    }
    return std::string(node.text().get());
  }

  std::string Param(std::string_view name, std::string_view fallback = {}) const {
    pugi::xml_node parameters = FirstElement(doc_, "parameters");
    pugi::xml_node item =
        parameters ? parameters.child(std::string(name).c_str()) : pugi::xml_node();
    if (!item) {
      return std::string(fallback);
    }
    return item.text().get();
  }

  // Item of the first row of the first recordset called block; nullopt when absent.
  std::optional<std::string> RowItem(std::string_view block, std::string_view item) const {
    pugi::xml_node set = FirstElement(doc_, block);
    pugi::xml_node row = set ? FirstChildElement(set) : pugi::xml_node();
    pugi::xml_node value = row ? row.child(std::string(item).c_str()) : pugi::xml_node();
    if (!value) {
      return std::nullopt;
    }
    return std::string(value.text().get());
  }

 private:
  const pugi::xml_document& doc_;
};

// Chinese names for the catalogue; the row number makes each one unique.
const char* const kDrugNames[] = {"阿莫西林胶囊",   "布洛芬缓释胶囊", "头孢克肟分散片",
                                  "复方甘草片",     "板蓝根颗粒",     "维生素C片",
                                  "硝苯地平控释片", "二甲双胍缓释片"};
const char* const kSpecs[] = {"0.25g*24粒", "0.3g*20粒",  "0.1g*6片", "100片/瓶",
                              "10g*20袋",   "0.1g*100片", "30mg*7片", "0.5g*30片"};
const char* const kUnits[] = {"盒", "盒", "盒", "瓶", "袋", "瓶", "盒", "盒"};
const char* const kMakers[] = {"华北制药集团有限责任公司", "湖南九典制药股份有限公司",
                               "石药集团欧意药业有限公司", "哈药集团制药总厂"};
const char kMemo[] =
    "本品为医保甲类目录药品，按规定比例支付；限门诊及住院使用，超出限定支付范围的部分由参保人员"
    "自付。请遵医嘱使用，孕妇及哺乳期妇女慎用，儿童用量请咨询医师或药师。储存：遮光，密封，在阴凉"
    "干燥处保存。";

}  // namespace

CenterBusiness::CenterBusiness(BusinessSettings settings) : settings_(std::move(settings)) {}

std::string CenterBusiness::Catalog(std::size_t rows) const {
  // Built from GBK pieces converted once, so 100 000 rows cost appends only.
  static const std::string head =
      Gbk("<Program><ErrorNo>1</ErrorNo><ErrorMessage>处理成功！</ErrorMessage><ErrorType>0"
          "</ErrorType><Exception></Exception><catalog>");
  static const std::string tail = "</catalog></Program>";
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const char* n : kDrugNames) out.push_back(Gbk(n));
    return out;
  }();
  static const std::vector<std::string> specs = [] {
    std::vector<std::string> out;
    for (const char* s : kSpecs) out.push_back(Gbk(s));
    return out;
  }();
  static const std::vector<std::string> units = [] {
    std::vector<std::string> out;
    for (const char* u : kUnits) out.push_back(Gbk(u));
    return out;
  }();
  static const std::vector<std::string> makers = [] {
    std::vector<std::string> out;
    for (const char* m : kMakers) out.push_back(Gbk(m));
    return out;
  }();
  static const std::string memo = Gbk(kMemo);
  static const std::string category = Gbk("甲类");
  static const std::string approval = Gbk("国药准字");

  std::string out;
  out.reserve(head.size() + tail.size() + rows * (memo.size() + 220));
  out += head;
  char number[32];
  for (std::size_t i = 1; i <= rows; ++i) {
    const std::size_t k = i % names.size();
    std::string row = "row" + std::to_string(i);
    out += '<';
    out += row;
    out += "><item_code>";
    std::snprintf(number, sizeof number, "Y%08zu", i);
    out += number;
    out += "</item_code><item_name>";
    out += names[k];
    out += std::to_string(i);
    out += "</item_name><spec>";
    out += specs[k];
    out += "</spec><unit>";
    out += units[k];
    out += "</unit><price>";
    std::snprintf(number, sizeof number, "%zu.%02zu", 1 + (i * 7) % 300, (i * 13) % 100);
    out += number;
    out += "</price><category>";
    out += category;
    out += "</category><maker>";
    out += makers[i % makers.size()];
    out += "</maker><approval_no>";
    std::snprintf(number, sizeof number, "H%08zu", 20000000 + i);
    out += approval;
    out += number;
    out += "</approval_no><memo>";
    out += memo;
    out += "</memo></";
    out += row;
    out += '>';
  }
  out += tail;
  return out;
}

std::string CenterBusiness::Answer(std::string_view gbk_request) const {
  auto leave = [](const std::string& utf8) { return Gbk(utf8); };

  std::optional<std::string> utf8 = ToUtf8(gbk_request);
  if (!utf8) {
    return leave(Failure("-1", "请求报文不是GBK编码。"));
  }
  pugi::xml_document doc;
  if (!doc.load_buffer(utf8->data(), utf8->size(), pugi::parse_default, pugi::encoding_utf8)) {
    return leave(Failure("-1", "请求报文格式错误，无法解析。"));
  }
  Request request(doc);
  std::optional<std::string> function = request.FunctionId();
  if (!function) {
    return leave(Failure("-1", "请求报文缺少业务功能号(FunctionID)。"));
  }

  // Login.
  if (*function == "0") {
    std::string user = request.Param("user");
    if (!user.empty() &&
        (user != settings_.login_user || request.Param("password") != settings_.login_password)) {
      return leave(Failure("-11", "用户名或密码错误，登录失败。"));
    }
    if (request.Param("mode") == "no-addition") {
      return leave(Reply("1", kOkMessage, {}));
    }
    return leave(Reply("1", kOkMessage, Recordset("addition-xml", {{{"add1", settings_.token}}})));
  }

  std::optional<std::string> token = request.RowItem("addition-xml", "add1");
  if (!token || *token != settings_.token) {
    return leave(Failure("-12", "未登录或登录已失效，请重新登录。"));
  }

  // User information.
  if (*function == "8") {
    if (request.Param("mode") == "empty-user-info") {
      return leave(Reply("1", kOkMessage, "<user_info></user_info>"));
    }
    return leave(Reply("1", kOkMessage,
                       Recordset("user_info", {{{"center_id", settings_.center_id},
                                                {"staff_id", settings_.staff_id},
                                                {"staff_name", settings_.staff_name}}})));
  }

  // Everything else needs the staff member too.
  if (request.RowItem("user_info", "center_id") != settings_.center_id ||
      request.RowItem("user_info", "staff_id") != settings_.staff_id ||
      request.RowItem("user_info", "staff_name") != settings_.staff_name) {
    return leave(Failure("-13", "缺少操作员信息(user_info)或操作员信息不符。"));
  }

  const std::string indi_id = request.Param("indi_id", "430102198001010012");
  const std::string card_no = request.Param("card_no", "C43010012345");
  if (*function == "11") {  // personal information
    return leave(Reply("1", kOkMessage,
                       Recordset("personinfo", {{{"indi_id", indi_id},
                                                 {"name", "张伟"},
                                                 {"sex", "男"},
                                                 {"birthday", "1980-01-01"},
                                                 {"corp_name", "长沙市第一人民医院"},
                                                 {"insr_type", "城镇职工基本医疗保险"}}})));
  }
  if (*function == "21") {  // catalogue of N rows
    const std::string count_text = request.Param("count", "10");
    char* end = nullptr;
    unsigned long long count = std::strtoull(count_text.c_str(), &end, 10);
    if (count_text.empty() || *end != '\0' || count > settings_.max_catalog_rows) {
      return leave(Failure("-14", "目录条数参数(count)无效。"));
    }
    return Catalog(static_cast<std::size_t>(count));
  }
  if (*function == "31" || *function == "32") {  // read the card, with or without password
    Row row = {{"card_no", ""}, {"indi_id", ""}, {"name", ""}};
    if (*function == "31") {
      row.push_back({"verifyic", "password"});
    }
    return leave(Reply("1", kOkMessage, Recordset("readic", {row})));
  }
  if (*function == "41" || *function == "42") {  // write the balance (after reading the card)
    const std::string balance = request.Param("last_balance", "1250.40");
    std::string blocks;
    if (*function == "42") {
      blocks += Recordset("readic", {{{"card_no", ""}, {"indi_id", ""}}});
    }
    blocks += Recordset("writeic", {{{"card_no", card_no},
                                     {"indi_id", indi_id},
                                     {"last_balance", balance},
                                     {"last_pay_date", "2024-05-20"}}});
    blocks += Recordset("settle", {{{"serial_no", "JS202405200001"},
                                    {"total_fee", "86.50"},
                                    {"fund_pay", "60.55"},
                                    {"self_pay", "25.95"}}});
    return leave(Reply("1", kOkMessage, blocks));
  }
  if (*function == "51") {  // asks for function 52 next
    return leave(Reply("1", kOkMessage,
                       Recordset("parameters_next", {{{"serial_no", "LS202405200007"}}}), "52"));
  }
  if (*function == "52") {
    return leave(
        Reply("1", kOkMessage,
              Recordset("result", {{{"serial_no", "LS202405200007"}, {"state", "已结算"}}})));
  }
  if (*function == "59") {  // names itself again: a chain without end
    return leave(Reply("1", kOkMessage, {}, "59"));
  }
  return leave(Failure("-19", "不支持的业务功能号：" + *function));
}

}  // namespace qx::sim
