// WipeBytes over glibc's explicit_bzero, which the compiler never drops as a dead store.
#include <string.h>

#include "platform/memory_wipe.h"

namespace qx::platform {

void WipeBytes(void* data, std::size_t size) { explicit_bzero(data, size); }

}  // namespace qx::platform
