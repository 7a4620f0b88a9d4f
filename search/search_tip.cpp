#include "search/search_tip.h"

#include "res/tip_texts.h"
#include "ui/number_text.h"

namespace {

std::string TimeText(std::chrono::milliseconds left) {
  const TimeParts parts = SplitTimeLeft(left);
  if (parts.hours > 0) return FormatText(tip::kHoursMinutesFormat, parts.hours, parts.minutes);
  if (parts.minutes > 0) {
    return FormatText(tip::kMinutesSecondsFormat, parts.minutes, parts.seconds);
  }
  return FormatText(tip::kSecondsFormat, parts.seconds);
}

}  // namespace

std::string SearchPaceTip(const SearchPace& pace) {
  std::string tip = FormatText(tip::kSearchProbesFormat, pace.ProbesDone(), pace.ProbesInAll());
  if (const auto left = pace.TimeLeft()) {
    tip += '\n';
    tip += FormatText(tip::kSearchTimeLeftFormat, TimeText(*left).c_str());
  }
  return tip;
}
