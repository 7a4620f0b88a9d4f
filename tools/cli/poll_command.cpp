#include "tools/cli/poll_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/detector.h"
#include "device/held_port.h"
#include "tools/cli/address_list.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/frame_trace.h"
#include "tools/cli/local_time.h"
#include "tools/cli/mqtt_publisher.h"
#include "tools/cli/poll_log.h"
#include "tools/cli/stop_signals.h"
#include "tools/cli/watch_events.h"
#include "tools/cli/watch_hook.h"
#include "tools/text/printable_text.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The port as the hook's environment and the MQTT node name it: COM3, or the device's path.
std::string PortLabel(const CliOptions& options) {
  return options.devicePath.empty() ? "COM" + std::to_string(options.portNumber)
                                    : options.devicePath;
}

// How soon a stop is seen while waiting for the next poll.
constexpr auto kStopCheck = 20ms;
// How long the end of a poll waits for the change hook's runs: a mail or a web request.
constexpr auto kHookGrace = 10s;

void WaitForNextPoll(Clock::time_point next) {
  for (auto now = Clock::now(); now < next && !StopRequested(); now = Clock::now()) {
    std::this_thread::sleep_until(std::min(next, now + kStopCheck));
  }
}

// The first slot of the period after `now`: slots missed while a poll ran late are dropped,
// as a timer's ticks are, so that at most one poll is ever pending.
Clock::time_point NextSlot(Clock::time_point slot, Clock::time_point now, Clock::duration period) {
  slot += period;
  if (slot <= now) slot += ((now - slot) / period + 1) * period;
  return slot;
}

class PollSession {
 public:
  PollSession(const CliOptions& options, HeldPort& port, std::string rate,
              std::vector<Watcher*> watchers)
      : options_(options),
        port_(port),
        rate_(std::move(rate)),
        log_(options.format, options.echo, options.addresses.size()),
        watchers_(std::move(watchers)),
        wantsVersions_(std::any_of(watchers_.begin(), watchers_.end(),
                                   [](const Watcher* w) { return w->WantsVersions(); })) {}

  // A round polls each detector once, in turn; one round a period.
  void Run() {
    Write(log_.Header());
    std::uint64_t rounds = 0;
    for (auto slot = Clock::now(); !Ended(rounds); slot = NextSlot(slot, Clock::now(), Period())) {
      if (rounds > 0) WaitForNextPoll(slot);
      if (StopRequested()) break;
      for (const int address : options_.addresses) {
        if (StopRequested() || writeError_ != 0) break;
        PollOnce(address);
      }
      ++rounds;
      NoteOverrun(Clock::now() - slot);
    }
  }

  // The summary on standard error, and the exit status.
  int Finish() const {
    std::fputs(log_.Summary(What()).c_str(), stderr);
    if (writeError_ != 0 && !ReaderGone(writeError_)) {
      std::fprintf(stderr, "kl395-cli: cannot write the log: %s\n", std::strerror(writeError_));
      return kOutputLost;
    }
    return Status();
  }

 private:
  Clock::duration Period() const { return std::chrono::milliseconds(options_.periodMs); }

  bool Ended(std::uint64_t rounds) const {
    return StopRequested() || writeError_ != 0 ||
           (options_.pollCount != 0 && rounds >= options_.pollCount);
  }

  // A round that outlasts its period drops the periods it overran; said once, since a
  // detector that does not answer makes every round run so long.
  void NoteOverrun(Clock::duration took) {
    if (overrunNoted_ || took <= Period()) return;
    overrunNoted_ = true;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    const bool one = options_.addresses.size() == 1;
    std::fprintf(stderr,
                 "kl395-cli: %s took %lld ms, longer than the period of %d ms: the periods it "
                 "overruns are dropped, not made up\n",
                 one ? "a poll" : "a round of polls", static_cast<long long>(ms),
                 options_.periodMs);
    std::fflush(stderr);
  }

  void PollOnce(int address) {
    const bool wasGone = port_.gone();
    const CommHandle handle = port_.ForPoll();
    if (wasGone && handle) {
      SetCommLocalEcho(handle, options_.echo);
      LineEvent(WatchEventKind::kLineBack, "line back: " + PortName() + " open again");
    }
    PollReading reading;
    reading.address = address;
    reading.at = std::chrono::system_clock::now();
    if (handle) {
      Exchange(handle, reading);
      if (reading.status) ReadVersionOnce(handle, address);
    } else {
      reading.outcome = port_.WhyNotOpen();
    }
    const bool went = port_.CheckLine();
    Write(log_.Line(reading));
    Tell(reading);
    if (went) {
      LineEvent(WatchEventKind::kLineGone,
                "line gone: " + PortName() + " closed; opening it again at each poll");
    }
    // A second stop ends the tool at once: it still leaves the summary so far.
    SetEndingReport(log_.Summary(What()), false, Status());
  }

  void Exchange(CommHandle handle, PollReading& reading) const {
    const auto status = ReadStatus(handle, reading.address);
    reading.status = status.value;
    reading.outcome = status.outcome;
    TraceExchangeOutcome(reading.outcome, options_.echo);
    if (!reading.status || !options_.voltage) return;
    std::this_thread::sleep_for(kPauseBeforeVoltage);
    reading.voltageAsked = true;
    const auto voltage = ReadVoltage(handle, reading.address);
    reading.voltage = voltage.value;
    reading.voltageOutcome = voltage.outcome;
    TraceExchangeOutcome(reading.voltageOutcome, options_.echo);
  }

