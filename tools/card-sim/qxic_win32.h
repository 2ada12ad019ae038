// The few things the simulated card reader asks of the operating system, as qxic.dll does them
// on Windows: where the library itself lies, replacing the card file whole, appending to the
// journal.
#ifndef QX_TOOLS_CARD_SIM_QXIC_WIN32_H_
#define QX_TOOLS_CARD_SIM_QXIC_WIN32_H_

#include <string>

namespace qxic::win32 {

// The folder of qxic.dll with its trailing backslash, or "" when it cannot be found.
std::string LibraryFolder();

// A new file beside path holding bytes, flushed to the disk, then moved over path. On failure
// the temporary file is removed, path is untouched and *error says why.
bool ReplaceWhole(const std::string& path, const std::string& bytes, std::string* error);

// Appends bytes to the file at path, creating it; failures are ignored.
void AppendToFile(const std::string& path, const std::string& bytes);

}  // namespace qxic::win32

#endif  // QX_TOOLS_CARD_SIM_QXIC_WIN32_H_
