// Compiled with -fexec-charset=GBK: every literal below is GBK bytes.
#include "transport/transport_texts.h"

namespace qx::transport::texts {

const char* const kSystemErrorCaption = "系统错误";
const char* const kErrorCaption = "错误";
const char* const kInvalidPassword = "无效的口令.";
const char* const kRedirectWithoutLocation = "Error: Site redirects with no new location.";
const char* const kRedirectUnparsable = "Error: the redirected URL could not be parsed.";
const char* const kRedirectNotHttp =
    "Error: the redirected URL does not reference a HTTP resource.";
const char* const kRedirectBadStatus = "Error: Got status code.";

}  // namespace qx::transport::texts
