#include "device/poll_record.h"

#include <algorithm>
#include <ctime>

#include "device/exchange_texts.h"
#include "res/tip_texts.h"
#include "ui/number_text.h"

namespace {

// The local time of day, as the window's user reads a clock.
std::string TimeOfDay(PollRecord::Clock::time_point at) {
  const std::time_t seconds = PollRecord::Clock::to_time_t(at);
  char text[16] = {};
  if (const std::tm* local = std::localtime(&seconds)) {
    std::strftime(text, sizeof text, "%H:%M:%S", local);
  }
  return text;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  return bytes.empty() ? std::string(tip::kNothing) : HexBytes(bytes);
}

// Appends a line; built with append rather than "\n" + text, which GCC 12's -Wrestrict
// misreads at -O2.
void AddLine(std::string& text, std::string_view line) {
  if (!text.empty()) text += '\n';
  text.append(line);
}

}  // namespace

void PollRecord::Good(Clock::time_point at) {
  lastGood_ = at;
  failedSinceGood_ = 0;
}

void PollRecord::Failed(const ExchangeOutcome& outcome, Clock::time_point at) {
  const std::string cause = WindowCause(outcome);
  auto known = std::ranges::find(causes_, cause, &std::pair<std::string, std::uint64_t>::first);
  if (known == causes_.end()) {
    causes_.emplace_back(cause, 1);
  } else {
    ++known->second;
  }
  ++failed_;
  ++failedSinceGood_;
  lastFailure_ = Failure{cause, at, outcome.sent, outcome.received};
}

std::string PollRecord::FailureTip() const {
  if (!lastFailure_) return {};
  std::string tip;
  AddLine(tip, FormatText(tip::kFailedPollsFormat, std::to_string(failed_).c_str()));
  for (const auto& [cause, count] : causes_) {
    AddLine(tip, FormatText(tip::kCauseCountFormat, cause.c_str(), std::to_string(count).c_str()));
  }
  AddLine(tip, FormatText(tip::kLastFailureFormat, TimeOfDay(lastFailure_->at).c_str(),
                          lastFailure_->cause.c_str()));
  AddLine(tip, std::string(tip::kSent).append(Hex(lastFailure_->sent)));
  AddLine(tip, std::string(tip::kReceived).append(Hex(lastFailure_->received)));
  return tip;
}

std::string PollRecord::ReadingTip() const {
  if (!lastGood_) return {};
  std::string tip = FormatText(tip::kReadingTakenFormat, TimeOfDay(*lastGood_).c_str());
  if (failedSinceGood_ > 0) {
    const auto silent =
        std::chrono::duration_cast<std::chrono::seconds>(lastFailure_->at - *lastGood_).count();
    AddLine(tip, FormatText(tip::kFailedSinceFormat, std::to_string(failedSinceGood_).c_str(),
                            std::to_string(silent).c_str()));
  }
  return tip;
}
