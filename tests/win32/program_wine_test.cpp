// KL395.exe itself, as a user starts it: its version resource, its window, a message box
// captioned with its name, and Esc ending the process. KL395_EXE names the program (set by
// run-under-wine.sh); COM1 is the simulated detector, COM2 leads nowhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "res/resource.h"
#include "tests/win32/window_driver.h"
#include "tests/win32/wine_ports.h"
#include "ui/win32/wide_text.h"

namespace {

std::wstring ProgramPath() {
  const char* path = std::getenv("KL395_EXE");
  return path ? ui::WideFromUtf8(path) : std::wstring();
}

std::wstring VersionString(const std::wstring& file, const wchar_t* name) {
  DWORD ignored = 0;
  std::string data(GetFileVersionInfoSizeW(file.c_str(), &ignored), '\0');
  if (data.empty() ||
      !GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data())) {
    return {};
  }
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
  if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return {};
  }
  return {value, length > 0 ? length - 1 : 0};
}

struct ProcessWindow {
  DWORD processId;
  HWND found = nullptr;
};

BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<ProcessWindow*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != search.processId || !IsWindowVisible(window) || !IsDialogBox(window)) {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

// The program, started for one test and ended at its end if it still runs.
class StartedProgram {
 public:
  explicit StartedProgram(std::wstring path) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_) != FALSE;
  }
  ~StartedProgram() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 1);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  bool Started() const { return started_; }
  HWND MainWindow() const {
    ProcessWindow search{process_.dwProcessId};
    EnumWindows(MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  // The exit code once the process has ended within `timeout`; -1 if it still runs.
  long WaitForExit(DWORD timeoutMs) const {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

TEST(Kl395Program, CarriesItsVersionResource) {
  const std::wstring path = ProgramPath();
  ASSERT_FALSE(path.empty()) << "KL395_EXE is not set";
  EXPECT_EQ(VersionString(path, L"ProductName"), L"KL395 应用程序");
  EXPECT_EQ(VersionString(path, L"InternalName"), L"KL395");
  EXPECT_EQ(VersionString(path, L"OriginalFilename"), L"KL395.exe");
  EXPECT_EQ(VersionString(path, L"FileVersion"), L"1, 0, 0, 1");
}

TEST(Kl395Program, ShowsItsWindowWarnsUnderItsNameAndEndsOnEsc) {
  const std::wstring path = ProgramPath();
  ASSERT_FALSE(path.empty()) << "KL395_EXE is not set";
  const auto start = std::chrono::steady_clock::now();
  StartedProgram program(path);
  ASSERT_TRUE(program.Started());
  HWND window = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (window = program.MainWindow()) != nullptr; }, 30s));
  const auto shown = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("KL395.exe showed its window %lld ms after its start\n",
              static_cast<long long>(shown.count()));
  EXPECT_EQ(WindowText(window), "KL-395");
  EXPECT_EQ(WindowText(GetDlgItem(window, IDC_PORT_COMBO)), "Com1");

  SendDlgItemMessageW(window, IDC_PORT_COMBO, CB_SETCURSEL, wine_ports::kMissing - 1, 0);
  PostMessageW(GetDlgItem(window, IDC_READ_VERSION), BM_CLICK, 0, 0);
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindDialog(thread, window)) != nullptr; }, 10s));
  EXPECT_EQ(WindowText(box), "KL395");
  EXPECT_EQ(MessageBoxText(box), "没有发现此串口或次串口被占用!");
  ASSERT_TRUE(CloseWithOk(box));

  PressKey(GetDlgItem(window, IDC_PORT_COMBO), VK_ESCAPE);
  EXPECT_EQ(program.WaitForExit(10000), 0) << "Esc ends the program";
}

}  // namespace
