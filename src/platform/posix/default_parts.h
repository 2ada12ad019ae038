// The POSIX implementations behind DefaultEnv(): platform/default_parts.h declares them for the
// platform the build targets.
#ifndef QX_PLATFORM_POSIX_DEFAULT_PARTS_H_
#define QX_PLATFORM_POSIX_DEFAULT_PARTS_H_

#include "platform/default_parts.h"

#endif  // QX_PLATFORM_POSIX_DEFAULT_PARTS_H_
