// The configuration file through the loaded library's init_handle and config_handle on the real
// file system: a file that cannot be read (or is no regular file, or is over 1 MB), a save into a
// directory the process may not write, a read-only file and a link. A save that cannot be
// completed leaves the old file byte for byte and no stray file beside it (cut short by a file
// size limit: tests/platform/file_system_posix_test.cpp).
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qx_interface.h"
#include "support/card_sim.h"
#include "support/fake_dialog.h"
#include "support/gbk.h"
#include "support/host_library.h"

namespace qx::test {
namespace {

const std::string kOldIni =
    "[center]\r\nserver=10.0.0.1\r\nport=8080\r\nservlet=/qx/servlet\r\ncom=2\r\n\r\n";

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

// Runs config_handle in a child process (with its own library load and current directory), as
// an unprivileged user when asked, and returns its result, or 100 + a reason code when the child
// failed.
int ConfigInChild(const std::string& directory, bool drop_to_nobody) {
  pid_t child = fork();
  if (child < 0) return 200;
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(101);
    void* handle = dlopen(QX_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) _exit(102);
    auto config =
        reinterpret_cast<int(QX_CALL*)(const char*, const char*, const char*, const char*)>(
            dlsym(handle, "config_handle"));
    if (config == nullptr) _exit(103);
    if (drop_to_nobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(104);
    const int result = config("192.168.1.20", "9090", nullptr, nullptr);
    _exit(result < 0 ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 201;
  return WEXITSTATUS(status) == 0 ? -1 : WEXITSTATUS(status) == 1 ? 1 : 100 + WEXITSTATUS(status);
}

// Whatever cannot be read as a regular file of at most 1 MB: a directory (also for root), a FIFO
// nobody writes (opening it must not wait), a link to /dev/zero (an endless read), a file of
// 1 MB + 1.
TEST(ConfigFaultsTest, AFileThatCannotBeReadIsReportedAndNeverReplaced) {
  alarm(60);  // a FIFO or /dev/zero read without bound would hang here
  const auto make_directory = [](const std::string& path) { return mkdir(path.c_str(), 0755); };
  const auto make_fifo = [](const std::string& path) { return mkfifo(path.c_str(), 0644); };
  const auto make_zero = [](const std::string& path) { return symlink("/dev/zero", path.c_str()); };
  const auto make_large = [](const std::string& path) {
    std::string big = kOldIni;
    big.resize((std::size_t{1} << 20) + 1, '\n');
    WriteFileBytes(path, big);
    return 0;
  };
  const struct {
    const char* name;
    int (*make)(const std::string&);
  } cases[] = {{"directory", +make_directory},
               {"fifo", +make_fifo},
               {"link to /dev/zero", +make_zero},
               {"1 MB + 1", +make_large}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDialog dialog;
    HostLibrary host("");
    const std::string path = host.directory() + "/qx_interface.ini";
    ASSERT_EQ(c.make(path), 0);
    struct stat before;
    ASSERT_EQ(lstat(path.c_str(), &before), 0);
    EXPECT_EQ(host.Init(), -1);
    EXPECT_EQ(host.last_message(), Gbk(u8"初始化配置文件无法打开(") + path + ").");
    EXPECT_EQ(dialog.Calls().size(), 1u);
    EXPECT_EQ(host.Config("127.0.0.1", "80", "/s", "1"), -1);
    struct stat after;
    ASSERT_EQ(lstat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(Names(host.directory()).size(), 1u);
    if (S_ISDIR(after.st_mode)) {
      EXPECT_EQ(rmdir(path.c_str()), 0);
    }
  }
  alarm(0);
}

// A folder the user may not write: a file the user may not write either stays as it was; one
// the user may write is rewritten in place (no temporary file can be made beside it).
TEST(ConfigFaultsTest, ASaveIntoADirectoryThatIsNotWritableRewritesAWritableFileInPlace) {
  const bool root = geteuid() == 0;  // root drops to uid 65534 in the child
  const struct {
    mode_t mode;
    int result;
  } cases[] = {{static_cast<mode_t>(root ? 0644 : 0444), -1}, {0666, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    CardScratchDir dir;
    const std::string path = dir.File("qx_interface.ini");
    WriteFileBytes(path, kOldIni);
    ASSERT_EQ(chmod(dir.path().c_str(), root ? 0755 : 0555), 0);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    const int result = ConfigInChild(dir.path(), root);
    chmod(dir.path().c_str(), 0755);
    if (result == 104) GTEST_SKIP() << "cannot drop to an unprivileged user here";
    EXPECT_EQ(result, c.result);
    if (c.result < 0) {
      EXPECT_EQ(ReadFileBytes(path), kOldIni);
    } else {
      EXPECT_EQ(ReadFileBytes(path),
                "[center]\r\nserver=192.168.1.20\r\nport=9090\r\nservlet=/qx/servlet\r\n"
                "com=2\r\n\r\n");
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"qx_interface.ini"});
  }
}

// A read-only file is refused, by root too, as the Windows build refuses it. A link is followed:
// its target is replaced beside itself, keeping its mode, owner and group; the link stays.
TEST(ConfigFaultsTest, AReadOnlyFileIsRefusedALinkIsFollowedTheOwnerKept) {
  HostLibrary host("");
  const std::string link = host.directory() + "/qx_interface.ini";
  const std::string target = host.directory() + "/real.ini";
  WriteFileBytes(target, kOldIni);
  ASSERT_EQ(symlink("real.ini", link.c_str()), 0);
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  EXPECT_EQ(host.Config(nullptr, "9090", nullptr, nullptr), -1);
  EXPECT_EQ(ReadFileBytes(target), kOldIni);

  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  EXPECT_EQ(host.Config(nullptr, "9090", nullptr, nullptr), 1);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_NE(ReadFileBytes(target)->find("port=9090\r\n"), std::string::npos);
  EXPECT_EQ(Names(host.directory()).size(), 2u);  // no temporary file left
}

}  // namespace
}  // namespace qx::test
