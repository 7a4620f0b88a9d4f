// The events a watch tells, worked out from polls alone, and the environment a change hook
// gets for each.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/cli/watch_events.h"
#include "tools/cli/watch_hook.h"

namespace {

using namespace std::chrono_literals;

PollReading Good(bool leak, std::uint16_t alarm) {
  PollReading reading;
  reading.address = 7;
  reading.at = std::chrono::system_clock::now();
  reading.outcome.result = ExchangeResult::kGood;
  reading.status = DetectorStatus{leak, alarm};
  return reading;
}

PollReading Silent() {
  PollReading reading;
  reading.address = 7;
  reading.outcome.result = ExchangeResult::kNoReply;
  reading.outcome.expected = 9;
  reading.outcome.waitMs = 1000;
  return reading;
}

std::vector<std::string> Names(const std::vector<WatchEvent>& events) {
  std::vector<std::string> names;
  for (const WatchEvent& event : events) names.emplace_back(WatchEventName(event.kind));
  return names;
}

using EventNames = std::vector<std::string>;

TEST(DetectorWatch, TellsAnsweringThenWhatChangedAgainstTheLastReading) {
  DetectorWatch watch;
  EXPECT_EQ(Names(watch.Polled(Good(false, 0), false)), EventNames{"answering"});
  EXPECT_EQ(Names(watch.Polled(Good(false, 0), false)), EventNames{});
  const auto started = watch.Polled(Good(true, 2), false);
  ASSERT_EQ(Names(started), EventNames{"leak-started"});
  EXPECT_EQ(started[0].changed, (std::vector<std::string_view>{"leak", "alarm"}))
      << "one event for a leak that brings its alarm type";
  EXPECT_EQ(started[0].addresses, std::vector<int>{7});
  EXPECT_TRUE(started[0].status->leak);
  EXPECT_FALSE(started[0].previous->leak);
  const auto alarm = watch.Polled(Good(true, 3), false);
  ASSERT_EQ(Names(alarm), EventNames{"alarm-changed"});
  EXPECT_EQ(alarm[0].changed, std::vector<std::string_view>{"alarm"});
  EXPECT_EQ(alarm[0].previous->alarmType, 2);
  EXPECT_EQ(Names(watch.Polled(Good(false, 3), false)), EventNames{"leak-ended"});
}

// One failed poll may be a glitch; from the second in a row the detector does not answer,
// and the reading it gives when it answers again is weighed against the last before.
TEST(DetectorWatch, TellsNotAnsweringFromTheSecondFailedPollInARow) {
  DetectorWatch watch;
  watch.Polled(Good(false, 1), false);
  EXPECT_EQ(Names(watch.Polled(Silent(), false)), EventNames{});
  EXPECT_EQ(Names(watch.Polled(Good(false, 1), false)), EventNames{}) << "a glitch, not an event";
  EXPECT_EQ(Names(watch.Polled(Silent(), false)), EventNames{});
  const auto silent = watch.Polled(Silent(), false);
  ASSERT_EQ(Names(silent), EventNames{"not-answering"});
  EXPECT_EQ(silent[0].cause, "no reply within 1000 ms");
  EXPECT_EQ(silent[0].status->alarmType, 1) << "the state as last read";
  EXPECT_EQ(watch.answering(), false);
  EXPECT_EQ(Names(watch.Polled(Silent(), false)), EventNames{}) << "told once";
  const auto back = watch.Polled(Good(true, 1), false);
  EXPECT_EQ(Names(back), (EventNames{"answering", "leak-started"}));
  EXPECT_FALSE(back[1].previous->leak);
}

// Before its first reading a detector counts as dry and without an alarm: a leak already
// there when the watch starts is told, with no previous reading.
TEST(DetectorWatch, ALeakThereAtTheStartIsToldAsStarting) {
  DetectorWatch leaking;
  const auto events = leaking.Polled(Good(true, 2), false);
  ASSERT_EQ(Names(events), (EventNames{"answering", "leak-started"}));
  EXPECT_FALSE(events[1].previous);
  DetectorWatch alarmed;
  EXPECT_EQ(Names(alarmed.Polled(Good(false, 1), false)),
            (EventNames{"answering", "alarm-changed"}));
  DetectorWatch silent;
  EXPECT_EQ(Names(silent.Polled(Silent(), false)), EventNames{});
  const auto never = silent.Polled(Silent(), false);
  ASSERT_EQ(Names(never), EventNames{"not-answering"});
  EXPECT_FALSE(never[0].status) << "never read";
  EXPECT_FALSE(silent.status());
}

std::map<std::string, std::string> AsMap(const HookVariables& variables) {
  std::map<std::string, std::string> map;
  for (const auto& [name, value] : variables) {
    EXPECT_TRUE(map.emplace(name, value).second) << name << " twice";
  }
  return map;
}

const std::vector<std::string> kVariables = {"KL395_ADDRESS",        "KL395_ALARM",
                                             "KL395_ALARM_NAME",     "KL395_CAUSE",
                                             "KL395_CHANGED",        "KL395_EVENT",
                                             "KL395_LEAK",           "KL395_PORT",
                                             "KL395_PREVIOUS_ALARM", "KL395_PREVIOUS_ALARM_NAME",
                                             "KL395_PREVIOUS_LEAK",  "KL395_TIME"};

std::vector<std::string> Keys(const std::map<std::string, std::string>& map) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : map) keys.push_back(key);
  return keys;
}

// Every variable is there for every event, empty where the event has no value, so that a
// hook run under `set -u` never fails on one.
TEST(HookEnvironment, CarriesEveryFactOfTheEvent) {
  DetectorWatch watch;
  watch.Polled(Good(false, 0), false);
  const WatchEvent started = watch.Polled(Good(true, 2), false).at(0);
  auto variables = AsMap(HookEnvironment(started, "/dev/ttyUSB0"));
  EXPECT_EQ(Keys(variables), kVariables);
  EXPECT_EQ(variables["KL395_EVENT"], "leak-started");
  EXPECT_EQ(variables["KL395_ADDRESS"], "7");
  EXPECT_EQ(variables["KL395_PORT"], "/dev/ttyUSB0");
  EXPECT_EQ(variables["KL395_LEAK"], "yes");
  EXPECT_EQ(variables["KL395_ALARM"], "2");
  EXPECT_EQ(variables["KL395_ALARM_NAME"], "probe");
  EXPECT_EQ(variables["KL395_PREVIOUS_LEAK"], "no");
  EXPECT_EQ(variables["KL395_PREVIOUS_ALARM"], "0");
  EXPECT_EQ(variables["KL395_PREVIOUS_ALARM_NAME"], "none");
  EXPECT_EQ(variables["KL395_CHANGED"], "leak alarm");
  EXPECT_EQ(variables["KL395_CAUSE"], "");
  EXPECT_EQ(variables["KL395_TIME"].size(), std::string("2025-06-01T22:00:00.512+08:00").size());

  WatchEvent gone;
  gone.kind = WatchEventKind::kLineGone;
  gone.addresses = {3, 7, 10};
  variables = AsMap(HookEnvironment(gone, "COM3"));
  EXPECT_EQ(Keys(variables), kVariables);
  EXPECT_EQ(variables["KL395_EVENT"], "line-gone");
  EXPECT_EQ(variables["KL395_ADDRESS"], "3 7 10");
  EXPECT_EQ(variables["KL395_PORT"], "COM3");
  EXPECT_EQ(variables["KL395_LEAK"], "");
  EXPECT_EQ(variables["KL395_PREVIOUS_ALARM"], "");
}

}  // namespace
