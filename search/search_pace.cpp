#include "search/search_pace.h"

#include "device/detector.h"

namespace {
constexpr int kAddresses = 256;
}  // namespace

void SearchPace::Start(const std::array<int, 5>& rateEnabled, Clock::time_point start) {
  for (std::size_t code = 0; code < rates_.size(); ++code) {
    rates_[code] = {.ticked = rateEnabled[code] == 1};
  }
  lastEnd_ = start;
}

void SearchPace::Probed(int baudRate, Clock::time_point now) {
  const int code = BaudCode(baudRate);
  if (code < 0) return;
  Rate& rate = rates_[static_cast<std::size_t>(code)];
  ++rate.probes;
  rate.spent += now - lastEnd_;
  lastEnd_ = now;
}

int SearchPace::ProbesDone() const {
  int done = 0;
  for (const Rate& rate : rates_) done += rate.probes;
  return done;
}

int SearchPace::ProbesInAll() const {
  int all = 0;
  for (const Rate& rate : rates_) all += rate.ticked ? kAddresses : 0;
  return all;
}

TimeParts SplitTimeLeft(std::chrono::milliseconds left) {
  const auto seconds = static_cast<int>(std::chrono::round<std::chrono::seconds>(left).count());
  return {seconds / 3600, seconds % 3600 / 60, seconds % 60};
}

std::optional<std::chrono::milliseconds> SearchPace::TimeLeft() const {
  Clock::duration spent{};
  for (const Rate& rate : rates_) spent += rate.spent;
  const int done = ProbesDone();
  if (done == 0) return std::nullopt;
  Clock::duration left{};
  for (const Rate& rate : rates_) {
    if (!rate.ticked) continue;
    const Clock::duration each = rate.probes > 0 ? rate.spent / rate.probes : spent / done;
    left += each * (kAddresses - rate.probes);
  }
  return std::chrono::round<std::chrono::milliseconds>(left);
}
