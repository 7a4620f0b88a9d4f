#include "tools/sim/frame_splitter.h"

#include <algorithm>
#include <utility>

namespace {
// The longest Modbus RTU frame; anything longer is garbage and is not kept growing.
constexpr std::size_t kMaxFrame = 256;
constexpr std::chrono::milliseconds kMinSilence{5};
}  // namespace

void FrameSplitter::Add(std::span<const std::uint8_t> bytes, Clock::time_point now,
                        Clock::duration silence) {
  if (bytes.empty()) return;
  if (pending_.empty()) ++framesHeard_;
  const std::size_t room = kMaxFrame - std::min(kMaxFrame, pending_.size());
  pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + std::min(room, bytes.size()));
  lastHeard_ = now;
  deadline_ = now + silence;
}

std::optional<FrameSplitter::Clock::time_point> FrameSplitter::Deadline() const {
  if (pending_.empty()) return std::nullopt;
  return deadline_;
}

std::optional<std::vector<std::uint8_t>> FrameSplitter::Take(Clock::time_point now) {
  if (pending_.empty() || now < deadline_) return std::nullopt;
  return std::exchange(pending_, {});
}

FrameSplitter::Clock::duration FrameSilence(int baudRate) {
  using namespace std::chrono;
  if (baudRate <= 0) return kMinSilence;
  const auto threeAndHalfChars = microseconds(38'500'000LL / baudRate);  // 38.5 bit times
  return std::max<FrameSplitter::Clock::duration>(threeAndHalfChars, kMinSilence);
}
