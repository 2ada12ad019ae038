// The platform as the portable code sees it: one object per platform interface, gathered in an
// Env. DefaultEnv() returns the real implementations for the platform this build targets (the
// POSIX or the Win32 files; CMake compiles exactly one set). Tests build an Env of fakes from
// platform/fake/ instead. Nothing above platform/ includes an OS or third-party header.
#ifndef QX_PLATFORM_ENV_H_
#define QX_PLATFORM_ENV_H_

#include <string_view>

namespace qx::platform {

class Prompts;        // prompts.h: message boxes, password and credential entry
class FileSystem;     // file_system.h: current directory, file status, whole-file read/replace
class HttpClient;     // http_client.h: sessions, connections and requests to the center
class XmlFactory;     // xml_document.h: new DOM documents
class LibraryLoader;  // dynamic_library.h: the card-reader library

// Where the steps below the interface (the card run) tell what they did, for the diagnostic
// log. Env's notes is null when nobody listens, and nothing is said then.
class Notes {
 public:
  virtual ~Notes() = default;
  virtual void Note(std::string_view what) = 0;
};

struct Env {
  Prompts* prompts = nullptr;
  FileSystem* files = nullptr;
  HttpClient* http = nullptr;
  XmlFactory* xml = nullptr;
  LibraryLoader* libraries = nullptr;
  Notes* notes = nullptr;
};

// The real platform. Each member is a process-wide object that lives as long as the process.
Env& DefaultEnv();

}  // namespace qx::platform

#endif  // QX_PLATFORM_ENV_H_
