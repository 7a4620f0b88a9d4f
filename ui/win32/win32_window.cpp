#include "ui/win32/win32_window.h"

#include <algorithm>
#include <cstdint>

#include "res/resource.h"
#include "ui/toolkit/dialog_template.h"
#include "ui/toolkit/greyed_pixels.h"
#include "ui/win32/list_data.h"
#include "ui/win32/wide_text.h"

namespace ui {
namespace {

constexpr UINT_PTR kPollTimerId = 1;
// Private to this layer, above the range of the handler's own messages.
constexpr UINT kShowMessageBoxMessage = WM_APP + 1;
constexpr DWORD kServeIntervalMs = 2;

// The handler's private messages (Send): WM_USER and up, past the dialog manager's own.
bool IsHandlerMessage(UINT message) {
  return message > DM_REPOSITION && message < WM_APP;
}

HMODULE Program() {
  return GetModuleHandleW(nullptr);
}

// Shared icons at the large size; the system frees them with the program.
HICON LargeIcon(int iconId) {
  return LoadIconW(Program(), MAKEINTRESOURCEW(iconId));
}

HICON SmallIcon(int iconId) {
  return static_cast<HICON>(LoadImageW(Program(), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                       LR_SHARED));
}

// The executable's file name without its extension, as message boxes are captioned.
std::wstring ProgramName() {
  std::wstring path(32768, L'\0');  // the longest path Windows has
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  return name.substr(0, name.rfind(L'.'));
}

int Width(const RECT& box) {
  return box.right - box.left;
}
int Height(const RECT& box) {
  return box.bottom - box.top;
}

// Over the owner while it is shown, otherwise on the screen; within the screen's work area.
void Centre(HWND window, HWND owner) {
  const bool overOwner = owner && IsWindowVisible(owner) && !IsIconic(owner);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(overOwner ? owner : window, MONITOR_DEFAULTTONEAREST),
                  &monitor);
  const RECT work = monitor.rcWork;
  RECT area = work;
  if (overOwner) GetWindowRect(owner, &area);
  RECT box{};
  GetWindowRect(window, &box);
  const int x = std::clamp(area.left + (Width(area) - Width(box)) / 2, work.left,
                           std::max(work.left, work.right - Width(box)));
  const int y = std::clamp(area.top + (Height(area) - Height(box)) / 2, work.top,
                           std::max(work.top, work.bottom - Height(box)));
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool HasClass(HWND window, const wchar_t* className) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return lstrcmpiW(name, className) == 0;
}

bool IsDialogBox(HWND window) {
  return HasClass(window, L"#32770");
}

bool IsStatic(HWND control) {
  return HasClass(control, L"Static");
}

// A tool of the dialog's tooltip control: the whole of one control, whose mouse messages the
// tooltip control watches itself.
TTTOOLINFOW ControlTool(HWND dialog, HWND control) {
  TTTOOLINFOW tool{};
  // Version 2's size: comctl32 5, which serves a program without a manifest, refuses the
  // larger one of the current headers.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  return tool;
}

// The templates' text and icon controls lack SS_NOTIFY; without it they let the mouse through
// to the dialog, and a tip on them would never show.
void LetMouseReach(HWND control) {
  if (!IsStatic(control)) return;
  SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | SS_NOTIFY);
}

// 32 bits a pixel, top row first.
BITMAPINFO PixelFormat(const BITMAP& bitmap) {
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = bitmap.bmWidth;
  format.bmiHeader.biHeight = -bitmap.bmHeight;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  return format;
}

// A greyed copy of a colour icon's picture in a 32-bit bitmap of its own (the icon's may hold
// only its sixteen colours); null when it cannot be made.
HBITMAP GreyedBitmap(HBITMAP picture) {
  BITMAP shape{};
  if (!GetObjectW(picture, sizeof shape, &shape)) return nullptr;
  BITMAPINFO format = PixelFormat(shape);
  void* bits = nullptr;
  const HDC screen = GetDC(nullptr);
  HBITMAP greyed = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  const auto rows = static_cast<UINT>(shape.bmHeight);
  if (greyed && !GetDIBits(screen, picture, 0, rows, bits, &format, DIB_RGB_COLORS)) {
    DeleteObject(greyed);
    greyed = nullptr;
  }
  ReleaseDC(nullptr, screen);
  if (greyed) {
    const auto count = static_cast<std::size_t>(shape.bmWidth) * rows;
    GreyPixels({static_cast<std::uint32_t*>(bits), count});
  }
  return greyed;
}

