// The simulated line's time, worked out without a terminal: when the detector hears a
// request, and when each write of its response falls due.
#include "tools/sim/line_pace.h"

#include <gtest/gtest.h>

#include "serial/line_time.h"
#include "tools/sim/frame_splitter.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

const LineClock::time_point kEnd = LineClock::time_point() + std::chrono::hours(1);
constexpr LinePace kPaced{false, milliseconds(10)};
constexpr LinePace kInstant{true, milliseconds(10)};

LinePart Part(Bytes bytes, milliseconds delay = {}, std::vector<DetectorWrite> writes = {}) {
  return LinePart{delay, std::move(bytes), std::move(writes), false};
}

LinePart Echo(Bytes bytes) {
  return LinePart{{}, std::move(bytes), {}, true};
}

LineResponse Of(std::vector<LinePart> parts) {
  return LineResponse{std::move(parts), {}};
}

// The writes as offsets from the request's end, with their bytes.
std::vector<std::pair<microseconds, Bytes>> Offsets(const std::vector<TimedWrite>& writes) {
  std::vector<std::pair<microseconds, Bytes>> offsets;
  for (const TimedWrite& write : writes) {
    offsets.emplace_back(std::chrono::duration_cast<microseconds>(write.at - kEnd), write.bytes);
  }
  return offsets;
}

TEST(IncomingLine, ARequestIsHeardOnlyAfterItsLineTime) {
  IncomingLine line;
  const LineClock::time_point read = kEnd;
  EXPECT_EQ(line.Hear(8, read, 1200) - read, LineTime(8, 1200)) << "66.7 ms at 1200 baud";
  // Bytes read while the line is still busy with the ones before queue up behind them.
  const LineClock::time_point soon = read + milliseconds(1);
  EXPECT_EQ(line.Hear(2, soon, 1200) - read, LineTime(10, 1200));
  // After a pause the line is free again.
  const LineClock::time_point later = read + std::chrono::seconds(1);
  EXPECT_EQ(line.Hear(1, later, 9600) - later, LineTime(1, 9600));
}

TEST(FrameEndSilence, APacedDetectorAnswersWithinTheRulesQuietWhenItsTurnaroundIsShorter) {
  EXPECT_EQ(FrameEndSilence(1200, kInstant), FrameSilence(1200));
  EXPECT_EQ(FrameEndSilence(1200, kPaced), milliseconds(10)) << "3.5 characters are 32 ms";
  EXPECT_EQ(FrameEndSilence(1200, LinePace{false, milliseconds(45)}), FrameSilence(1200));
}

TEST(ScheduleResponse, PacedBytesFollowTheTurnaroundTenBitTimesApart) {
  const std::vector<TimedWrite> writes =
      ScheduleResponse(Of({Part({1, 2, 3}, {}, {{0, {8, 9}}})}), kEnd, 1200, kPaced);
  ASSERT_EQ(writes.size(), 3u);
  const auto offsets = Offsets(writes);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(offsets[i].first, milliseconds(10) + LineTime(i + 1, 1200)) << i;
    EXPECT_EQ(offsets[i].second, Bytes{static_cast<std::uint8_t>(i + 1)});
  }
  EXPECT_TRUE(writes[0].writes.empty());
  ASSERT_EQ(writes[2].writes.size(), 1u) << "a write takes effect once its last byte is out";
  EXPECT_EQ(writes[2].writes[0].write.number, 8);
}

TEST(ScheduleResponse, APacedPartWaitsForTheLineToBeFreeOfTheOneBefore) {
  // A byte 20 ms after the reply's start would land inside a 7-byte reply at 1200 baud.
  const auto offsets = Offsets(ScheduleResponse(
      Of({Part(Bytes(7, 0x11)), Part({0x22}, milliseconds(20))}), kEnd, 1200, kPaced));
  ASSERT_EQ(offsets.size(), 8u);
  EXPECT_EQ(offsets[7].first, milliseconds(10) + LineTime(7, 1200) + LineTime(1, 1200));
  // One that falls after the reply keeps its own time.
  const auto later = Offsets(ScheduleResponse(
      Of({Part(Bytes(7, 0x11)), Part({0x22}, milliseconds(200))}), kEnd, 1200, kPaced));
  EXPECT_EQ(later.back().first, milliseconds(210) + LineTime(1, 1200));
}

TEST(ScheduleResponse, TheEchoComesWithTheRequestAndHoldsNothingUp) {
  const auto offsets =
      Offsets(ScheduleResponse(Of({Echo({1, 2, 3}), Part({4})}), kEnd, 9600, kPaced));
  ASSERT_EQ(offsets.size(), 2u);
  EXPECT_EQ(offsets[0], std::make_pair(microseconds(0), Bytes{1, 2, 3}));
  EXPECT_EQ(offsets[1].first, milliseconds(10) + LineTime(1, 9600));
}

TEST(ScheduleResponse, InstantPartsGoOutWholeAfterTheirDelays) {
  const auto offsets = Offsets(
      ScheduleResponse(Of({Part({1, 2, 3}), Part({4}, milliseconds(50))}), kEnd, 1200, kInstant));
  ASSERT_EQ(offsets.size(), 2u);
  EXPECT_EQ(offsets[0], std::make_pair(microseconds(0), Bytes{1, 2, 3}));
  EXPECT_EQ(offsets[1], std::make_pair(microseconds(milliseconds(50)), Bytes{4}));
}

}  // namespace