  // A watcher that names the detector's firmware gets it once, after the first good poll;
  // a read that fails is made again after the next.
  void ReadVersionOnce(CommHandle handle, int address) {
    if (!wantsVersions_ || versionsRead_.contains(address)) return;
    const auto version = ReadVersion(handle, address);
    TraceExchangeOutcome(version.outcome, options_.echo);
    if (!version) return;
    versionsRead_.insert(address);
    for (Watcher* watcher : watchers_) watcher->Version(address, *version);
  }

  int Status() const { return log_.AnyGood() ? kDone : kNoReply; }

  // A line of the log, flushed at once (standard output is unbuffered). The first write that
  // fails ends the polling: whoever read the log has gone (a closed pipe), or it cannot be
  // kept (a full disk).
  void Write(const std::string& text) {
    if (writeError_ != 0 || text.empty()) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return;
    writeError_ = errno != 0 ? errno : EIO;
    // Told apart here; the end of the program must not take it for a lost result again.
    std::clearerr(stdout);
  }

  void Tell(const PollReading& reading) {
    if (watchers_.empty()) return;
    const std::vector<WatchEvent> events = watches_[reading.address].Polled(reading, options_.echo);
    for (Watcher* watcher : watchers_) {
      watcher->Reading(reading);
      for (const WatchEvent& event : events) watcher->Event(event);
    }
  }

  // The line going and coming back: in the text log among the polls; in CSV and JSON lines
  // on standard error, so that every line of those is a poll. The watchers are told too.
  void LineEvent(WatchEventKind kind, const std::string& text) {
    WatchEvent event;
    event.kind = kind;
    event.addresses = options_.addresses;
    event.at = std::chrono::system_clock::now();
    for (Watcher* watcher : watchers_) watcher->Event(event);
    const std::string line = LocalIsoTime(event.at) + " " + text + "\n";
    if (options_.format == PollFormat::kText) {
      Write(line);
    } else {
      std::fputs(("kl395-cli: " + line).c_str(), stderr);
      std::fflush(stderr);
    }
  }

  // The log's name for the port: a device's path quoted, as the other messages quote it.
  std::string PortName() const {
    return options_.devicePath.empty() ? PortLabel(options_) : Quoted(options_.devicePath);
  }

  std::string What() const {
    const bool one = options_.addresses.size() == 1;
    return (one ? "address " : "addresses ") + AddressListText(options_.addresses) + " at " +
           rate_ + " on " + PortName();
  }

  const CliOptions& options_;
  HeldPort& port_;
  const std::string rate_;  // "9600 baud", or the gateway's
  PollLog log_;
  std::vector<Watcher*> watchers_;
  const bool wantsVersions_;
  std::set<int> versionsRead_;
  std::map<int, DetectorWatch> watches_;
  int writeError_ = 0;
  bool overrunNoted_ = false;
};

// The publisher --mqtt asks for, connecting in the background; none when it cannot be made,
// after saying why.
std::optional<std::unique_ptr<MqttPublisher>> StartMqtt(const CliOptions& options) {
  if (!options.mqtt) return std::unique_ptr<MqttPublisher>();
  MqttSettings settings;
  settings.target = *options.mqtt;
  if (const char* password = std::getenv("KL395_MQTT_PASSWORD")) settings.password = password;
  settings.caFile = options.mqttCaFile;
  settings.port = PortLabel(options);
  settings.discoveryPrefix = options.discoveryPrefix;
  settings.addresses = options.addresses;
  settings.echo = options.echo;
  std::string complaint;
  if (!settings.password.empty() && settings.target.user.empty()) {
    complaint = "KL395_MQTT_PASSWORD is set, but --mqtt names no user: mqtt://USER@HOST";
  }
  auto publisher = complaint.empty() ? MqttPublisher::Start(settings, &complaint) : nullptr;
  if (!publisher) {
    std::fprintf(stderr, "kl395-cli: %s\n", complaint.c_str());
    return std::nullopt;
  }
  return publisher;
}

}  // namespace

std::optional<int> RunPoll(const CliOptions& options, const ResolvedPort& chosen) {
  // Unbuffered: each line goes out whole as it is written, and a write that fails leaves
  // nothing behind for the end of the program to try again.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  IgnoreBrokenPipes();
  CatchStopSignals();
  HeldPort port;
  if (!port.Open(chosen, options.baudRate)) return std::nullopt;
  SetCommLocalEcho(port.handle(), options.echo);
  auto mqtt = StartMqtt(options);
  if (!mqtt) {
    port.Close();
    return kBadArguments;
  }
  std::unique_ptr<ChangeHook> hook;
  std::vector<Watcher*> watchers;
  if (!options.onChange.empty()) {
    hook = std::make_unique<ChangeHook>(options.onChange, PortLabel(options));
    watchers.push_back(hook.get());
  }
  if (*mqtt) watchers.push_back(mqtt->get());
  PollSession session(options, port, LineRateText(chosen, options.baudRate), watchers);
  session.Run();
  port.Close();
  if (*mqtt) (*mqtt)->Finish();
  if (hook) hook->Finish(kHookGrace);
  return session.Finish();
}
