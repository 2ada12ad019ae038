// The diagnostic log's files on Windows: CreateFileA with FILE_APPEND_DATA and
// FILE_FLAG_OPEN_REPARSE_POINT (a link is opened as itself and then refused), a DACL that gives
// the file's owner alone access, WriteFile straight to the handle, FindFirstFileA for the folder.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/log_files.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {
namespace {

class Win32AppendFile final : public AppendFile {
 public:
  Win32AppendFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~Win32AppendFile() override { CloseHandle(handle_); }

  Status Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      if (!WriteFile(handle_, bytes.data(), want, &written, nullptr) || written == 0) {
        return Status::Local(
            FileErrorText("WriteFile", path_, win32::SystemErrorText(GetLastError())));
      }
      bytes.remove_prefix(written);
    }
    return Status::Ok();
  }

 private:
  HANDLE handle_;
  std::string path_;
};

// "D:P(A;;FA;;;OW)": a protected DACL with one entry, full access for the owner.
struct OwnerOnly {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  alignas(8) unsigned char acl_room[256];
  bool made = false;

  OwnerOnly() {
    SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    PSID owner = nullptr;
    if (!AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RIGHTS_RID, 0, 0, 0, 0, 0, 0,
                                  0, &owner)) {
      return;
    }
    auto* acl = reinterpret_cast<PACL>(acl_room);
    made = InitializeAcl(acl, sizeof acl_room, ACL_REVISION) &&
           AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, owner) &&
           InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    FreeSid(owner);
  }
};

}  // namespace

Status OpenAppendFile(const std::string& folder, const std::string& path,
                      std::unique_ptr<AppendFile>* file) {
  file->reset();
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return Status::Local(
        FileErrorText("CreateDirectoryA", folder, win32::SystemErrorText(GetLastError())));
  }
  OwnerOnly security;
  HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              security.made ? &security.attributes : nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Status::Local(
        FileErrorText("CreateFileA", path, win32::SystemErrorText(GetLastError())));
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(handle);
    return Status::Local(FileErrorText("CreateFileA", path, "not a regular file"));
  }
  *file = std::make_unique<Win32AppendFile>(handle, path);
  return Status::Ok();
}

std::vector<FolderEntry> ListFiles(const std::string& folder, std::string_view prefix,
                                   std::string_view suffix) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAA data;
  const std::string pattern = folder + "\\*";
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string_view name(data.cFileName);
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        name.size() < prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix) {
      continue;
    }
    entries.push_back(
        {std::string(name), (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return entries;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

LogStamp NowStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogStamp stamp;
  stamp.year = now.wYear;
  stamp.month = now.wMonth;
  stamp.day = now.wDay;
  stamp.hour = now.wHour;
  stamp.minute = now.wMinute;
  stamp.second = now.wSecond;
  stamp.millisecond = now.wMilliseconds;
  stamp.process = GetCurrentProcessId();
  stamp.thread = GetCurrentThreadId();
  return stamp;
}

}  // namespace qx::platform
