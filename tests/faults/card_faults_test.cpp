// Card work through the business call of the loaded library, with the simulated card reader
// libqxic.so beside it: every entry point failing, a failure after n calls, entry points or the
// whole library missing, texts that fill their buffers without a terminating zero and an error
// text of 5 000 bytes. The host gets the card's status and message in the result XML; the card
// file holds the old card or the new one, never a mixture.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "qx_interface.h"
#include "support/card_sim.h"
#include "support/center_sim_process.h"
#include "support/fake_dialog.h"
#include "support/gbk.h"

namespace qx::test {
namespace {

const std::string kLogin =
    "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
    "<password>123456</password></parameters></Program>";
const std::string kUserInfo = "<Program><FunctionID>8</FunctionID></Program>";
const std::string kWriteCard =
    "<Program><FunctionID>41</FunctionID><parameters><card_no>C43010012345</card_no>"
    "</parameters></Program>";
const std::string kReadCard = "<Program><FunctionID>32</FunctionID><parameters/></Program>";

std::string OldCard() {
  return "card_no=C43010012345\nindi_id=430102198001010012\nlast_balance=100.00\n"
         "last_pay_date=2024-01-01\nname=" +
         Gbk(u8"张伟") + "\n";
}
std::string NewCard() {
  return "card_no=C43010012345\nindi_id=430102198001010012\nlast_balance=1250.40\n"
         "last_pay_date=2024-05-20\nname=" +
         Gbk(u8"张伟") + "\n";
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  std::size_t start = text.find(open);
  if (start == std::string::npos) return "<none>";
  start += open.size();
  std::size_t end = text.find(close, start);
  return end == std::string::npos ? "<none>" : text.substr(start, end - start);
}

// A copy of the built library in a scratch directory, with the chosen card reader library
// beside it as libqxic.so (or none), loaded from there as a host loads it.
class CopiedLibrary {
 public:
  CopiedLibrary(const std::optional<std::string>& card_variant, uint16_t port) {
    Copy(QX_LIBRARY_FILE, dir_.File("libqx_interface.so"));
    if (card_variant) {
      Copy(CardSimLibrary(*card_variant), dir_.File("libqxic.so"));
    }
    WriteFileBytes(dir_.File("qx_interface.ini"),
                   "[center]\r\nserver=127.0.0.1\r\nport=" + std::to_string(port) +
                       "\r\nservlet=/qx/servlet\r\ncom=1\r\n\r\n");
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) saved_cwd_ = cwd;
    if (chdir(dir_.path().c_str()) != 0) throw std::runtime_error("chdir");
    handle_ = dlopen(dir_.File("libqx_interface.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    init_ = reinterpret_cast<decltype(init_)>(dlsym(handle_, "init_handle"));
    business_ = reinterpret_cast<decltype(business_)>(dlsym(handle_, "business_handle"));
  }
  ~CopiedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
    if (!saved_cwd_.empty()) (void)!chdir(saved_cwd_.c_str());
  }
  CopiedLibrary(const CopiedLibrary&) = delete;
  CopiedLibrary& operator=(const CopiedLibrary&) = delete;

  int Init() {
    std::string message(255, ' ');
    return init_(message.data());
  }
  int Business(const std::string& request) {
    std::string buffer(1 << 16, ' ');
    int result = business_(request.c_str(), buffer.data());
    reply_ = buffer.c_str();
    return result;
  }
  const std::string& reply() const { return reply_; }
  std::string CardFile() const { return dir_.File("card.txt"); }

 private:
  static void Copy(const std::string& from, const std::string& to) {
    std::optional<std::string> bytes = ReadFileBytes(from);
    if (!bytes) throw std::runtime_error("cannot read " + from);
    WriteFileBytes(to, *bytes);
  }

  CardScratchDir dir_;
  std::string saved_cwd_;
  void* handle_ = nullptr;
  int(QX_CALL* init_)(char*) = nullptr;
  int(QX_CALL* business_)(const char*, char*) = nullptr;
  std::string reply_;
};

class CardFaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim_ = new CenterSimProcess(); }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(sim_->ok()) << sim_->error(); }

  // A logged-in session over the card reader variant, with the old card in the reader.
  std::unique_ptr<CopiedLibrary> Session(const std::optional<std::string>& variant) {
    auto library = std::make_unique<CopiedLibrary>(variant, sim_->port());
    WriteFileBytes(library->CardFile(), OldCard());
    card_file_.emplace("QXIC_CARD_FILE", library->CardFile());
    EXPECT_EQ(library->Init(), 1);
    EXPECT_EQ(library->Business(kLogin), 0);
    EXPECT_EQ(library->Business(kUserInfo), 0);
    return library;
  }

  static CenterSimProcess* sim_;
  FakeDialog dialog_;  // every box is answered with Cancel
  std::optional<ScopedEnvVar> card_file_;
};

CenterSimProcess* CardFaultsTest::sim_ = nullptr;

struct Case {
  const char* faults;
  const char* variant;  // the card reader library beside ours; null for none
  int result;
  const char8_t* message_head;  // the message starts with it
  const char* library_text;     // follows the head, or null when the message is the head alone
};

