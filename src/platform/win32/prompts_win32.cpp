// What the clerk sees on Win32: MessageBoxA without an owner window, and two modal dialogs built
// from the templates in prompts.rc (the card password, template 7000; user name and password,
// template 7010). Texts arrive in the ANSI code page and go to the *A functions as they are.
//
// Quirks handled here:
//  - The templates live in the module that holds this code (the interface DLL, or a test
//    program), which is found from the address of a function here, not from the process's
//    main module.
//  - The password dialog has no visible button: Enter presses the hidden default button (IDOK),
//    Escape cancels. The edit is limited to max_length bytes with EM_LIMITTEXT.
//  - When no window can be made (a session without a desktop), MessageBoxA and DialogBoxParamA
//    fail and return 0 or -1; that is "nobody answers": OK for a plain box, Cancel otherwise,
//    empty input.
//  - Typed secrets are wiped from the buffers they passed through.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/memory_wipe.h"
#include "platform/prompts.h"
#include "platform/win32/default_parts.h"
#include "platform/win32/prompts_resources.h"

namespace qx::platform::win32 {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

void Wipe(std::vector<char>& secret) { WipeBytes(secret.data(), secret.size()); }

void Wipe(std::string& secret) { WipeString(&secret); }

std::string ItemText(HWND dialog, int id, std::size_t max_length) {
  std::vector<char> buffer(max_length + 1, '\0');
  UINT got = GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
  std::string text(buffer.data(), got);
  Wipe(buffer);
  return text;
}

// ---- the card password -----------------------------------------------------------------------

struct PasswordRequest {
  std::string label;
  std::size_t max_length = 0;
  std::string typed;
};

// WM_INITDIALOG of either dialog: the request handed to DialogBoxParamA, kept in DWLP_USER for
// the buttons.
template <typename Request>
Request& KeepRequest(HWND dialog, LPARAM lparam) {
  SetWindowLongPtrA(dialog, DWLP_USER, lparam);
  return *reinterpret_cast<Request*>(lparam);
}

// A button of either dialog: OK hands the typed text to the request (take) and closes the
// dialog, Cancel closes it; the request was stored in DWLP_USER by WM_INITDIALOG.
template <typename Request, typename Take>
INT_PTR OnButton(HWND dialog, WPARAM wparam, Take take) {
  auto* request = reinterpret_cast<Request*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (LOWORD(wparam) == IDOK && request != nullptr) {
    take(*request);
    EndDialog(dialog, IDOK);
    return TRUE;
  }
  if (LOWORD(wparam) == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto& request = KeepRequest<PasswordRequest>(dialog, lparam);
      if (!request.label.empty()) {
        SetDlgItemTextA(dialog, QX_IDC_PASSWORD_GROUP, request.label.c_str());
      }
      SendDlgItemMessageA(dialog, QX_IDC_PASSWORD_EDIT, EM_LIMITTEXT,
                          static_cast<WPARAM>(request.max_length), 0);
      SetFocus(GetDlgItem(dialog, QX_IDC_PASSWORD_EDIT));
      return FALSE;  // focus set here
    }
    case WM_COMMAND:
      return OnButton<PasswordRequest>(dialog, wparam, [dialog](PasswordRequest& request) {
        request.typed = ItemText(dialog, QX_IDC_PASSWORD_EDIT, request.max_length);
      });
    default:
      return FALSE;
  }
}

// ---- user name and password ------------------------------------------------------------------

constexpr std::size_t kMaxCredential = 256;

struct CredentialsRequest {
  std::string target;
  Credentials answer;
};

INT_PTR CALLBACK CredentialsProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto& request = KeepRequest<CredentialsRequest>(dialog, lparam);
      SetWindowTextA(dialog, request.target.c_str());
      SendDlgItemMessageA(dialog, QX_IDC_CREDENTIALS_USER, EM_LIMITTEXT, kMaxCredential, 0);
      SendDlgItemMessageA(dialog, QX_IDC_CREDENTIALS_PASSWORD, EM_LIMITTEXT, kMaxCredential, 0);
      return TRUE;
    }
    case WM_COMMAND:
      return OnButton<CredentialsRequest>(dialog, wparam, [dialog](CredentialsRequest& request) {
        request.answer.user = ItemText(dialog, QX_IDC_CREDENTIALS_USER, kMaxCredential);
        request.answer.password = ItemText(dialog, QX_IDC_CREDENTIALS_PASSWORD, kMaxCredential);
      });
    default:
      return FALSE;
  }
}

class Win32Prompts final : public Prompts {
 public:
  BoxAnswer ShowBox(std::string_view text, std::string_view caption, BoxButtons buttons,
                    BoxIcon icon) override {
    UINT type = buttons == BoxButtons::kRetryCancel ? MB_RETRYCANCEL : MB_OK;
    if (icon == BoxIcon::kError) {
      type |= MB_ICONERROR;
    } else if (icon == BoxIcon::kInformation) {
      type |= MB_ICONINFORMATION;
    }
    const std::string shown_text(text);
    const std::string shown_caption(caption);
    int answer = MessageBoxA(nullptr, shown_text.c_str(), shown_caption.c_str(), type);
    if (buttons == BoxButtons::kOk) {
      return BoxAnswer::kOk;
    }
    return answer == IDRETRY ? BoxAnswer::kRetry : BoxAnswer::kCancel;
  }

  std::string AskPassword(std::string_view label, std::size_t max_length) override {
    PasswordRequest request;
    request.label = std::string(label);
    request.max_length = max_length;
    INT_PTR answer = DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(QX_IDD_PASSWORD), nullptr,
                                     PasswordProc, reinterpret_cast<LPARAM>(&request));
    if (answer != IDOK) {
      Wipe(request.typed);
      return std::string();
    }
    return std::move(request.typed);
  }

  std::optional<Credentials> AskCredentials(std::string_view target) override {
    CredentialsRequest request;
    request.target = std::string(target);
    INT_PTR answer = DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(QX_IDD_CREDENTIALS), nullptr,
                                     CredentialsProc, reinterpret_cast<LPARAM>(&request));
    if (answer != IDOK || request.answer.user.empty()) {
      Wipe(request.answer.password);
      return std::nullopt;
    }
    return std::move(request.answer);
  }
};

}  // namespace

Prompts& DefaultPrompts() { return ProcessWide<Win32Prompts>(); }

}  // namespace qx::platform::win32
