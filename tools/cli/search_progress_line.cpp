#include "tools/cli/search_progress_line.h"

#include "ui/number_text.h"

namespace {

std::string TimeText(std::chrono::milliseconds left) {
  const TimeParts parts = SplitTimeLeft(left);
  if (parts.hours > 0) return FormatText("%d h %d min", parts.hours, parts.minutes);
  if (parts.minutes > 0) return FormatText("%d min %d s", parts.minutes, parts.seconds);
  return FormatText("%d s", parts.seconds);
}

}  // namespace

SearchProgressLine::SearchProgressLine(bool on, const std::array<int, 5>& rateEnabled) : on_(on) {
  pace_.Start(rateEnabled, SearchPace::Clock::now());
}

void SearchProgressLine::MakeWay() {
  if (on_) line_.Clear();
}

void SearchProgressLine::Probed(int baudRate, const std::string& rateText, int address, int found) {
  pace_.Probed(baudRate, SearchPace::Clock::now());
  if (on_) line_.Show(ProgressLineText(pace_, rateText, address, found));
}

std::string ProgressLineText(const SearchPace& pace, const std::string& rateText, int address,
                             int found) {
  std::string text = FormatText("probe %d of %d (%s, address %d), %d found", pace.ProbesDone(),
                                pace.ProbesInAll(), rateText.c_str(), address, found);
  if (const auto left = pace.TimeLeft()) text += ", " + TimeText(*left) + " left";
  return text;
}
