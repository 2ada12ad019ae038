// Every fixed text of the system, in one table (system_texts.cpp, compiled with
// -fexec-charset=GBK: the bytes below are GBK, which is what the host and the clerk receive).
// Texts that take a part of their own (a path, a port, a name) are given as functions.
#ifndef QX_BASE_SYSTEM_TEXTS_H_
#define QX_BASE_SYSTEM_TEXTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qx::texts {

// The status tables. Both draw on one list of rows; codes -200 to -211 have one text in both.
// The interface's table: codes outside it take the text of their sign.
std::string_view StatusText(int32_t code);
// The card binding's table: -200 to -211 and its own -305, -306 and -401; codes outside it take
// the text of their sign. For -205 to -210 this is the part before the card library's own words.
std::string_view CardStatusText(int32_t code);

// init_handle's messages.
std::string InitFileUnreadable(std::string_view path);  // "初始化配置文件无法打开(<path>)."
extern const std::string_view kInitNoServer;            // "获取初始化配置server失败"
extern const std::string_view kInitNoPort;              // "获取初始化配置port失败"
std::string InitBadPort(std::string_view port);         // "获取初始化配置port失败(<port>)"
extern const std::string_view kInitNoServlet;           // "获取初始化配置servlet失败"
extern const std::string_view kInitDone;                // "初始化成功"
// A tls in [log] that is neither on nor off.
std::string InitBadTls(std::string_view value);  // "获取初始化配置tls失败(<value>)：..."
// A ca_file in [log] that names no file.
std::string InitNoCaFile(std::string_view path);  // "获取初始化配置ca_file失败(<path>)：..."
// The login information kept when the login reply has no "addition-xml".
extern const std::string_view kLoginNotSupported;  // "no support."

// The configuration file.
std::string ConfigOpenFailed(std::string_view path);
std::string ConfigNoSection(std::string_view section);
std::string ConfigNoKey(std::string_view key);

// Captions and texts of the transport's boxes.
extern const char* const kSystemErrorCaption;  // the box when no connection object can be made
extern const char* const kErrorCaption;        // the credential, redirect and file boxes
extern const char* const kInvalidPassword;     // the credentials were not given
extern const char* const kRedirectWithoutLocation;
extern const char* const kRedirectUnparsable;
extern const char* const kRedirectNotHttp;
extern const char* const kRedirectBadStatus;
// The words of a -4 for a reply, or an announced length, over the most a reply may hold.
std::string ReplyTooLong(std::size_t limit);
// What comes before the system's text when the configured proxy could not be reached.
std::string ProxyUnreachable(std::string_view proxy);  // "无法连接代理服务器 <proxy>: "
// The words of a -4 for a center whose TLS certificate failed verification: why, for
// server:port, then the TLS library's or the system's own words.
enum class CertificateProblem { kExpired, kWrongName, kUnknownCa, kOther };
std::string CertificateFailure(CertificateProblem problem, std::string_view server,
                               std::string_view words);

// The card binding: what comes before the card library's error text when an entry point fails
// (the step's code -300 ICStart, -301 ICGet, -302 ICPut, -303 ICExecute, -304 ICReset), and the
// card run's boxes and password entry.
std::string_view CardFailurePrefix(int32_t code);
extern const std::string_view kCardRunFailedCaption;
extern const std::string_view kCardNumberDiffersText;
extern const std::string_view kCardNumberDiffersCaption;
extern const std::string_view kCardPasswordLabel;

}  // namespace qx::texts

#endif  // QX_BASE_SYSTEM_TEXTS_H_
