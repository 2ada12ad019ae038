#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/fake_file_system.h"
#include "support/fake_prompts.h"
#include "support/gbk.h"

namespace qx::config {
namespace {

using platform::fake::FakeFileSystem;
using platform::fake::FakePrompts;
using test::Gbk;

constexpr char kPath[] = "/hospital/qx_interface.ini";

class IniFileTest : public ::testing::Test {
 protected:
  // Loads text as the file's content and returns the store written back out.
  std::string LoadAndSerialise(const std::string& text) {
    files_.files[kPath] = text;
    IniFile ini(files_, prompts_, kPath);
    EXPECT_TRUE(ini.Load().ok());
    return ini.Serialise(false);
  }

  FakeFileSystem files_;
  FakePrompts prompts_;
};

TEST_F(IniFileTest, LineEndsNamesAndValuesAreTakenAsTheyStand) {
  const std::string crlf =
      "[center]\r\nserver=10.1.2.3\r\n key = value \r\na=b=c\r\n=only value\r\nnoequals\r\n";
  std::string lf = crlf;
  for (std::string::size_type p; (p = lf.find("\r\n")) != std::string::npos;) {
    lf.erase(p, 1);
  }
  const std::string expected =
      "[center]\r\nserver=10.1.2.3\r\n key = value \r\na=b=c\r\n=oequals\r\n\r\n";
  EXPECT_EQ(LoadAndSerialise(crlf), expected);
  EXPECT_EQ(LoadAndSerialise(lf), expected);

  files_.files[kPath] = crlf;
  IniFile ini(files_, prompts_, kPath);
  ASSERT_TRUE(ini.Load().ok());
  EXPECT_EQ(ini.GetValue("center", " key ", false), " value ");
  EXPECT_EQ(ini.GetValue("center", "a", false), "b=c");
  // A second line without "=" overwrote the first one's value for the empty key.
  EXPECT_EQ(ini.GetValue("center", "", false), "oequals");
  EXPECT_EQ(ini.GetValue("center", "key", false), "");
}

TEST_F(IniFileTest, SectionsMergeAndKeepTheirFirstPosition) {
  const std::string text =
      "top=1\n"
      "[[center]]\n"
      "server=a\n"
      "[other]\n"
      "x=1\n"
      "[center]\n"
      "port=80\n"
      "server=b\n"
      "[empty]\n"
      "[half\n"
      "\n"
      "   \n"
      "[]\n"
      "late=2\n";
  // "[empty]" gets keys after all: "[half" and the line of three spaces are key lines without
  // "=", so both set its empty key, and the later one wins.
  EXPECT_EQ(LoadAndSerialise(text),
            "[]\r\ntop=1\r\nlate=2\r\n\r\n"
            "[center]\r\nserver=b\r\nport=80\r\n\r\n"
            "[other]\r\nx=1\r\n\r\n"
            "[empty]\r\n=  \r\n\r\n");
  files_.files[kPath] = text;
  IniFile ini(files_, prompts_, kPath);
  ASSERT_TRUE(ini.Load().ok());
  EXPECT_EQ(ini.GetValue("empty", "", false), "  ");
  EXPECT_EQ(ini.GetValue("nosuch", "x", false), "");
  EXPECT_EQ(ini.message(), Gbk(u8"对不起！您需要的关键字<nosuch>没有存在。"));
  EXPECT_EQ(ini.GetValue("other", "nokey", false), "");
  EXPECT_EQ(ini.message(), Gbk(u8"对不起！您需要的值<nokey>没有存在。"));
  // Section names compare byte for byte: no case folding, no trimming.
  EXPECT_EQ(ini.GetValue("Center", "server", false), "");

  // What was written loads back to the same store.
  const std::string written = ini.Serialise(false);
  EXPECT_EQ(LoadAndSerialise(written), written);
}

TEST_F(IniFileTest, LongLinesAreReadInPiecesOf2047Bytes) {
  const std::string long_line = "k=" + std::string(2998, 'v');  // 3000 bytes
  const std::string exact = "e=" + std::string(2045, 'w');      // exactly 2047 bytes
  files_.files[kPath] = "[s]\r\n" + long_line + "\r\n" + exact + "\r\n[t]\r\nz=1\r\n";
  IniFile ini(files_, prompts_, kPath);
  ASSERT_TRUE(ini.Load().ok());
  EXPECT_EQ(ini.GetValue("s", "k", false), std::string(2045, 'v'));
  // The 953 bytes after the first piece hold no "=": the empty key, less the first byte.
  EXPECT_EQ(ini.GetValue("s", "", false), std::string(952, 'v'));
  EXPECT_EQ(ini.GetValue("s", "e", false), std::string(2045, 'w'));
  EXPECT_EQ(ini.GetValue("t", "z", false), "1");
}

TEST_F(IniFileTest, BinaryJunkAndGbkSurviveAndNothingCrashes) {
  std::string junk = "[center]\nname=";
  junk += Gbk(u8"北京市医保中心");
  junk += "\n";
  junk += std::string("a=b\0hidden\n", 11);
  for (int i = 0; i < 256; ++i) {
    junk.push_back(static_cast<char>(i));
  }
  files_.files[kPath] = junk;
  IniFile ini(files_, prompts_, kPath);
  ASSERT_TRUE(ini.Load().ok());
  EXPECT_EQ(ini.GetValue("center", "name", false), Gbk(u8"北京市医保中心"));
  // A line is a C string: it ends at a zero byte.
  EXPECT_EQ(ini.GetValue("center", "a", false), "b");
}

TEST_F(IniFileTest, TransformIsItsOwnInverseAndTouchesValuesOnly) {
  IniFile ini(files_, prompts_, kPath);
  ASSERT_TRUE(ini.SetValue("center", "port",
                           std::string("\x01\x80\xff"
                                       "0",
                                       4),
                           true));
  const std::string saved = ini.Serialise(true);
  EXPECT_EQ(saved, std::string("[center]\r\nport=\xff\x80\x01\xd0\r\n\r\n"));
  files_.files[kPath] = saved;
  IniFile reread(files_, prompts_, kPath);
  ASSERT_TRUE(reread.Load().ok());
  EXPECT_EQ(reread.GetValue("center", "port", true), std::string("\x01\x80\xff"
                                                                 "0",
                                                                 4));
}

TEST_F(IniFileTest, SetValueWithoutCreateChangesNothingThatIsMissing) {
  IniFile ini(files_, prompts_, kPath);
  EXPECT_FALSE(ini.SetValue("center", "server", "x", false));
  EXPECT_TRUE(ini.SetValue("center", "server", "x", true));
  EXPECT_FALSE(ini.SetValue("center", "port", "80", false));
  EXPECT_TRUE(ini.SetValue("center", "server", "y", false));
  EXPECT_EQ(ini.Serialise(false), "[center]\r\nserver=y\r\n\r\n");
}

TEST_F(IniFileTest, MissingFileIsSilentUnreadableFileIsShown) {
  IniFile missing(files_, prompts_, kPath);
  EXPECT_EQ(missing.Load().kind(), Status::Kind::kNotFound);
  EXPECT_TRUE(prompts_.shown().empty());
  EXPECT_EQ(missing.message(), "");

  files_.unreadable.insert(kPath);
  IniFile unreadable(files_, prompts_, kPath);
  const Status read = unreadable.Load();
  EXPECT_EQ(read.kind(), Status::Kind::kLocal);
  EXPECT_EQ(read.words(),
            std::string("open ") + kPath + ": Permission denied");  // the system's own words
  const std::string expected =
      Gbk(u8"对不起！打开文件 ") + kPath + Gbk(u8" 时，出现不可恢复的错误。\n读取文件失败。");
  EXPECT_EQ(unreadable.message(), expected);
  ASSERT_EQ(prompts_.shown().size(), 1u);
  EXPECT_EQ(prompts_.shown()[0].text, expected);
  EXPECT_EQ(prompts_.shown()[0].icon, platform::BoxIcon::kError);
}

TEST_F(IniFileTest, SaveReplacesWholeOrAppendsAndAFailedSaveLosesNothing) {
  files_.files[kPath] = "[center]\r\nserver=old\r\n\r\n";
  {
    IniFile empty(files_, prompts_, kPath);
    EXPECT_TRUE(empty.Save(true, false).ok());
    EXPECT_EQ(files_.files[kPath], "");
  }
  files_.files[kPath] = "[center]\r\nserver=old\r\n\r\n";
  {
    IniFile ini(files_, prompts_, kPath);
    ini.SetValue("extra", "k", "v", true);
    EXPECT_TRUE(ini.Save(false, false).ok());
    EXPECT_EQ(files_.files[kPath], "[center]\r\nserver=old\r\n\r\n[extra]\r\nk=v\r\n\r\n");
  }
  const std::string before = files_.files[kPath];
  files_.replace_failures_after = files_.replace_calls;
  IniFile ini(files_, prompts_, kPath);
  ASSERT_TRUE(ini.Load().ok());
  ini.SetValue("center", "server", "new", true);
  EXPECT_EQ(ini.Save(true, false).words(),
            std::string("write ") + kPath + ": No space left on device");
  EXPECT_EQ(files_.files[kPath], before);
}

// 200 000 keys and 50 000 sections load in time linear in the file (0.3 s in the release build,
// 2 s with AddressSanitizer); a lookup per line that walks all earlier names took 59 s.
TEST_F(IniFileTest, ManyKeysAndSectionsLoadInLinearTime) {
  std::string text = "[center]\n";
  for (int i = 0; i < 200000; ++i) text.append("k").append(std::to_string(i)).append("=v\n");
  for (int i = 0; i < 50000; ++i) {
    const std::string n = std::to_string(i);
    text.append("[s").append(n).append("]\nk=").append(n).append("\n");
  }
  files_.files[kPath] = text;
  IniFile ini(files_, prompts_, kPath);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ini.Load().ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(ini.GetValue("center", "k199999", false), "v");
  EXPECT_EQ(ini.GetValue("s49999", "k", false), "49999");
}

}  // namespace
}  // namespace qx::config
