#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/default_parts.h"
#include "platform/file_system.h"

namespace qx::platform {
namespace {

class ScratchDir {
 public:
  ScratchDir() {
    char templ[] = "/tmp/qx-fs-XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~ScratchDir() {
    DIR* dir = opendir(path_.c_str());
    if (dir != nullptr) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
          unlink((path_ + "/" + name).c_str());
        }
      }
      closedir(dir);
    }
    rmdir(path_.c_str());
  }
  int Count() const {
    int n = 0;
    DIR* dir = opendir(path_.c_str());
    while (dirent* entry = readdir(dir)) {
      n += entry->d_name[0] != '.';
    }
    closedir(dir);
    return n;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(PosixFileSystem, ReplaceKeepsPermissionsAndReadsBackExactBytes) {
  ScratchDir dir;
  FileSystem& files = posix::DefaultFileSystem();
  const std::string path = dir.path() + "/qx_interface.ini";
  const std::string bytes("[center]\r\nname=\xB1\xB1\0x\r\n", 20);
  ASSERT_TRUE(files.ReplaceAll(path, bytes).ok());
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(files.ReplaceAll(path, bytes + "more").ok());
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  std::string content;
  ASSERT_TRUE(files.ReadAll(path, &content).ok());
  EXPECT_EQ(content, bytes + "more");
  EXPECT_TRUE(files.Exists(path));
  EXPECT_FALSE(files.Exists(path + ".none"));
  const Status missing = files.ReadAll(path + ".none", &content);
  EXPECT_EQ(missing.kind(), Status::Kind::kLocal);
  EXPECT_NE(missing.words().find(path + ".none"), std::string::npos);
  EXPECT_EQ(dir.Count(), 1);  // no temporary file left behind
}

TEST(PosixFileSystem, AWriteCutShortByAFileSizeLimitLeavesTheOldFile) {
  ScratchDir dir;
  FileSystem& files = posix::DefaultFileSystem();
  const std::string path = dir.path() + "/qx_interface.ini";
  const std::string old_content = "[center]\r\nserver=10.0.0.1\r\n\r\n";
  ASSERT_TRUE(files.ReplaceAll(path, old_content).ok());

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{16, 16};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = files.ReplaceAll(path, std::string(4096, 'x')).ok();
    _exit(written ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the cut-short write was reported as done";
  std::string content;
  ASSERT_TRUE(files.ReadAll(path, &content).ok());
  EXPECT_EQ(content, old_content);
  EXPECT_EQ(dir.Count(), 1);
  EXPECT_FALSE(files.ReplaceAll(dir.path() + "/missing/qx_interface.ini", "x").ok());
}

TEST(PosixFileSystem, CurrentDirectoryOfAnyLength) {
  ScratchDir dir;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  std::string deep = dir.path();
  ASSERT_EQ(chdir(deep.c_str()), 0);
  // Nested directories until the path is well past 512 bytes.
  std::string name(100, 'd');
  int depth = 0;
  for (; depth < 8; ++depth) {
    ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
    ASSERT_EQ(chdir(name.c_str()), 0);
    deep += "/" + name;
  }
  EXPECT_EQ(posix::DefaultFileSystem().CurrentDirectory(), deep);
  for (; depth > 0; --depth) {
    ASSERT_EQ(chdir(".."), 0);
    rmdir(name.c_str());
  }
  ASSERT_EQ(chdir(saved), 0);
}

}  // namespace
}  // namespace qx::platform
