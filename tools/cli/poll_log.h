// What poll writes: a line for each poll in the chosen format, and the summary at its end,
// apart from I/O so that they can be tested on their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/detector.h"
#include "serial/rtu.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/cli_options.h"

// One poll: the status read, and with --voltage the voltage read after it.
struct PollReading {
  int address = 1;                           // the detector's
  std::chrono::system_clock::time_point at;  // when it began
  ExchangeOutcome outcome;  // the status exchange's; kLineGone when the line was still gone
  std::optional<DetectorStatus> status;  // from a good poll
  bool voltageAsked = false;             // --voltage and a good poll: the voltage was read
  std::optional<float> voltage;
  ExchangeOutcome voltageOutcome;
};

class PollLog {
 public:
  // With more than one detector, the summary counts each one's polls and all of them.
  PollLog(PollFormat format, bool echo, std::size_t detectors = 1)
      : format_(format), echo_(echo), several_(detectors > 1) {}

  // The CSV header line; empty in the other formats.
  std::string Header() const;
  // The poll's line, and the poll counted for the summary. A leak state or alarm type other
  // than the last good poll's of the same detector is marked "[changed: ...]" in text and
  // named in the changed field of CSV and JSON.
  std::string Line(const PollReading& reading);
  // Standard error's summary, headed by `what` was polled: the polls, good and failed by
  // cause, the response times of the good ones, and with --voltage the voltage readings;
  // for several detectors, those of each ("address 3: ...") and of all ("in all: ...").
  std::string Summary(const std::string& what) const;

  bool AnyGood() const { return all_.good > 0; }

 private:
  // The polls of one detector, or of all.
  struct Tally {
    std::optional<DetectorStatus> lastGood;
    std::uint64_t good = 0;
    ResultTally failed;
    ResultTally voltages;
    std::uint64_t voltagesGood = 0;
    long long fastestMs = 0;
    long long slowestMs = 0;
    long long totalMs = 0;

    void Count(const PollReading& reading);
    // "leak", "alarm", both in that order, or none.
    std::vector<std::string_view> Changes(const DetectorStatus& status) const;
    // Its lines of the summary, each after `prefix`.
    std::string Text(const std::string& prefix) const;
  };

  std::string TextLine(const PollReading& reading,
                       const std::vector<std::string_view>& changed) const;

  PollFormat format_;
  bool echo_;
  bool several_;
  std::map<int, Tally> byAddress_;
  Tally all_;
};

// A CSV field: as it is, or in double quotes with its quotes doubled when it holds a comma,
// a quote or a line break.
std::string CsvField(std::string_view text);
// A JSON string, quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);