// A greyed copy of a colour icon, with its mask; null when it cannot be made.
HICON GreyedCopy(HICON icon) {
  ICONINFO parts{};
  if (!GetIconInfo(icon, &parts)) return nullptr;  // copies of its bitmaps, ours to delete
  HICON greyed = nullptr;
  if (parts.hbmColor) {
    if (const HBITMAP picture = GreyedBitmap(parts.hbmColor)) {
      DeleteObject(parts.hbmColor);
      parts.hbmColor = picture;
      greyed = CreateIconIndirect(&parts);  // which copies the bitmaps in turn
    }
    DeleteObject(parts.hbmColor);
  }
  DeleteObject(parts.hbmMask);
  return greyed;
}

BOOL CALLBACK CancelIfOwnedBy(HWND window, LPARAM owner) {
  if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) && IsDialogBox(window)) {
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  }
  return TRUE;
}

}  // namespace

Win32Window::Win32Window(int templateId, DialogHandler& handler, HWND owner)
    : templateId_(templateId), handler_(handler), owner_(owner), threadId_(GetCurrentThreadId()) {}

// The dialog, and with it every control that showed a greyed icon, is gone by now.
Win32Window::~Win32Window() {
  for (const auto& [icon, greyed] : greyedIcons_) {
    if (greyed) DestroyIcon(greyed);
  }
}

int Win32Window::Run(int templateId, DialogHandler& handler, HWND owner) {
  Win32Window window(templateId, handler, owner);
  const INT_PTR result = DialogBoxParamW(Program(), MAKEINTRESOURCEW(templateId), owner, DialogProc,
                                         reinterpret_cast<LPARAM>(&window));
  // A modal loop left some other way (WM_QUIT) still lets the handler end its threads
  // before this object goes.
  if (window.dialog_) window.End(kIdCancel);
  return result == kIdOk ? kIdOk : kIdCancel;
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return reinterpret_cast<Win32Window*>(lParam)->OnInitDialog(dialog);
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(dialog, DWLP_USER));
  return window ? window->OnDialogMessage(message, wParam, lParam) : FALSE;
}

INT_PTR Win32Window::OnInitDialog(HWND dialog) {
  dialog_ = dialog;
  FillLists();
  AddPortListTool();
  Centre(dialog_, owner_);
  handler_.OnInitDialog(*this);
  return TRUE;  // the focus goes to the first control in tab order that takes it
}

INT_PTR Win32Window::OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return OnCommandMessage(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_NOTIFY:
      return OnNotifyMessage(*reinterpret_cast<NMHDR*>(lParam));
    case WM_TIMER:
      if (wParam == kPollTimerId && !Ending()) handler_.OnTimer(*this);
      return TRUE;
    case WM_SYSCOMMAND:
      return handler_.OnSysCommand(*this, static_cast<int>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
      if (!IsIconic(dialog_) || !windowIcon_) return FALSE;
      PaintMinimised();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(windowIcon_);
    case kShowMessageBoxMessage: {
      if (Ending()) return Reply(0);
      // A copy: should the window end while the box is up, the sender goes before the box.
      const std::wstring text = *reinterpret_cast<const std::wstring*>(lParam);
      ShowMessageBox(text);
      return Reply(1);
    }
    default:
      if (!IsHandlerMessage(message)) return FALSE;
      if (Ending()) return Reply(0);
      handler_.OnMessage(*this, static_cast<int>(message));
      return Reply(1);
  }
}

INT_PTR Win32Window::OnCommandMessage(int controlId, int notification, HWND control) {
  // A static control with a tip has SS_NOTIFY, and its STN_CLICKED is BN_CLICKED's code.
  if (notification != BN_CLICKED || (control && IsStatic(control))) return FALSE;
  if (Ending()) return TRUE;  // a click still queued as the window ended
  switch (controlId) {
    case IDCANCEL:  // Esc, the close box, the system menu's close
      End(kIdCancel);
      break;
    case IDOK:
      handler_.OnOk(*this);
      End(kIdOk);
      break;
    default:
      handler_.OnCommand(*this, controlId);
      break;
  }
  return TRUE;
}

INT_PTR Win32Window::OnNotifyMessage(NMHDR& header) {
  if (header.hwndFrom != toolTips_ || header.code != TTN_GETDISPINFOW) return FALSE;
  ProvidePortListTip(reinterpret_cast<NMTTDISPINFOW&>(header));
  return TRUE;
}

