// The POSIX implementations behind DefaultEnv(), one function per platform interface, each
// defined in the file that implements it.
#ifndef QX_PLATFORM_POSIX_DEFAULT_PARTS_H_
#define QX_PLATFORM_POSIX_DEFAULT_PARTS_H_

#include "platform/env.h"

namespace qx::platform::posix {

Prompts& DefaultPrompts();              // prompts_posix.cpp
FileSystem& DefaultFileSystem();        // file_system_posix.cpp
HttpClient& DefaultHttpClient();        // http_client_posix.cpp
XmlFactory& DefaultXmlFactory();        // xml_document_posix.cpp
LibraryLoader& DefaultLibraryLoader();  // dynamic_library_posix.cpp

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_DEFAULT_PARTS_H_
