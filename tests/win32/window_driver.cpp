#include "tests/win32/window_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "res/resource.h"
#include "ui/toolkit/application.h"
#include "ui/win32/wide_text.h"

namespace {

constexpr UINT kClickTimeoutMs = 10000;
constexpr std::size_t kTextCapacity = 1024;

std::wstring WideWindowText(HWND window) {
  std::wstring text(kTextCapacity, L'\0');
  const LRESULT length =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

struct DialogSearch {
  HWND owner;
  const std::wstring& caption;
  HWND found = nullptr;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<DialogSearch*>(parameter);
  if (!IsWindowVisible(window) || !IsDialogBox(window)) return TRUE;
  if (GetWindow(window, GW_OWNER) != search.owner) return TRUE;
  if (!search.owner && WideWindowText(window) != search.caption) return TRUE;
  search.found = window;
  return FALSE;
}

bool IsStatic(HWND window, bool icon) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  return _wcsicmp(name, L"Static") == 0 && ((style & SS_TYPEMASK) == SS_ICON) == icon;
}

BOOL CALLBACK FirstStaticText(HWND child, LPARAM parameter) {
  if (!IsStatic(child, false)) return TRUE;
  std::wstring text = WideWindowText(child);
  if (text.empty()) return TRUE;
  *reinterpret_cast<std::wstring*>(parameter) = std::move(text);
  return FALSE;
}

BOOL CALLBACK FirstStaticIcon(HWND child, LPARAM parameter) {
  if (!IsStatic(child, true)) return TRUE;
  *reinterpret_cast<HICON*>(parameter) =
      reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
  return FALSE;
}

void PressOk(HWND dialog) {
  if (const HWND ok = GetDlgItem(dialog, IDOK)) {
    PostMessageW(ok, BM_CLICK, 0, 0);
  } else {
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  }
}

}  // namespace

bool IsDialogBox(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return std::wstring_view(name) == L"#32770";
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    Sleep(10);
  }
  return true;
}

std::string WindowText(HWND window) {
  return ui::Utf8FromWide(WideWindowText(window));
}

std::string MessageBoxText(HWND box) {
  std::wstring text;
  EnumChildWindows(box, FirstStaticText, reinterpret_cast<LPARAM>(&text));
  return ui::Utf8FromWide(text);
}

HICON MessageBoxIcon(HWND box) {
  HICON icon = nullptr;
  EnumChildWindows(box, FirstStaticIcon, reinterpret_cast<LPARAM>(&icon));
  return icon;
}

HWND FindDialog(DWORD threadId, HWND owner, const std::wstring& caption) {
  DialogSearch search{owner, caption};
  EnumThreadWindows(threadId, MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool CloseWithOk(HWND dialog) {
  PressOk(dialog);
  // An ended dialog is hidden at once and destroyed once its modal loop has returned.
  return WaitUntil([dialog] { return !IsWindowVisible(dialog); }, 5s);
}

void PressKey(HWND control, WPARAM key) {
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

HICON ProgramIcon(int iconId) {
  return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId));
}

RunningMainWindow::RunningMainWindow() {
  thread_ = std::thread([this] {
    threadId_ = GetCurrentThreadId();
    result_ = ui::RunMainDialog(IDD_MAIN, dialog_);
    ended_ = true;
  });
  const bool shown = WaitUntil(
      [this] {
        window_ = FindDialog(threadId_, nullptr, L"KL-395");
        return window_ != nullptr || ended_;
      },
      10s);
  EXPECT_TRUE(shown && window_) << "the main window did not show";
}

RunningMainWindow::~RunningMainWindow() {
  if (!ended_ && window_) PostMessageW(window_, WM_COMMAND, IDCANCEL, 0);
  if (!WaitForEnd(10s)) {
    std::fprintf(stderr, "The main window did not end when closed: the run would hang.\n");
    std::fflush(stderr);
    std::_Exit(3);
  }
  thread_.join();
}

std::string RunningMainWindow::Text(int controlId) const {
  wchar_t text[kTextCapacity] = {};
  const UINT length = GetDlgItemTextW(window_, controlId, text, static_cast<int>(kTextCapacity));
  return ui::Utf8FromWide({text, length});
}

void RunningMainWindow::SetText(int controlId, const std::string& text) const {
  SetDlgItemTextW(window_, controlId, ui::WideFromUtf8(text).c_str());
}

int RunningMainWindow::Selection(int controlId) const {
  return static_cast<int>(SendDlgItemMessageW(window_, controlId, CB_GETCURSEL, 0, 0));
}

void RunningMainWindow::Select(int controlId, int index) const {
  SendDlgItemMessageW(window_, controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int RunningMainWindow::EntryCount(int controlId) const {
  return static_cast<int>(SendDlgItemMessageW(window_, controlId, CB_GETCOUNT, 0, 0));
}

std::string RunningMainWindow::EntryText(int controlId, int index) const {
  wchar_t text[kTextCapacity] = {};
  const LRESULT length = SendDlgItemMessageW(
      window_, controlId, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  return length < 0 ? std::string() : ui::Utf8FromWide({text, static_cast<std::size_t>(length)});
}

bool RunningMainWindow::IsChecked(int controlId) const {
  return IsDlgButtonChecked(window_, controlId) == BST_CHECKED;
}

HICON RunningMainWindow::Icon(int controlId) const {
  return reinterpret_cast<HICON>(SendDlgItemMessageW(window_, controlId, STM_GETICON, 0, 0));
}

void RunningMainWindow::Click(int controlId) const {
  DWORD_PTR result = 0;
  const LRESULT handled = SendMessageTimeoutW(Control(controlId), BM_CLICK, 0, 0, SMTO_NORMAL,
                                              kClickTimeoutMs, &result);
  EXPECT_NE(handled, 0) << "the click on control " << controlId << " was not handled in time";
}

void RunningMainWindow::PostClick(int controlId) const {
  PostMessageW(Control(controlId), BM_CLICK, 0, 0);
}

void RunningMainWindow::Focus(int controlId) const {
  PostMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(controlId)), TRUE);
}

HWND RunningMainWindow::WaitForDialog(std::chrono::milliseconds timeout) const {
  HWND dialog = nullptr;
  WaitUntil(
      [&] {
        dialog = FindDialog(threadId_, window_);
        return dialog != nullptr;
      },
      timeout);
  return dialog;
}

std::string RunningMainWindow::AnswerMessageBox(std::chrono::milliseconds timeout) const {
  const HWND box = WaitForDialog(timeout);
  if (!box) return {};
  std::string text = MessageBoxText(box);
  EXPECT_TRUE(CloseWithOk(box)) << "the box stayed: " << text;
  return text;
}

bool RunningMainWindow::WaitForEnd(std::chrono::milliseconds timeout) const {
  return WaitUntil([this] { return ended_.load(); }, timeout);
}
