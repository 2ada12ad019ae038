// The Win32 prompts: the password dialog's template as the resource compiler left it in the
// module, and the boxes and dialogs driven the way a clerk would (keys sent to the windows from
// a timer running inside the modal loop). The driven tests need a window station; under Wine the
// null display driver is enough (scripts/test-windows selects it).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/prompts.h"
#include "platform/win32/default_parts.h"
#include "prompts_resources.h"
#include "support/gbk.h"

namespace qx::platform {
namespace {

using qx::test::Gbk;

// ---- reading a DLGTEMPLATEEX -----------------------------------------------------------------

struct DialogItem {
  uint32_t ex_style = 0;
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  uint32_t id = 0;
  uint16_t class_atom = 0;  // 0x80 button, 0x81 edit, 0x82 static ...
  std::wstring title;
};

struct DialogTemplate {
  uint32_t ex_style = 0;
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::wstring title;
  uint16_t point_size = 0;
  std::wstring face;
  std::vector<DialogItem> items;
};

class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  template <typename T>
  T Get() {
    T value{};
    if (pos_ + sizeof(T) <= size_) {
      std::memcpy(&value, data_ + pos_, sizeof(T));
    }
    pos_ += sizeof(T);
    return value;
  }
  std::wstring String() {
    std::wstring text;
    for (wchar_t c = Get<wchar_t>(); c != 0 && pos_ <= size_; c = Get<wchar_t>()) {
      text.push_back(c);
    }
    return text;
  }
  // sz_Or_Ord: none, an ordinal (returned in *ordinal) or a string.
  std::wstring StringOrOrdinal(uint16_t* ordinal) {
    uint16_t first = Get<uint16_t>();
    if (first == 0) {
      return std::wstring();
    }
    if (first == 0xFFFF) {
      *ordinal = Get<uint16_t>();
      return std::wstring();
    }
    pos_ -= 2;
    return String();
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3); }
  void Skip(std::size_t n) { pos_ += n; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

bool LoadTemplate(int id, DialogTemplate* out) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (found == nullptr) {
    return false;
  }
  auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  Reader r(data, SizeofResource(module, found));
  if (r.Get<uint16_t>() != 1 || r.Get<uint16_t>() != 0xFFFF) {
    return false;  // not DIALOGEX
  }
  r.Get<uint32_t>();  // help id
  out->ex_style = r.Get<uint32_t>();
  out->style = r.Get<uint32_t>();
  uint16_t count = r.Get<uint16_t>();
  out->x = r.Get<int16_t>();
  out->y = r.Get<int16_t>();
  out->cx = r.Get<int16_t>();
  out->cy = r.Get<int16_t>();
  uint16_t ordinal = 0;
  r.StringOrOrdinal(&ordinal);  // menu
  r.StringOrOrdinal(&ordinal);  // class
  out->title = r.String();
  if (out->style & DS_SETFONT) {
    out->point_size = r.Get<uint16_t>();
    r.Get<uint16_t>();  // weight
    r.Get<uint8_t>();   // italic
    r.Get<uint8_t>();   // charset
    out->face = r.String();
  }
  for (uint16_t i = 0; i < count; ++i) {
    r.AlignDword();
    DialogItem item;
    r.Get<uint32_t>();  // help id
    item.ex_style = r.Get<uint32_t>();
    item.style = r.Get<uint32_t>();
    item.x = r.Get<int16_t>();
    item.y = r.Get<int16_t>();
    item.cx = r.Get<int16_t>();
    item.cy = r.Get<int16_t>();
    item.id = r.Get<uint32_t>();
    r.StringOrOrdinal(&item.class_atom);
    uint16_t title_ordinal = 0;
    item.title = r.StringOrOrdinal(&title_ordinal);
    r.Skip(r.Get<uint16_t>());
    out->items.push_back(item);
  }
  return true;
}

TEST(PasswordDialogTemplate, IsTheBarePopupWithGroupBoxEditAndHiddenButton) {
  DialogTemplate t;
  ASSERT_TRUE(LoadTemplate(QX_IDD_PASSWORD, &t)) << "dialog template 7000 is not in the module";
  EXPECT_EQ(QX_IDD_PASSWORD, 7000);
  EXPECT_EQ(t.cx, 118);
  EXPECT_EQ(t.cy, 58);
  EXPECT_EQ(t.face, L"\x5B8B\x4F53");  // 宋体, read as GBK by the resource compiler
  EXPECT_EQ(t.point_size, 10);
  EXPECT_TRUE(t.style & WS_POPUP);
  EXPECT_FALSE(t.style & (WS_CAPTION | WS_SYSMENU));
  EXPECT_TRUE(t.style & DS_3DLOOK);
  EXPECT_TRUE(t.style & DS_SETFOREGROUND);
  EXPECT_TRUE(t.ex_style & WS_EX_CLIENTEDGE);
  ASSERT_EQ(t.items.size(), 3u);

  const DialogItem& group = t.items[0];
  EXPECT_EQ(group.class_atom, 0x80);
  EXPECT_EQ(group.style & 0xF, static_cast<uint32_t>(BS_GROUPBOX));
  EXPECT_EQ(group.title,
            L"\x8BF7\x7528\x6237\x8F93\x5165"
            L"6"
            L"\x4F4D\x5BC6\x7801");
  EXPECT_EQ(std::vector<int>({group.x, group.y, group.cx, group.cy}),
            std::vector<int>({11, 8, 95, 40}));

  const DialogItem& edit = t.items[1];
  EXPECT_EQ(edit.id, 7000u);
  EXPECT_EQ(edit.class_atom, 0x81);
  EXPECT_EQ(std::vector<int>({edit.x, edit.y, edit.cx, edit.cy}),
            std::vector<int>({25, 22, 50, 14}));
  for (uint32_t bit : {static_cast<uint32_t>(WS_BORDER), static_cast<uint32_t>(WS_TABSTOP),
                       static_cast<uint32_t>(ES_PASSWORD), static_cast<uint32_t>(ES_AUTOHSCROLL),
                       static_cast<uint32_t>(WS_VISIBLE)}) {
    EXPECT_TRUE(edit.style & bit) << std::hex << bit;
  }

  const DialogItem& ok = t.items[2];
  EXPECT_EQ(ok.id, static_cast<uint32_t>(IDOK));
  EXPECT_EQ(ok.class_atom, 0x80);
  EXPECT_EQ(ok.style & 0xF, static_cast<uint32_t>(BS_DEFPUSHBUTTON));
  EXPECT_FALSE(ok.style & WS_VISIBLE);
  EXPECT_EQ(ok.title, L"OK");
  EXPECT_EQ(std::vector<int>({ok.x, ok.y, ok.cx, ok.cy}), std::vector<int>({83, 22, 13, 14}));
}

// ---- driving the real windows ----------------------------------------------------------------

// What the clerk does once the modal window is up, run from a thread timer inside its loop.
struct Script {
  enum class Action { kTypeAndEnter, kEscape, kPressRetry, kPressCancel, kPressOk };
  Script(Action what, std::string keys) : action(what), typed(std::move(keys)) {}
  Action action;
  std::string typed;
  // What was seen.
  bool found = false;
  std::string caption;
  std::string group_text;
  std::vector<std::string> statics;
};

Script* g_script = nullptr;
int g_ticks = 0;

BOOL CALLBACK CollectStatic(HWND child, LPARAM) {
  char text[512] = {};
  char klass[64] = {};
  GetClassNameA(child, klass, sizeof klass);
  GetWindowTextA(child, text, sizeof text);
  if (lstrcmpiA(klass, "Static") == 0 && text[0] != '\0') {
    g_script->statics.push_back(text);
  }
  return TRUE;
}

BOOL CALLBACK FindModal(HWND window, LPARAM found) {
  char klass[64] = {};
  GetClassNameA(window, klass, sizeof klass);
  if (std::strcmp(klass, "#32770") == 0 && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindModal, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) {
    if (++g_ticks > 200) {  // 10 s without a window: give up, the test fails on !found
      KillTimer(nullptr, timer);
    }
    return;
  }
  KillTimer(nullptr, timer);
  Script& s = *g_script;
  s.found = true;
  char text[512] = {};
  GetWindowTextA(dialog, text, sizeof text);
  s.caption = text;
  if (HWND group = GetDlgItem(dialog, QX_IDC_PASSWORD_GROUP)) {
    GetWindowTextA(group, text, sizeof text);
    s.group_text = text;
  }
  EnumChildWindows(dialog, CollectStatic, 0);
  switch (s.action) {
    case Script::Action::kTypeAndEnter: {
      HWND edit = GetDlgItem(dialog, QX_IDC_PASSWORD_EDIT);
      for (unsigned char c : s.typed) {
        SendMessageA(edit, WM_CHAR, c, 0);
      }
      PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
      PostMessageA(edit, WM_KEYUP, VK_RETURN, 0);
      break;
    }
    case Script::Action::kEscape:
      PostMessageA(GetDlgItem(dialog, QX_IDC_PASSWORD_EDIT), WM_KEYDOWN, VK_ESCAPE, 0);
      break;
    case Script::Action::kPressRetry:
      PostMessageA(dialog, WM_COMMAND, IDRETRY, 0);
      break;
    case Script::Action::kPressCancel:
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      break;
    case Script::Action::kPressOk:
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      break;
  }
}

class DrivenPrompts : public ::testing::Test {
 protected:
  void SetUp() override {
    HWND probe = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    if (probe == nullptr) {
      GTEST_SKIP() << "no window can be made here (error " << GetLastError() << ")";
    }
    DestroyWindow(probe);
  }

