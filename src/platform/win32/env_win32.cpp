#include "platform/env.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {

Env& DefaultEnv() {
  static Env env{&win32::DefaultPrompts(), &win32::DefaultFileSystem(), &win32::DefaultHttpClient(),
                 &win32::DefaultXmlFactory(), &win32::DefaultLibraryLoader()};
  return env;
}

}  // namespace qx::platform
