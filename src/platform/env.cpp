#include "platform/env.h"

#include "platform/default_parts.h"

namespace qx::platform {

Env& DefaultEnv() {
  namespace os = QX_PLATFORM_OS;
  static Env env{&os::DefaultPrompts(), &os::DefaultFileSystem(), &os::DefaultHttpClient(),
                 &os::DefaultXmlFactory(), &os::DefaultLibraryLoader()};
  return env;
}

}  // namespace qx::platform
