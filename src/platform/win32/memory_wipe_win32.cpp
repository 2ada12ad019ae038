// WipeBytes over SecureZeroMemory (an inline of winnt.h that writes through a volatile pointer,
// so that the compiler never drops it as a dead store).
#include <windows.h>

#include "platform/memory_wipe.h"

namespace qx::platform {

void WipeBytes(void* data, std::size_t size) { SecureZeroMemory(data, size); }

}  // namespace qx::platform
