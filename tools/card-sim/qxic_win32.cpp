// qxic_win32.h over the Win32 file API.
#include "qxic_win32.h"

#include <windows.h>

#include <string>

namespace qxic::win32 {
namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n > 0 && text != nullptr ? std::string(text, n) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out.empty() ? "error " + std::to_string(code) : out;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

std::string LibraryFolder() {
  static const int anchor = 0;
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&anchor), &self)) {
    return std::string();
  }
  // Paths may be longer than MAX_PATH: grow the buffer until the name fits.
  for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
    std::string path(size, '\0');
    const DWORD n = GetModuleFileNameA(self, path.data(), size);
    if (n == 0) return std::string();
    if (n < size) {
      path.resize(n);
      const std::size_t slash = path.find_last_of("\\/");
      return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }
  }
  return std::string();
}

bool ReplaceWhole(const std::string& path, const std::string& bytes, std::string* error) {
  const std::string temp = path + ".tmp." + std::to_string(GetCurrentProcessId());
  HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + temp + ": " + LastErrorText();
    return false;
  }
  const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
  const std::string write_error = written ? std::string() : LastErrorText();
  const bool closed = CloseHandle(file) != 0;
  if (!written || !closed) {
    *error = "cannot write " + temp + ": " + (written ? LastErrorText() : write_error);
    DeleteFileA(temp.c_str());
    return false;
  }
  if (!MoveFileExA(temp.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = "cannot rename " + temp + ": " + LastErrorText();
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

void AppendToFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    WriteAll(file, bytes);
    CloseHandle(file);
  }
}

}  // namespace qxic::win32
