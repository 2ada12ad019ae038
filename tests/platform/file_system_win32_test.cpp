// The Win32 files: current directory, existence, whole-file reads and the replace that leaves
// the old file in place when it cannot finish.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/default_parts.h"

namespace qx::platform {
namespace {

// A fresh directory under the temporary directory, made current for the test and removed after.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    char saved[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof saved, saved);
    saved_ = saved;
    static int counter = 0;
    path_ = std::string(temp) + "qx-fs-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchDirectory() {
    SetCurrentDirectoryA(saved_.c_str());
    for (const std::string& name : Files()) {
      std::string file = path_ + "\\" + name;
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file.c_str());
      RemoveDirectoryA(file.c_str());
    }
    RemoveDirectoryA(path_.c_str());
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      return names;
    }
    do {
      std::string name = data.cFileName;
      if (name != "." && name != "..") {
        names.push_back(name);
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
  }

 private:
  std::string path_;
  std::string saved_;
};

FileSystem& Files() { return win32::DefaultFileSystem(); }

// Whether a file operation succeeded; its words (empty on success) go to *error for the report.
bool Done(const Status& status, std::string* error) {
  *error = status.words();
  return status.ok();
}

TEST(Win32FileSystem, CurrentDirectoryIsTheProcesssOwnWithBackslashes) {
  ScratchDirectory scratch;
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.path().c_str()));
  char expected[MAX_PATH * 4] = {};
  GetCurrentDirectoryA(sizeof expected, expected);
  EXPECT_EQ(Files().CurrentDirectory(), expected);
  EXPECT_EQ(Files().PathSeparator(), '\\');
}

TEST(Win32FileSystem, CurrentDirectoryLongerThan512Bytes) {
  // The library once asked with a 512-byte buffer; a deeper directory must come back whole.
  // Paths this long need the \\?\ form to be made; the current directory itself is limited by
  // the system to MAX_PATH on older Windows, so the test stops where the system does.
  ScratchDirectory scratch;
  std::string deep = scratch.path();
  std::vector<std::string> made;
  while (deep.size() < 600) {
    deep += "\\" + std::string(40, 'd');
    if (!CreateDirectoryA(("\\\\?\\" + deep).c_str(), nullptr)) {
      break;
    }
    made.push_back(deep);
  }
  if (!SetCurrentDirectoryA(deep.c_str())) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
      RemoveDirectoryA(("\\\\?\\" + *it).c_str());
    }
    GTEST_SKIP() << "this system does not take a current directory of " << deep.size()
                 << " bytes (error " << GetLastError() << ")";
  }
  EXPECT_EQ(Files().CurrentDirectory(), deep);
  SetCurrentDirectoryA(scratch.path().c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    RemoveDirectoryA(("\\\\?\\" + *it).c_str());
  }
}

TEST(Win32FileSystem, ReadAllGivesTheBytesAsTheyAre) {
  ScratchDirectory scratch;
  const std::string bytes("[center]\r\nserver=\xB1\xB1\xBE\xA9\n\0x\r\n", 26);
  std::string error;
  ASSERT_TRUE(Done(Files().ReplaceAll(scratch.File("a.ini"), bytes), &error)) << error;
  EXPECT_TRUE(Files().Exists(scratch.File("a.ini")));
  std::string content;
  ASSERT_TRUE(Done(Files().ReadAll(scratch.File("a.ini"), &content), &error)) << error;
  EXPECT_EQ(content, bytes);
}

TEST(Win32FileSystem, MissingFileIsReportedWithItsPath) {
  ScratchDirectory scratch;
  EXPECT_FALSE(Files().Exists(scratch.File("none.ini")));
  std::string content = "kept";
  std::string error;
  EXPECT_FALSE(Done(Files().ReadAll(scratch.File("none.ini"), &content), &error));
  EXPECT_NE(error.find(scratch.File("none.ini")), std::string::npos) << error;
}

TEST(Win32FileSystem, ReplaceAllReplacesAndLeavesNoTemporaryFile) {
  ScratchDirectory scratch;
  std::string error;
  ASSERT_TRUE(Done(Files().ReplaceAll(scratch.File("q.ini"), "old content, longer\r\n"), &error));
  ASSERT_TRUE(Done(Files().ReplaceAll(scratch.File("q.ini"), "new\r\n"), &error)) << error;
  std::string content;
  ASSERT_TRUE(Done(Files().ReadAll(scratch.File("q.ini"), &content), &error));
  EXPECT_EQ(content, "new\r\n");
  EXPECT_EQ(scratch.Files(), std::vector<std::string>{"q.ini"});
  ASSERT_TRUE(Done(Files().ReplaceAll(scratch.File("q.ini"), ""), &error)) << error;
  ASSERT_TRUE(Done(Files().ReadAll(scratch.File("q.ini"), &content), &error));
  EXPECT_EQ(content, "");
}

TEST(Win32FileSystem, ReplaceThatCannotFinishKeepsTheOldFile) {
  ScratchDirectory scratch;
  std::string error;
  // A read-only file, a directory in the file's place, a directory that does not exist.
  ASSERT_TRUE(Done(Files().ReplaceAll(scratch.File("ro.ini"), "old\r\n"), &error));
  ASSERT_TRUE(SetFileAttributesA(scratch.File("ro.ini").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(Done(Files().ReplaceAll(scratch.File("ro.ini"), "new\r\n"), &error));
  EXPECT_NE(error.find("ro.ini"), std::string::npos) << error;
  std::string content;
  ASSERT_TRUE(Done(Files().ReadAll(scratch.File("ro.ini"), &content), &error));
  EXPECT_EQ(content, "old\r\n");

  ASSERT_TRUE(CreateDirectoryA(scratch.File("dir.ini").c_str(), nullptr));
  EXPECT_FALSE(Done(Files().ReplaceAll(scratch.File("dir.ini"), "x"), &error));
  EXPECT_FALSE(Done(Files().ReplaceAll(scratch.File("missing\\x.ini"), "x"), &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;

  std::vector<std::string> left = scratch.Files();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"dir.ini", "ro.ini"}));
}

}  // namespace
}  // namespace qx::platform