void Win32Window::PaintMinimised() {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(dialog_, &paint);
  SendMessageW(dialog_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(dialog_, &client);
  const int x = (Width(client) - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (Height(client) - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, windowIcon_);
  EndPaint(dialog_, &paint);
}

INT_PTR Win32Window::Reply(LRESULT result) {
  SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, result);
  return TRUE;
}

HWND Win32Window::Control(int controlId) const {
  return controlId == kNoControlId ? nullptr : GetDlgItem(dialog_, controlId);
}

void Win32Window::FillLists() {
  const HRSRC found = FindResourceW(Program(), MAKEINTRESOURCEW(templateId_),
                                    MAKEINTRESOURCEW(kListDataResourceType));
  if (!found) return;  // a dialog without lists
  const auto* bytes =
      static_cast<const std::uint8_t*>(LockResource(LoadResource(Program(), found)));
  if (!bytes) return;
  for (const ListEntry& entry : ParseListData({bytes, SizeofResource(Program(), found)})) {
    const std::wstring text = WideFromUtf8(entry.text);
    SendDlgItemMessageW(dialog_, entry.controlId, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(text.c_str()));
  }
}

HWND Win32Window::ToolTips() {
  if (toolTips_) return toolTips_;
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&classes);
  // Shown while the dialog is inactive too; '&' and tabs in a device's name stay as they are.
  toolTips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, dialog_, nullptr, Program(), nullptr);
  // A maximum width makes '\n' break lines; a line is wrapped only where it would leave the
  // screen.
  SendMessageW(toolTips_, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN));
  return toolTips_;
}

// The port list's tip is asked for each time it is about to show, since adapters come and go.
void Win32Window::AddPortListTool() {
  const HWND list = Control(IDC_PORT_COMBO);
  if (!list) return;
  SendToolMessage(TTM_ADDTOOLW, list, LPSTR_TEXTCALLBACKW);
}

LRESULT Win32Window::SendToolMessage(UINT message, HWND control, wchar_t* text) {
  TTTOOLINFOW tool = ControlTool(dialog_, control);
  tool.lpszText = text;
  return SendMessageW(ToolTips(), message, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Window::ProvidePortListTip(NMTTDISPINFOW& request) {
  const HWND list = Control(IDC_PORT_COMBO);
  if (!list || request.hdr.idFrom != reinterpret_cast<UINT_PTR>(list)) return;
  const auto entries = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
  portListTipText_ = WideFromUtf8(portListTip_.Text(entries));
  request.lpszText = portListTipText_.data();
}

std::string Win32Window::Text(int controlId) {
  const HWND control = Control(controlId);
  if (!control) return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Utf8FromWide(text);
}

void Win32Window::SetText(int controlId, std::string_view text) {
  if (const HWND control = Control(controlId)) SetWindowTextW(control, WideFromUtf8(text).c_str());
}

void Win32Window::Enable(int controlId, bool enabled) {
  if (const HWND control = Control(controlId)) EnableWindow(control, enabled);
}

void Win32Window::Show(int controlId, bool shown) {
  if (const HWND control = Control(controlId)) ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

int Win32Window::Selection(int controlId) {
  const HWND list = Control(controlId);
  return list ? static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)) : -1;
}

void Win32Window::Select(int controlId, int index) {
  const HWND list = Control(controlId);
  if (!list) return;
  const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  const int selected = index >= 0 && index < count ? index : -1;
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

std::string Win32Window::EntryText(int controlId, int index) {
  const HWND list = Control(controlId);
  if (!list) return {};
  const auto entry = static_cast<WPARAM>(index);
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, entry, 0);
  if (length < 0) return {};  // CB_ERR: no such entry
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, entry, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Utf8FromWide(text);
}

int Win32Window::CheckState(int controlId) {
  return IsDlgButtonChecked(dialog_, controlId) == BST_CHECKED ? 1 : 0;
}

void Win32Window::SetCheckState(int controlId, int state) {
  CheckDlgButton(dialog_, controlId, state == 1 ? BST_CHECKED : BST_UNCHECKED);
}

void Win32Window::SetToolTip(int controlId, std::string_view text) {
  const HWND control = Control(controlId);
  if (!control) return;
  std::wstring tip = WideFromUtf8(text);
  const auto held = toolTipTexts_.find(controlId);
  if (held == toolTipTexts_.end()) {
    if (tip.empty()) return;
    LetMouseReach(control);
    if (SendToolMessage(TTM_ADDTOOLW, control, tip.data())) {
      toolTipTexts_.emplace(controlId, std::move(tip));
    }
  } else if (tip.empty()) {
    SendToolMessage(TTM_DELTOOLW, control, nullptr);
    toolTipTexts_.erase(held);
  } else if (held->second != tip) {  // a poll that changed nothing redraws nothing
    SendToolMessage(TTM_UPDATETIPTEXTW, control, tip.data());
    held->second = std::move(tip);
  }
}

void Win32Window::SetIcon(int controlId, int iconId) {
  const HWND control = Control(controlId);
  const HICON icon = LargeIcon(iconId);
  if (!control || !icon) return;
  ShownIcon& shown = shownIcons_[controlId];
  shown.icon = icon;
  ShowIcon(control, shown);
}

void Win32Window::SetIconDimmed(int controlId, bool dimmed) {
  const HWND control = Control(controlId);
  if (!control) return;
  auto [shown, added] = shownIcons_.try_emplace(controlId);
  if (added) shown->second.icon = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
  shown->second.dimmed = dimmed;
  ShowIcon(control, shown->second);
}

// A poll that changed nothing redraws nothing.
void Win32Window::ShowIcon(HWND control, const ShownIcon& shown) {
  const HICON icon = shown.dimmed ? Greyed(shown.icon) : shown.icon;
  if (!icon || reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)) == icon) return;
  SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
}

