#include "tools/sim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "serial/rtu.h"
#include "tools/sim/console.h"

namespace {

// No command is this long; a longer line is refused as a whole rather than kept growing.
constexpr std::size_t kMaxConsoleLine = 1024;

timespec ToTimespec(std::chrono::steady_clock::duration wait) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(wait);
  return {static_cast<time_t>(seconds.count()),
          static_cast<long>(std::chrono::nanoseconds(wait - seconds).count())};
}

// Byte for byte, so that nothing in the text can cut the line short of its newline.
void WriteLine(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void Simulator::Run(ConsoleInput console, int stopFd) {
  for (;;) {
    std::array<pollfd, 3> fds = {{{stopFd, POLLIN, 0},
                                  {line_.PollFd(), POLLIN, 0},
                                  {console.fd, POLLIN, 0}}};  // a negative fd is skipped
    // To the microsecond, so that paced bytes go out when they are due.
    const auto timeout = PollTimeout(Clock::now());
    const timespec wait = timeout ? ToTimespec(*timeout) : timespec{};
    const int ready = ppoll(fds.data(), fds.size(), timeout ? &wait : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) HearLine();
    if (fds[2].revents != 0 && !HearConsole(console)) return;
    const auto now = Clock::now();
    AnswerFrame(now);
    SendDue(now);
  }
}

std::optional<Simulator::Clock::duration> Simulator::PollTimeout(Clock::time_point now) const {
  std::optional<Clock::time_point> next = splitter_.Deadline();
  if (!outgoing_.empty()) {
    next = std::min(next.value_or(Clock::time_point::max()), outgoing_.begin()->first);
  }
  if (!next) return std::nullopt;
  return std::max<Clock::duration>(*next - now, Clock::duration::zero());
}

void Simulator::HearLine() {
  std::array<std::uint8_t, 256> buffer;
  const std::size_t count = line_.Read(buffer);
  if (count == 0) return;
  const int baud = line_.LineBaud();
  const auto now = Clock::now();
  const auto heard = pace_.instant ? now : incoming_.Hear(count, now, baud);
  splitter_.Add(std::span(buffer).first(count), heard, FrameEndSilence(baud, pace_));
}

bool Simulator::HearConsole(ConsoleInput& console) {
  std::array<char, 512> buffer;
  const ssize_t count = read(console.fd, buffer.data(), buffer.size());
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (count <= 0) {
    // The end, or input this process may not read (a background job on a terminal).
    const bool ended = count == 0 && console.eofEnds;
    if (!consoleBuffer_.empty() && !RunConsoleLine(std::exchange(consoleBuffer_, {}))) return false;
    console.fd = -1;
    return !ended;
  }
  for (const char c : std::string_view(buffer.data(), static_cast<std::size_t>(count))) {
    if (c == '\n') {
      const bool wasSkipping = std::exchange(skippingLongLine_, false);
      if (!wasSkipping && !RunConsoleLine(std::exchange(consoleBuffer_, {}))) return false;
    } else if (!skippingLongLine_) {
      consoleBuffer_ += c;
      if (consoleBuffer_.size() > kMaxConsoleLine) {
        WriteLine(stdout,
                  "error: line longer than " + std::to_string(kMaxConsoleLine) + " characters");
        consoleBuffer_.clear();
        skippingLongLine_ = true;
      }
    }
  }
  return true;
}

bool Simulator::RunConsoleLine(const std::string& line) {
  const CommandOutcome outcome = RunCommand(bus_, splitter_.FramesHeard(), line);
  if (!outcome.reply.empty()) WriteLine(stdout, outcome.reply);
  return !outcome.quit;
}

void Simulator::AnswerFrame(Clock::time_point now) {
  const auto frame = splitter_.Take(now);
  if (!frame) return;
  const int baud = line_.LineBaud();
  LineResponse response = bus_.Respond(*frame, baud);
  Log("rx " + HexBytes(*frame) + " at " + std::to_string(baud) + " baud: " + response.note);
  // Instant, the reply's delays count from now, when the frame was seen to end.
  const auto requestEnd = pace_.instant ? now : splitter_.LastHeard();
  for (TimedWrite& write : ScheduleResponse(std::move(response), requestEnd, baud, pace_)) {
    outgoing_.emplace(write.at, std::move(write));
  }
}

void Simulator::SendDue(Clock::time_point now) {
  while (!outgoing_.empty() && outgoing_.begin()->first <= now) {
    const TimedWrite out = std::move(outgoing_.begin()->second);
    outgoing_.erase(outgoing_.begin());
    const bool sent = line_.Write(out.bytes);
    Log("tx " + HexBytes(out.bytes) + (sent ? "" : " (line full, dropped)"));
    for (const DetectorWrite& write : out.writes) bus_.Apply(write);
  }
}

void Simulator::Log(const std::string& text) const {
  if (verbose_) WriteLine(stderr, "kl395-sim: " + text);
}
