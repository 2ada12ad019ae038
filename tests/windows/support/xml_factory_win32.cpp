// The message tests ask for the platform's DOM by its POSIX name; on Windows they get MSXML, so
// the same cases run over the component the DLL uses there.
#include "platform/posix/default_parts.h"
#include "platform/win32/default_parts.h"

namespace qx::platform::posix {

XmlFactory& DefaultXmlFactory() { return win32::DefaultXmlFactory(); }

}  // namespace qx::platform::posix
