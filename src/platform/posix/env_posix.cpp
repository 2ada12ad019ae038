#include "platform/env.h"
#include "platform/posix/default_parts.h"

namespace qx::platform {

Env& DefaultEnv() {
  static Env env{&posix::DefaultPrompts(), &posix::DefaultFileSystem(), &posix::DefaultHttpClient(),
                 &posix::DefaultXmlFactory(), &posix::DefaultLibraryLoader()};
  return env;
}

}  // namespace qx::platform
