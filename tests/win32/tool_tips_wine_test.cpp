// The real main window's tooltips, read back from its tooltip control as another program
// would: the failure counter's after failed polls, the lamps' while a reading is shown, the
// port list's worked out on demand, and a tip that shows when the pointer rests on its control.
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>

#include "res/resource.h"
#include "res/tip_texts.h"
#include "tests/win32/window_driver.h"
#include "tests/win32/wine_ports.h"
#include "ui/number_text.h"
#include "ui/port_list_tip.h"
#include "ui/win32/wide_text.h"

namespace {

constexpr int kReadingShownBy[] = {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP, IDC_LEAK_TEXT};

struct ToolTipsSearch {
  HWND owner;
  HWND found = nullptr;
};

BOOL CALLBACK MatchToolTips(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<ToolTipsSearch*>(parameter);
  wchar_t name[32] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  if (GetWindow(window, GW_OWNER) != search.owner || _wcsicmp(name, TOOLTIPS_CLASSW) != 0) {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

// The tooltip control the window owns, or null.
HWND ToolTipsOf(const RunningMainWindow& w) {
  ToolTipsSearch search{w.Handle()};
  EnumThreadWindows(GetWindowThreadProcessId(w.Handle(), nullptr), MatchToolTips,
                    reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TTTOOLINFOW ToolOf(const RunningMainWindow& w, int controlId) {
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = w.Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(w.Control(controlId));
  return tool;
}

// The text of the control's tool, as the tip would show it; none when it has no tool.
std::optional<std::string> ToolTip(const RunningMainWindow& w, int controlId) {
  const HWND toolTips = ToolTipsOf(w);
  TTTOOLINFOW tool = ToolOf(w, controlId);
  if (!toolTips || !SendMessageW(toolTips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) {
    return std::nullopt;
  }
  std::wstring text(INFOTIPSIZE, L'\0');
  tool.lpszText = text.data();
  SendMessageW(toolTips, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
  text.resize(std::wcslen(text.c_str()));
  return ui::Utf8FromWide(text);
}

int Count(const RunningMainWindow& w, int controlId) {
  return std::stoi(w.Text(controlId));
}

// The pointer moves as the mouse would move it, through the system's input queue.
void MovePointerTo(POINT screen) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

POINT CentreOf(HWND control) {
  RECT box{};
  GetWindowRect(control, &box);
  return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

// The control whose tip the tooltip control shows, or null while none shows.
HWND ShownTool(HWND toolTips) {
  if (!IsWindowVisible(toolTips)) return nullptr;
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  if (!SendMessageW(toolTips, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool))) {
    return nullptr;
  }
  return reinterpret_cast<HWND>(tool.uId);
}

// Polls at the detector of COM1 under an address it does not answer to.
void AcquireUnanswered(const RunningMainWindow& w) {
  w.SetText(IDC_ADDRESS_EDIT, "9");
  w.SetText(IDC_PERIOD_EDIT, "100");
  w.Click(IDC_ACQUIRE_BUTTON);
}

TEST(Win32ToolTips, FailureCounterTellsTheCauseOfTheFailedPolls) {
  RunningMainWindow w;
  ASSERT_TRUE(w.Handle());
  EXPECT_EQ(ToolTip(w, IDC_FAILURE_COUNT), std::nullopt) << "no tip before a failure";

  AcquireUnanswered(w);
  ASSERT_TRUE(WaitUntil([&] { return Count(w, IDC_FAILURE_COUNT) >= 2; }, 10s));
  w.Click(IDC_ACQUIRE_BUTTON);
  const std::string count = w.Text(IDC_FAILURE_COUNT);
  const std::optional<std::string> tip = ToolTip(w, IDC_FAILURE_COUNT);
  ASSERT_TRUE(tip);
  EXPECT_TRUE(tip->starts_with(FormatText(tip::kFailedPollsFormat, count.c_str()) + "\n")) << *tip;
  const std::string cause =
      FormatText(tip::kCauseCountFormat, std::string(tip::kNoReply).c_str(), count.c_str());
  EXPECT_NE(tip->find("\n" + cause + "\n"), std::string::npos) << *tip;
  EXPECT_NE(tip->find(std::string(tip::kSent) + "09 03 "), std::string::npos) << *tip;
  EXPECT_TRUE(tip->ends_with(std::string(tip::kReceived) + std::string(tip::kNothing))) << *tip;
  for (int shown : kReadingShownBy) {
    EXPECT_EQ(ToolTip(w, shown), std::nullopt) << shown << " showed no reading";
  }
}

// A tip while the lamps show a reading; none once acquisition stops and they go out.
TEST(Win32ToolTips, LampsTellWhenTheirReadingWasTaken) {
  RunningMainWindow w;
  ASSERT_TRUE(w.Handle());
  w.SetText(IDC_PERIOD_EDIT, "100");
  w.Click(IDC_ACQUIRE_BUTTON);
  ASSERT_TRUE(WaitUntil([&] { return Count(w, IDC_SUCCESS_COUNT) >= 2; }, 10s));
  for (int shown : kReadingShownBy) {
    const std::optional<std::string> tip = ToolTip(w, shown);
    ASSERT_TRUE(tip) << shown;
    EXPECT_TRUE(tip->starts_with(FormatText(tip::kReadingTakenFormat, ""))) << *tip;
  }
  w.Click(IDC_ACQUIRE_BUTTON);
  for (int shown : kReadingShownBy) EXPECT_EQ(ToolTip(w, shown), std::nullopt) << shown;
}

TEST(Win32ToolTips, PortListNamesTheDeviceOfEachEntry) {
  RunningMainWindow w;
  ASSERT_TRUE(w.Handle());
  const std::optional<std::string> tip = ToolTip(w, IDC_PORT_COMBO);
  ASSERT_TRUE(tip);
  EXPECT_TRUE(tip->starts_with("Com1：\\\\.\\COM1\n")) << *tip;
  EXPECT_TRUE(tip->ends_with("\nCom12：\\\\.\\COM12")) << *tip;
  EXPECT_EQ(*tip, PortListToolTip(12));
}

// The counter is a static control: it must take the mouse for its tip to show at all. Its tip
// has five lines, and shows them as lines.
TEST(Win32ToolTips, ShowsWhenThePointerRestsOnTheFailureCounter) {
  RunningMainWindow w;
  ASSERT_TRUE(w.Handle());
  AcquireUnanswered(w);
  ASSERT_TRUE(WaitUntil([&] { return Count(w, IDC_FAILURE_COUNT) >= 1; }, 10s));
  w.Click(IDC_ACQUIRE_BUTTON);
  const HWND toolTips = ToolTipsOf(w);
  ASSERT_TRUE(toolTips);
  const HWND counter = w.Control(IDC_FAILURE_COUNT);
  MovePointerTo(CentreOf(counter));
  EXPECT_TRUE(WaitUntil([&] { return ShownTool(toolTips) == counter; }, 5s));
  RECT tip{};
  GetWindowRect(toolTips, &tip);
  RECT line{};
  GetWindowRect(counter, &line);  // one line of text
  EXPECT_GT(tip.bottom - tip.top, 3 * (line.bottom - line.top))
      << "a tip " << tip.bottom - tip.top << " px high, a line " << line.bottom - line.top;
  MovePointerTo({0, 0});
}

}  // namespace
