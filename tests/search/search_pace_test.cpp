// The scan's pace: probes made of all, the time left at each rate's measured cost, and how the
// window's tooltip words it.
#include "search/search_pace.h"

#include <gtest/gtest.h>

#include "device/detector.h"
#include "search/search_tip.h"

namespace {

using std::chrono::milliseconds;
using Clock = SearchPace::Clock;

const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

TEST(SearchPace, CountsTheProbesOfTheRatesTicked) {
  SearchPace pace;
  pace.Start({1, 0, 0, 1, 1}, kStart);
  EXPECT_EQ(pace.ProbesInAll(), 3 * 256);
  EXPECT_EQ(pace.ProbesDone(), 0);
  EXPECT_FALSE(pace.TimeLeft()) << "nothing measured yet";
  pace.Probed(1200, kStart + milliseconds(130));
  EXPECT_EQ(pace.ProbesDone(), 1);
}

// Waits taken from the line differ by rate: each rate's probes left cost what its own cost.
TEST(SearchPace, TheTimeLeftIsEachRatesProbesAtTheirOwnCost) {
  SearchPace pace;
  pace.Start({1, 0, 0, 0, 1}, kStart);
  pace.Probed(1200, kStart + milliseconds(130));
  // Until 19200 has had a probe, its probes count at the mean of all so far.
  EXPECT_EQ(pace.TimeLeft(), milliseconds(130 * 255 + 130 * 256));
  pace.Probed(19200, kStart + milliseconds(190));
  EXPECT_EQ(pace.TimeLeft(), milliseconds(130 * 255 + 60 * 255));
  pace.Probed(1200, kStart + milliseconds(330));
  EXPECT_EQ(pace.TimeLeft(), milliseconds(135 * 254 + 60 * 255)) << "130 and 140 ms at 1200";
}

TEST(SearchPace, TimeLeftIsSplitForPeople) {
  const TimeParts parts = SplitTimeLeft(milliseconds(3'725'400));
  EXPECT_EQ(parts.hours, 1);
  EXPECT_EQ(parts.minutes, 2);
  EXPECT_EQ(parts.seconds, 5);
  EXPECT_EQ(SplitTimeLeft(milliseconds(44'600)).seconds, 45) << "to the nearest second";
}

TEST(SearchPaceTip, TellsTheProbesMadeOfAllAndTheTimeLeft) {
  SearchPace pace;
  pace.Start({1, 1, 1, 1, 1}, kStart);
  EXPECT_EQ(SearchPaceTip(pace), "已探测 0 次，共 1280 次");
  for (int i = 0; i < 5; ++i) pace.Probed(kBaudRates[i], kStart + milliseconds(100 * (i + 1)));
  EXPECT_EQ(SearchPaceTip(pace), "已探测 5 次，共 1280 次\n预计还需 2 分 8 秒");

  SearchPace slow;
  slow.Start({1, 0, 0, 0, 0}, kStart);
  slow.Probed(1200, kStart + std::chrono::seconds(20));
  EXPECT_EQ(SearchPaceTip(slow), "已探测 1 次，共 256 次\n预计还需 1 小时 25 分");
  for (int i = 2; i <= 254; ++i) slow.Probed(1200, kStart + std::chrono::seconds(20 * i));
  EXPECT_EQ(SearchPaceTip(slow), "已探测 254 次，共 256 次\n预计还需 40 秒");
}

}  // namespace
