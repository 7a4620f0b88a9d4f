// The search status line's tooltip in the window, on the fake toolkit against the simulated
// detector: while a search runs it tells the probes made and the time left; the status line
// keeps the window's own texts, and the tooltip goes with the search (found, in the Qt test).
#include <chrono>

#include "tests/window/main_window_fixture.h"

namespace {

using namespace std::chrono_literals;

using SearchTipTest = MainWindowTest;

TEST_F(SearchTipTest, SearchStatusTooltipTellsTheProbesMadeAndTheTimeLeft) {
  detector = {"--address", "9", "--baud", "19200"};
  Start();
  for (int box : kSearchRateBoxes) Window().SetCheckState(box, box == IDC_SEARCH_19200);
  Window().Click(IDC_SEARCH_BUTTON);
  EXPECT_EQ(Window().ToolTip(IDC_SEARCH_RESULT), "") << "nothing measured before a probe";

  ASSERT_TRUE(Window().PumpUntil(
      [&] { return Window().Text(IDC_SEARCH_RESULT) == "正在搜索波特率19200地址0"; }, 30s));
  const std::string tip = Window().ToolTip(IDC_SEARCH_RESULT);
  // 255 probes of about 540 ms are left.
  EXPECT_TRUE(tip.starts_with("已探测 1 次，共 256 次\n预计还需 2 分 ")) << tip;
  EXPECT_TRUE(tip.ends_with(" 秒")) << tip;

  // Stopped, the search takes its tooltip with it, and the report of a probe still under way
  // adds none.
  Window().Click(IDC_SEARCH_BUTTON);
  EXPECT_EQ(Window().ToolTip(IDC_SEARCH_RESULT), "");
  dialog_.WaitForStoppedSearch(Window());
  EXPECT_EQ(Window().ToolTip(IDC_SEARCH_RESULT), "");
}

}  // namespace
