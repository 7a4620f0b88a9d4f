// The command line's own messages about what the user gave it and what the line did, apart
// from I/O so that they can be tested on their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "device/exchange_texts.h"
#include "serial/comm_port.h"
#include "serial/rtu.h"
#include "tools/cli/cli_options.h"
#include "tools/text/printable_text.h"

// Why the port did not open: "serial port ", COM n and the device it stands for (none when
// `device` is empty) or the --device path, the reason in the tool's words and the system's,
// and for a device of a group the user is not in, how to join it.
std::string PortTroubleMessage(const CliOptions& options, const std::string& device,
                               const CommError& error);

// Why a single command got no valid reply: the summary, then on an indented line of its own
// what usually causes that.
std::string ExchangeFailure(const ExchangeOutcome& outcome, bool echo);

// A --trace line for one write or read: the time since the first frame in seconds, to the
// millisecond and right-aligned, TX or RX, and the bytes.
std::string TraceFrameLine(std::chrono::milliseconds sinceFirst, FrameDirection direction,
                           std::span<const std::uint8_t> bytes);
// The --trace line after an exchange's frames: its summary, indented past the times, and
// the stale bytes it discarded.
std::string TraceOutcomeLine(const ExchangeOutcome& outcome, bool echo);

// The name of an alarm type: "none", "optical", "probe", "optical and probe", "unknown".
const char* AlarmName(unsigned alarmType);

// Exchanges counted by how each ended.
class ResultTally {
 public:
  void Count(ExchangeResult result) { ++counts_[result]; }
  std::uint64_t Total() const;
  // "2 no reply, 1 bad CRC"; empty when none was counted.
  std::string Causes() const;

 private:
  std::map<ExchangeResult, std::uint64_t> counts_;
};

// A search's missed probes: "3 probes missed: 2 no reply, 1 bad CRC"; empty when none was.
std::string MissSummary(const ResultTally& misses);

// A search's line for a probe that got no valid reply: "no reply at 9600 baud from address
// 3", or what came instead, a garbled reply named as such, with what usually causes it. The
// rate is told as LineRateText tells it.
std::string ProbeMissLine(const std::string& rate, int address, const ExchangeOutcome& outcome,
                          bool echo);

// A line's rate as the tool tells it: "9600 baud", or "the gateway's rate" on a line whose
// rate is the gateway's own (socket://, tcp://), which no open of ours sets.
std::string LineRateText(const ResolvedPort& port, int baudRate);

// --wait leaves a detector at the slowest rate the search tries less time to start its reply,
// after the request and the reply's first byte have had their line time, than --wait auto
// does, so that a slower one is missed there, or no time at all: the warning, or "".
std::string ShortWaitWarning(const CliOptions& options);