// Made once per icon: a copy at every change of a lamp would pile up.
HICON Win32Window::Greyed(HICON icon) {
  if (!icon) return nullptr;
  auto [greyed, added] = greyedIcons_.try_emplace(icon);
  if (added) greyed->second = GreyedCopy(icon);
  return greyed->second ? greyed->second : icon;
}

// The task-bar entry flashes until the window comes to the front; the sound is the system's
// exclamation.
void Win32Window::RequestAttention() {
  FLASHWINFO flash{};
  flash.cbSize = sizeof flash;
  flash.hwnd = dialog_;
  flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
  MessageBeep(MB_ICONEXCLAMATION);
}

void Win32Window::SetWindowIcon(int iconId) {
  windowIcon_ = LargeIcon(iconId);
  SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(windowIcon_));
  SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(SmallIcon(iconId)));
}

std::string Win32Window::LoadString(int stringId) {
  // With no buffer, LoadStringW hands out the resource's own text, which has no NUL.
  const wchar_t* text = nullptr;
  const int length =
      LoadStringW(Program(), static_cast<UINT>(stringId), reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return Utf8FromWide({text, static_cast<std::size_t>(length)});
}

void Win32Window::MessageBox(std::string_view text) {
  const std::wstring wide = WideFromUtf8(text);
  if (GetCurrentThreadId() == threadId_) return ShowMessageBox(wide);
  SendFromOtherThread(kShowMessageBoxMessage, reinterpret_cast<LPARAM>(&wide));
}

void Win32Window::ShowMessageBox(const std::wstring& text) {
  MessageBoxW(dialog_, text.c_str(), ProgramName().c_str(), MB_OK | MB_ICONWARNING);
}

void Win32Window::SetTimer(unsigned periodMs) {
  const unsigned period = std::clamp<unsigned>(periodMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  ::SetTimer(dialog_, kPollTimerId, period, nullptr);
}

void Win32Window::KillTimer() {
  ::KillTimer(dialog_, kPollTimerId);
}

bool Win32Window::Send(int message) {
  const auto number = static_cast<UINT>(message);
  if (GetCurrentThreadId() == threadId_) return SendMessageW(dialog_, number, 0, 0) != 0;
  return SendFromOtherThread(number, 0);
}

bool Win32Window::SendFromOtherThread(UINT message, LPARAM parameter) {
  {
    std::lock_guard lock(endMutex_);
    if (ending_) return false;
    ++sendersInside_;
  }
  const LRESULT taken = SendMessageW(dialog_, message, 0, parameter);
  std::lock_guard lock(endMutex_);
  --sendersInside_;
  return taken != 0;
}

void Win32Window::WaitServing(const std::function<bool()>& done) {
  // Only sent messages are handled: posted ones, the user's input among them, stay queued.
  while (!done()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kServeIntervalMs, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void Win32Window::AppendSystemMenuItem(int command, std::string_view text) {
  const HMENU menu = GetSystemMenu(dialog_, FALSE);
  if (!menu) return;
  const std::wstring item = WideFromUtf8(text);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(command), item.c_str());
}

int Win32Window::RunModal(int templateId, DialogHandler& handler) {
  return Run(templateId, handler, dialog_);
}

bool Win32Window::Ending() {
  std::lock_guard lock(endMutex_);
  return ending_;
}

// The window is ending. First no other thread may still wait on it, so that OnClose can join
// them: one whose message box or report is up (the window ends from within it) is let go at
// once, its box closing with the dialogs this window owns; those waiting to be served are
// answered false.
void Win32Window::End(int result) {
  {
    std::lock_guard lock(endMutex_);
    if (ending_) return;
    ending_ = true;
  }
  if (InSendMessage()) ReplyMessage(0);
  CloseOwnedDialogs();
  WaitServing([this] {
    std::lock_guard lock(endMutex_);
    return sendersInside_ == 0;
  });
  handler_.OnClose(*this);
  ::KillTimer(dialog_, kPollTimerId);
  EndDialog(dialog_, result);
}

void Win32Window::CloseOwnedDialogs() {
  EnumThreadWindows(threadId_, CancelIfOwnedBy, reinterpret_cast<LPARAM>(dialog_));
}

}  // namespace ui
