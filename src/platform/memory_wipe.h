// Wiping secrets (typed passwords, card values, credentials) from memory with the system's own
// call, which the compiler may not drop as a dead store: explicit_bzero on POSIX (glibc 2.25),
// SecureZeroMemory on Windows.
#ifndef QX_PLATFORM_MEMORY_WIPE_H_
#define QX_PLATFORM_MEMORY_WIPE_H_

#include <cstddef>
#include <string>

namespace qx::platform {

// Overwrites size bytes at data with zeros.
void WipeBytes(void* data, std::size_t size);

// Wipes the string's characters (its whole capacity: an earlier, longer content may still sit
// behind the current size), then empties it.
inline void WipeString(std::string* text) {
  if (text->capacity() > 0) {
    text->resize(text->capacity());
    WipeBytes(text->data(), text->size());
  }
  text->clear();
}

}  // namespace qx::platform

#endif  // QX_PLATFORM_MEMORY_WIPE_H_