  void Arm(Script* script) {
    g_script = script;
    g_ticks = 0;
    SetTimer(nullptr, 0, 50, Tick);
  }
};

TEST_F(DrivenPrompts, PasswordIsCutToItsLimitAndEnterConfirms) {
  Script script{Script::Action::kTypeAndEnter, "123456789"};
  Arm(&script);
  std::string typed = win32::DefaultPrompts().AskPassword(Gbk(u8"请用户输入6位密码"), 6);
  EXPECT_TRUE(script.found);
  EXPECT_EQ(typed, "123456");
  EXPECT_EQ(script.group_text, Gbk(u8"请用户输入6位密码"));
}

TEST_F(DrivenPrompts, EscapeGivesTheEmptyPassword) {
  Script script{Script::Action::kEscape, ""};
  Arm(&script);
  EXPECT_EQ(win32::DefaultPrompts().AskPassword(Gbk(u8"请用户输入6位密码"), 6), "");
  EXPECT_TRUE(script.found);
}

TEST_F(DrivenPrompts, RetryCancelBoxShowsGbkTextAndCaption) {
  Script retry{Script::Action::kPressRetry, ""};
  Arm(&retry);
  EXPECT_EQ(
      win32::DefaultPrompts().ShowBox(Gbk(u8"找不到IC卡函数(ICStart)！"), Gbk(u8"IC卡操作失败"),
                                      BoxButtons::kRetryCancel, BoxIcon::kNone),
      BoxAnswer::kRetry);
  EXPECT_TRUE(retry.found);
  EXPECT_EQ(retry.caption, Gbk(u8"IC卡操作失败"));
  EXPECT_NE(
      std::find(retry.statics.begin(), retry.statics.end(), Gbk(u8"找不到IC卡函数(ICStart)！")),
      retry.statics.end());

  Script cancel{Script::Action::kPressCancel, ""};
  Arm(&cancel);
  EXPECT_EQ(win32::DefaultPrompts().ShowBox("x", "y", BoxButtons::kRetryCancel, BoxIcon::kNone),
            BoxAnswer::kCancel);
  EXPECT_TRUE(cancel.found);
}

TEST_F(DrivenPrompts, OkBoxAnswersOk) {
  Script ok{Script::Action::kPressOk, ""};
  Arm(&ok);
  EXPECT_EQ(win32::DefaultPrompts().ShowBox(Gbk(u8"无效的口令."), Gbk(u8"错误"), BoxButtons::kOk,
                                            BoxIcon::kError),
            BoxAnswer::kOk);
  EXPECT_TRUE(ok.found);
  EXPECT_EQ(ok.caption, Gbk(u8"错误"));
}

}  // namespace
}  // namespace qx::platform
