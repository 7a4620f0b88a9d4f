#include "tools/cli/watch_events.h"

#include "device/poll_record.h"
#include "tools/cli/cli_messages.h"

std::string_view WatchEventName(WatchEventKind kind) {
  switch (kind) {
    case WatchEventKind::kAnswering:
      return "answering";
    case WatchEventKind::kNotAnswering:
      return "not-answering";
    case WatchEventKind::kLeakStarted:
      return "leak-started";
    case WatchEventKind::kLeakEnded:
      return "leak-ended";
    case WatchEventKind::kAlarmChanged:
      return "alarm-changed";
    case WatchEventKind::kLineGone:
      return "line-gone";
    case WatchEventKind::kLineBack:
      return "line-back";
  }
  return "";
}

WatchEvent DetectorWatch::Event(WatchEventKind kind, const PollReading& reading) const {
  WatchEvent event;
  event.kind = kind;
  event.addresses = {reading.address};
  event.at = reading.at;
  event.status = status_;
  event.previous = previous_;
  return event;
}

std::vector<WatchEvent> DetectorWatch::Polled(const PollReading& reading, bool echo) {
  std::vector<WatchEvent> events;
  if (!reading.status) {
    if (++failedInARow_ < kFailedPollsBeforeStale || answering_ == false) return events;
    answering_ = false;
    previous_ = status_;
    events.push_back(Event(WatchEventKind::kNotAnswering, reading));
    events.back().cause = ExchangeSummary(reading.outcome, echo);
    return events;
  }
  failedInARow_ = 0;
  previous_ = status_;
  status_ = reading.status;
  if (answering_ != true) {
    answering_ = true;
    events.push_back(Event(WatchEventKind::kAnswering, reading));
  }
  const DetectorStatus before = previous_.value_or(DetectorStatus{});
  std::vector<std::string_view> changed;
  if (status_->leak != before.leak) changed.push_back("leak");
  if (status_->alarmType != before.alarmType) changed.push_back("alarm");
  if (changed.empty()) return events;
  const WatchEventKind kind = status_->leak == before.leak ? WatchEventKind::kAlarmChanged
                              : status_->leak              ? WatchEventKind::kLeakStarted
                                                           : WatchEventKind::kLeakEnded;
  events.push_back(Event(kind, reading));
  events.back().changed = std::move(changed);
  return events;
}
