// The implementations behind DefaultEnv() (env.cpp), one function per platform interface, each
// defined in the file that implements it, in the namespace of the platform the build targets:
// posix (the *_posix.cpp files) or win32 (the *_win32.cpp files).
#ifndef QX_PLATFORM_DEFAULT_PARTS_H_
#define QX_PLATFORM_DEFAULT_PARTS_H_

#include "platform/env.h"

#if defined(_WIN32)
#define QX_PLATFORM_OS win32
#else
#define QX_PLATFORM_OS posix
#endif

namespace qx::platform {

namespace QX_PLATFORM_OS {

Prompts& DefaultPrompts();              // prompts_<os>.cpp
FileSystem& DefaultFileSystem();        // file_system_<os>.cpp
HttpClient& DefaultHttpClient();        // http_client_<os>.cpp
XmlFactory& DefaultXmlFactory();        // xml_document_<os>.cpp
LibraryLoader& DefaultLibraryLoader();  // dynamic_library_<os>.cpp

}  // namespace QX_PLATFORM_OS

// The one object of type Part, made at the first call and destroyed at the end of the process
// (or when the library is unloaded).
template <typename Part>
Part& ProcessWide() {
  static Part part;
  return part;
}

}  // namespace qx::platform

#endif  // QX_PLATFORM_DEFAULT_PARTS_H_