TEST_F(CardFaultsTest, EveryEntryPointFailingOrMissingReachesTheHostAndTheCardStaysOld) {
  const std::vector<Case> cases = {
      {"ICStart=fail", "qxic", -300, u8"启动IC卡操作时出错：", "ICStart failed (injected fault)"},
      {"ICGet=fail", "qxic", -301, u8"执行底层IC卡函数(get)出错：",
       "ICGet failed (injected fault)"},
      {"ICPut=fail", "qxic", -302, u8"执行底层IC卡函数(put)出错：",
       "ICPut failed (injected fault)"},
      {"ICPut=return:3", "qxic", -207, u8"IC卡函数(ICPut)执行出错！", ""},
      {"ICExecute=fail", "qxic", -303, u8"写IC卡时出错：", "ICExecute failed (injected fault)"},
      {"", "qxic_no_start", -200, u8"找不到IC卡函数(ICStart)！", nullptr},
      {"", "qxic_no_get", -201, u8"找不到IC卡函数(ICGet)！", nullptr},
      {"", "qxic_no_put", -202, u8"找不到IC卡函数(ICPut)！", nullptr},
      {"", "qxic_no_execute", -203, u8"找不到IC卡函数(ICExecute)！", nullptr},
      {"ICStart=fail", "qxic_no_geterrmsg", -211, u8"找不到IC卡函数(ICGeterrMsg)！", nullptr},
      {"", nullptr, -200, u8"找不到IC卡函数(ICStart)！", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.faults) + " / " + (c.variant ? c.variant : "no library"));
    auto library = Session(c.variant ? std::optional<std::string>(c.variant) : std::nullopt);
    ScopedEnvVar faults("QXIC_FAULTS", std::string(c.faults));
    EXPECT_EQ(library->Business(kWriteCard), c.result);
    EXPECT_EQ(Between(library->reply(), "<ErrorNo>", "</ErrorNo>"), std::to_string(c.result));
    const std::string message = Between(library->reply(), "<ErrorMessage>", "</ErrorMessage>");
    const std::string head = Gbk(c.message_head);
    EXPECT_EQ(message.substr(0, head.size()), head) << Utf8(message);
    if (c.library_text == nullptr) {
      EXPECT_EQ(message, head);
    } else {
      EXPECT_NE(message.find(c.library_text), std::string::npos) << Utf8(message);
    }
    EXPECT_EQ(ReadFileBytes(library->CardFile()), OldCard());
  }
}

TEST_F(CardFaultsTest, AFailedResetIsNotFatalAndAMissingOneIsNotEither) {
  for (const char* variant : {"qxic", "qxic_no_reset"}) {
    SCOPED_TRACE(variant);
    auto library = Session(std::string(variant));
    ScopedEnvVar faults("QXIC_FAULTS", std::string("ICReset=fail"));
    EXPECT_EQ(library->Business(kWriteCard), 0) << Utf8(library->reply());
    EXPECT_EQ(ReadFileBytes(library->CardFile()), NewCard());
  }
}

TEST_F(CardFaultsTest, AFailureAfterAnyNumberOfCallsLeavesTheOldCardOrTheNewOne) {
  // Reset, start, five reads of the current values, two puts, the commit: ten calls.
  for (int n = 1; n <= 11; ++n) {
    SCOPED_TRACE(n);
    auto library = Session(std::string("qxic"));
    ScopedEnvVar faults("QXIC_FAULTS", "*=fail-on:" + std::to_string(n));
    const int result = library->Business(kWriteCard);
    const std::optional<std::string> card = ReadFileBytes(library->CardFile());
    if (result == 0) {
      EXPECT_EQ(card, NewCard());
    } else {
      EXPECT_LT(result, 0);
      EXPECT_EQ(card, OldCard());
      EXPECT_EQ(Between(library->reply(), "<ErrorNo>", "</ErrorNo>"), std::to_string(result));
    }
  }
}

TEST_F(CardFaultsTest, TextsOverrunningTheirBuffersAreCutToTheMessageLimit) {
  struct TextCase {
    const char* faults;
    int result;
    const char8_t* head;
  };
  const TextCase cases[] = {
      {"ICStart=fail;ICGeterrMsg=unterminated", -300, u8"启动IC卡操作时出错："},
      {"ICExecute=fail;ICGeterrMsg=long:5000", -303, u8"写IC卡时出错："},
      {"ICGet=fail;ICGeterrMsg=long:5000", -301, u8"执行底层IC卡函数(get)出错："},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.faults);
    auto library = Session(std::string("qxic"));
    ScopedEnvVar faults("QXIC_FAULTS", std::string(c.faults));
    EXPECT_EQ(library->Business(kWriteCard), c.result);
    const std::string message = Between(library->reply(), "<ErrorMessage>", "</ErrorMessage>");
    const std::string head = Gbk(c.head);
    EXPECT_EQ(message.substr(0, head.size()), head) << Utf8(message);
    EXPECT_GT(message.size(), 1000u);
    EXPECT_LE(message.size(), 1023u);
    EXPECT_EQ(library->reply().substr(library->reply().size() - 10), "</Program>");
    EXPECT_EQ(ReadFileBytes(library->CardFile()), OldCard());
  }
}

TEST_F(CardFaultsTest, ValuesFillingTheirBufferWithoutAZeroAreReadAsNinetyNineBytes) {
  auto library = Session(std::string("qxic"));
  ScopedEnvVar faults("QXIC_FAULTS", std::string("ICGet=unterminated"));
  EXPECT_EQ(library->Business(kReadCard), 0) << Utf8(library->reply());
  const std::string card_no = Between(library->reply(), "<card_no>", "</card_no>");
  EXPECT_EQ(card_no.substr(0, 12), "C43010012345") << Utf8(card_no);
  EXPECT_LE(card_no.size(), 99u);
  EXPECT_GT(card_no.size(), 12u);
  EXPECT_EQ(ReadFileBytes(library->CardFile()), OldCard());
}

}  // namespace
}  // namespace qx::test
