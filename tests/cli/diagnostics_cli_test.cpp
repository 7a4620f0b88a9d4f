// kl395-cli's diagnostics, the real program against the simulated detector and pseudo-
// terminals: each failure named with its usual cause, --echo, the --trace lines, and ports
// that are not the user's to open.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serial/rtu.h"
#include "tests/cli/cli_process.h"
#include "tests/support/child_process.h"
#include "tests/support/memory_line.h"
#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_lines.h"

namespace {

using namespace std::chrono_literals;

struct CliRun {
  int status = -1;
  std::string output;
  std::string error;
};

CliRun RunCli(const std::vector<std::string>& arguments) {
  CliProcess cli(arguments);
  const int status = cli.Wait(30s);
  return {status, cli.output, cli.error};
}

// A single command's failure: what happened, and on the next line what usually causes it.
struct Diagnosis {
  std::string summary;
  std::string cause;
};

std::optional<Diagnosis> FindDiagnosis(const std::string& error) {
  const std::string head = "kl395-cli: no valid reply from the detector: ";
  const auto at = error.find(head);
  if (at == std::string::npos) return std::nullopt;
  const std::vector<std::string> lines = Lines(error.substr(at + head.size()));
  if (lines.size() < 2 || !lines[1].starts_with("  ")) return std::nullopt;
  return Diagnosis{lines[0], lines[1].substr(2)};
}

// One line of a --trace: a frame, or an exchange's outcome.
struct TraceLine {
  bool frame = false;
  long long ms = 0;       // a frame's time since the first frame
  std::string direction;  // TX or RX
  std::string bytes;      // as HexBytes writes them
  std::string outcome;
};

// The trace lines among the others on standard error, in their order.
std::vector<TraceLine> ParseTrace(const std::string& error) {
  // The time is right-aligned in eight columns; the outcome starts under the direction.
  static const std::regex kFrame(R"(^( *)(\d+)\.(\d{3}) (TX|RX) ([0-9A-F]{2}(?: [0-9A-F]{2})*)$)");
  static const std::regex kOutcome(R"(^ {9}(\S.*)$)");
  std::vector<TraceLine> trace;
  for (const std::string& line : Lines(error)) {
    std::smatch match;
    if (std::regex_match(line, match, kFrame)) {
      EXPECT_EQ(match[1].length() + match[2].length(), 4) << "not aligned: " << line;
      trace.push_back(
          {true, std::stoll(match[2]) * 1000 + std::stoll(match[3]), match[4], match[5], {}});
    } else if (std::regex_match(line, match, kOutcome)) {
      trace.push_back({false, 0, {}, {}, match[1]});
    }
  }
  return trace;
}

// The reply time an outcome line gives, or -1.
long long ReplyAfter(const TraceLine& line) {
  std::smatch match;
  static const std::regex kGood(R"(^good, reply after (\d+) ms$)");
  return std::regex_match(line.outcome, match, kGood) ? std::stoll(match[1]) : -1;
}

std::string Frame(std::vector<std::uint8_t> head) {
  return HexBytes(WithCrc(std::move(head)));
}

// Requests to and replies from the detector at address 2, whose version is 1.0.
const std::string kReadVersion = Frame({0x02, 0x03, 0x00, 0x03, 0x00, 0x01});
const std::string kVersionReply = Frame({0x02, 0x03, 0x02, 0x00, 0x0A});

class CliDiagnosisTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(sim_.SlavePath().empty()); }
  void Fault(const std::string& name) {
    ASSERT_EQ(sim_.Command("fault " + name), "ok fault " + name);
  }
  CliRun Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--device", sim_.SlavePath(), "--address", "2"});
    return RunCli(arguments);
  }
  // A failed exchange: nothing on standard output, and its summary and likely cause told.
  static void ExpectFailureNamed(const CliRun& run, const std::string& summary,
                                 const std::string& cause) {
    EXPECT_EQ(run.status, 1) << run.error;
    EXPECT_EQ(run.output, "");
    const auto diagnosis = FindDiagnosis(run.error);
    ASSERT_TRUE(diagnosis) << run.error;
    EXPECT_EQ(diagnosis->summary, summary);
    EXPECT_NE(diagnosis->cause.find(cause), std::string::npos) << diagnosis->cause;
  }
  SimProcess sim_{{"--address", "2"}};
};

TEST_F(CliDiagnosisTest, EachFailureIsNamedWithWhatUsuallyCausesIt) {
  struct Case {
    const char* fault;
    const char* summary;
    const char* cause;
  };
  const std::vector<Case> cases = {
      {"silent", "no reply within 1000 ms", "A and B swapped?"},
      {"bad-crc", "7 bytes with a bad CRC", "baud-rate mismatch"},
      {"stray", "8 bytes queued for a 7-byte reply", "two devices answering"},
      {"exception", "exception 4, slave device failure, from slave 2", "refuses the request"},
      {"echo", "the adapter echoed the request", "use --echo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Fault(c.fault);
    ExpectFailureNamed(Run({"read-version"}), c.summary, c.cause);
  }
}

// A well-formed reply that does not answer what was asked is no reading, however right its
// length and CRC.
TEST_F(CliDiagnosisTest, AReplyThatDoesNotAnswerTheRequestIsNamed) {
  struct Case {
    const char* fault;
    const char* command;
    const char* summary;
    const char* cause;
  };
  const std::vector<Case> cases = {
      {"wrong-address", "read-status", "a reply from address 119, not 2", "another device"},
      {"wrong-address", "read-version", "a reply from address 119, not 2", "another device"},
      {"wrong-count", "read-status", "byte count 16 for 2 registers", "malformed reply"},
      {"wrong-count", "read-voltage", "byte count 8 for 1 register", "malformed reply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " " + c.command);
    Fault(c.fault);
    ExpectFailureNamed(Run({c.command}), c.summary, c.cause);
  }
}

// A set command is done once the detector has acknowledged the write, and says so only once
// it has seen the change take: the value read back, the new address or rate answering.
TEST_F(CliDiagnosisTest, SetCommandsConfirmWhatTheyWrote) {
  CliRun run = Run({"set-sensitivity", "3"});
  EXPECT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output, "sensitivity set to 3 (confirmed)\n");
  run = Run({"set-baud", "19200"});
  EXPECT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output, "baud rate set to 19200 (confirmed): from now on use --baud 19200\n");
  run = RunCli(
      {"--device", sim_.SlavePath(), "--baud", "19200", "--address", "2", "set-address", "9"});
  EXPECT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output, "address set to 9 (confirmed): from now on use --address 9\n");
  run = RunCli(
      {"--device", sim_.SlavePath(), "--baud", "19200", "--address", "9", "read-sensitivity"});
  EXPECT_EQ(run.output, "sensitivity: 3 (low)\n") << run.error;
}

// A detector that confirms another value than the one written has not taken it.
TEST_F(CliDiagnosisTest, AWriteConfirmedWithAnotherValueIsNotSet) {
  Fault("wrong-value");
  CliRun run = Run({"set-sensitivity", "3"});
  EXPECT_EQ(run.status, 1) << run.error;
  EXPECT_EQ(run.output, "");
  const auto diagnosis = FindDiagnosis(run.error);
  ASSERT_TRUE(diagnosis) << run.error;
  EXPECT_EQ(diagnosis->summary, "the detector confirmed value 4, not 3");
  EXPECT_EQ(run.error.find(" set to "), std::string::npos) << run.error;
  Fault("none");
  EXPECT_EQ(Run({"read-sensitivity"}).output, "sensitivity: 2 (medium)\n");
}

// An adapter that echoes returns a write's request, which reads as the write's acknowledgement
// (a write's reply repeats its request); the confirmation then shows that nobody answered.
TEST_F(CliDiagnosisTest, AnEchoTakenForTheAcknowledgementIsNotConfirmed) {
  Fault("echo");
  const CliRun run =
      RunCli({"--device", sim_.SlavePath(), "--address", "7", "set-sensitivity", "3"});
  EXPECT_EQ(run.status, 1) << run.error;
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.error,
            "kl395-cli: sensitivity set to 3 was acknowledged, but not confirmed: only an echo of "
            "the request came back, from an adapter that echoes what it sends (use --echo); no "
            "detector answered\n");
}

TEST(CliDiagnosis, AReplyCutShortIsNamed) {
  PtyPair line;
  CliProcess cli({"--device", line.PortPath(), "read-version"});
  ASSERT_EQ(line.Receive(8, 10s).size(), 8u);
  line.Send(std::vector<std::uint8_t>{0x01, 0x03, 0x02, 0x00});
  EXPECT_EQ(cli.Wait(10s), 1) << cli.error;
  const auto diagnosis = FindDiagnosis(cli.error);
  ASSERT_TRUE(diagnosis) << cli.error;
  EXPECT_EQ(diagnosis->summary, "only 4 of 7 bytes came");
  EXPECT_NE(diagnosis->cause.find("loose contact"), std::string::npos) << diagnosis->cause;
}

// An adapter that returns every request: --echo takes the echo off before the reply, for
// single commands and a search's probes alike; on an adapter that does not echo, it is
// named as the likely mistake.
TEST_F(CliDiagnosisTest, EchoOptionReadsPastTheAdaptersEcho) {
  Fault("echo");
  CliRun run = Run({"--echo", "read-version"});
  EXPECT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output, "version: 1.0\n");
  EXPECT_EQ(Run({"--echo", "set-sensitivity", "3"}).status, 0);
  EXPECT_EQ(Run({"--echo", "read-sensitivity"}).output, "sensitivity: 3 (low)\n");

  CliProcess search({"--device", sim_.SlavePath(), "--echo", "search", "9600"});
  EXPECT_EQ(search.Wait(30s), 0) << search.error;
  EXPECT_EQ(search.output, "baud: 9600\naddress: 2\n");

  Fault("none");
  run = Run({"--echo", "read-version"});
  EXPECT_EQ(run.status, 1);
  const auto diagnosis = FindDiagnosis(run.error);
  ASSERT_TRUE(diagnosis) << run.error;
  EXPECT_EQ(diagnosis->summary, "the echo did not match the request");
  EXPECT_NE(diagnosis->cause.find("try without --echo"), std::string::npos) << diagnosis->cause;
}

// Frames in the order they passed, from 0.000 on, then the outcome.
void ExpectTimedInOrder(const std::vector<TraceLine>& trace) {
  ASSERT_FALSE(trace.empty());
  EXPECT_TRUE(trace.front().frame);
  EXPECT_EQ(trace.front().ms, 0);
  long long last = 0;
  for (const TraceLine& line : trace) {
    if (!line.frame) continue;
    EXPECT_GE(line.ms, last) << line.bytes;
    last = line.ms;
  }
  EXPECT_FALSE(trace.back().frame) << "the outcome comes last";
}

// The outcome's reply time is when the reply's last byte was seen to have come: no later than
// the read that took it, and a pass of the 2 ms wait loop before it, or on a busy machine as
// long as the loop's pause overran.
void ExpectReplyTimeOfFrames(const std::vector<TraceLine>& trace) {
  const long long frames = trace[1].ms - trace[0].ms;
  EXPECT_LE(ReplyAfter(trace[2]), frames) << trace[2].outcome;
  EXPECT_GE(ReplyAfter(trace[2]), frames - 50) << trace[2].outcome;
}

TEST_F(CliDiagnosisTest, TraceShowsEachFrameThenTheOutcome) {
  CliRun run = Run({"--trace", "read-version"});
  EXPECT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output, "version: 1.0\n");
  std::vector<TraceLine> trace = ParseTrace(run.error);
  ASSERT_EQ(trace.size(), 3u) << run.error;
  EXPECT_EQ(Lines(run.error).size(), 3u) << "nothing else on a good run: " << run.error;
  ExpectTimedInOrder(trace);
  EXPECT_EQ(trace[0].direction, "TX");
  EXPECT_EQ(trace[0].bytes, kReadVersion);
  EXPECT_EQ(trace[1].direction, "RX");
  EXPECT_EQ(trace[1].bytes, kVersionReply);
  ExpectReplyTimeOfFrames(trace);

  // Under --echo, the echo and the reply each as they were read.
  Fault("echo");
  run = Run({"--trace", "--echo", "read-version"});
  EXPECT_EQ(run.status, 0) << run.error;
  trace = ParseTrace(run.error);
  ASSERT_EQ(trace.size(), 4u) << run.error;
  ExpectTimedInOrder(trace);
  EXPECT_EQ(trace[1].direction, "RX");
  EXPECT_EQ(trace[1].bytes, kReadVersion);
  EXPECT_EQ(trace[2].bytes, kVersionReply);
  EXPECT_GE(ReplyAfter(trace[3]), 0) << trace[3].outcome;

  // A failure: the request, the outcome, then the diagnosis.
  Fault("silent");
  run = Run({"--trace", "read-version"});
  EXPECT_EQ(run.status, 1);
  trace = ParseTrace(run.error);
  ASSERT_EQ(trace.size(), 2u) << run.error;
  ExpectTimedInOrder(trace);
  EXPECT_EQ(trace[1].outcome, "no reply within 1000 ms");
  EXPECT_LT(run.error.find("         no reply within"),
            run.error.find("kl395-cli: no valid reply"));
}

// Each probe of a search is traced, before the line that reports it; a search that is
// stopped sums up its misses by cause before its last line.
TEST_F(CliDiagnosisTest, SearchTracesEveryProbeAndSumsUpItsMisses) {
  Fault("bad-crc");
  CliProcess cli({"--device", sim_.SlavePath(), "--trace", "search", "9600"});
  ASSERT_TRUE(cli.WaitForError("from address 3\n", 20s)) << cli.error;
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 130) << cli.error;

  // Each probe's request, its reply if any, and its outcome, then the line that reports it:
  // the bad CRC as a garbled reply, not as silence.
  std::vector<std::vector<TraceLine>> probes(1);
  for (const std::string& line : Lines(cli.error)) {
    if (line.starts_with("no reply at ") || line.starts_with("garbled reply at ")) {
      const std::string where = "at 9600 baud from address " + std::to_string(probes.size() - 1);
      EXPECT_EQ(line, probes.size() - 1 == 2 ? "garbled reply " + where +
                                                   ": 7 bytes with a bad CRC (usually a "
                                                   "baud-rate mismatch or noise)"
                                             : "no reply " + where);
      probes.emplace_back();
    } else {
      for (const TraceLine& traced : ParseTrace(line)) probes.back().push_back(traced);
    }
  }
  EXPECT_TRUE(probes.back().empty()) << "the stop waits for the probe under way";
  probes.pop_back();
  ASSERT_GE(probes.size(), 4u) << cli.error;
  for (std::size_t address = 0; address < probes.size(); ++address) {
    SCOPED_TRACE(address);
    const bool answered = address == 2;
    const std::vector<TraceLine>& probe = probes[address];
    ASSERT_EQ(probe.size(), answered ? 3u : 2u);
    EXPECT_EQ(probe.front().bytes,
              Frame({static_cast<std::uint8_t>(address), 0x03, 0x00, 0x04, 0x00, 0x01}));
    EXPECT_EQ(probe.back().outcome, answered ? "7 bytes with a bad CRC" : "no reply within 500 ms");
  }
  const std::size_t missed = probes.size();
  EXPECT_NE(cli.error.find("kl395-cli: " + std::to_string(missed) +
                           " probes missed: " + std::to_string(missed - 1) +
                           " no reply, 1 bad CRC\nkl395-cli: search stopped\n"),
            std::string::npos)
      << cli.error;
}

// What a pipe brings until its writers have closed it, or the time is up.
std::string ReadToEnd(int fd, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string text;
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd polled{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&polled, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count == 0) break;
    if (count > 0) text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

// The reply time an outcome line gives agrees with its frames' times, even when writing the
// trace holds the tool up (a slow terminal, a full pipe): the request's line is written
// while the reply is on its way.
TEST_F(CliDiagnosisTest, TraceTimesAgreeWhenTheTraceIsSlowToWrite) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  fcntl(ends[1], F_SETPIPE_SZ, 4096);
  const std::string filler(4096, 'x');
  std::size_t filled = 0;
  for (ssize_t n; (n = write(ends[1], filler.data(), filler.size())) > 0;) {
    filled += static_cast<std::size_t>(n);
  }
  fcntl(ends[1], F_SETFL, 0);  // the tool's writes block on the full pipe
  CliProcess cli({"--device", sim_.SlavePath(), "--address", "2", "--trace", "read-version"},
                 CliProcess::kPiped, ends[1]);
  close(ends[1]);
  std::this_thread::sleep_for(300ms);
  const std::string error = ReadToEnd(ends[0], 10s);
  close(ends[0]);
  EXPECT_EQ(cli.Wait(10s), 0);
  ASSERT_GE(error.size(), filled);
  const std::vector<TraceLine> trace = ParseTrace(error.substr(filled));
  ASSERT_EQ(trace.size(), 3u) << error.substr(filled);
  ExpectReplyTimeOfFrames(trace);
}

// Whoever reads the trace may go away mid-exchange; the tool must not die of it with the
// port left exclusive.
TEST(CliTrace, AClosedStandardErrorDoesNotEndTheToolWhileItHoldsThePort) {
  PtyPair line;
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);
  CliProcess cli({"--device", line.PortPath(), "--trace", "read-status"}, CliProcess::kPiped,
                 ends[1]);
  close(ends[1]);
  EXPECT_EQ(line.Receive(8, 10s).size(), 8u);
  EXPECT_EQ(cli.Wait(10s), 1) << "ended by a signal";
  EXPECT_FALSE(HeldExclusive(line.PortPath()));
}

// A port the user may not open, as a user who is not root meets it: the tool run as nobody
// against a terminal of group dialout.
TEST(CliPortTrouble, APortOfAnotherGroupNamesTheGroupAndHowToJoinIt) {
  constexpr const char* kSetpriv = "/usr/bin/setpriv";
  const passwd* nobody = getpwnam("nobody");
  const group* dialout = getgrnam("dialout");
  if (geteuid() != 0 || !nobody || !dialout || access(kSetpriv, X_OK) != 0) {
    GTEST_SKIP() << "needs root, the users nobody and dialout, and setpriv";
  }
  const std::vector<std::string> asNobody = {"--reuid=" + std::to_string(nobody->pw_uid),
                                             "--regid=" + std::to_string(nobody->pw_gid),
                                             "--clear-groups", KL395_CLI_PATH};
  std::vector<std::string> help = asNobody;
  help.push_back("--help");
  if (RunProgram(kSetpriv, help).status != 0) GTEST_SKIP() << "nobody cannot run the tool here";

  PtyPair line;
  ASSERT_EQ(chown(line.PortPath().c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(line.PortPath().c_str(), 0660), 0);
  std::vector<std::string> command = asNobody;
  command.insert(command.end(), {"--device", line.PortPath(), "read-status"});
  const CommandResult run = RunProgram(kSetpriv, command);
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_EQ(run.output,
            "kl395-cli: serial port '" + line.PortPath() +
                "': not permitted: Permission denied\n"
                "  only members of group dialout may open it; to join it, on Debian and Ubuntu:\n"
                "    sudo usermod -aG dialout $USER\n"
                "  then log in again\n");
}

// Another program made the terminal exclusive: busy for every user, root included, and the
// holder named, whether it reads the line or not. Its flag is still set when the tool has
// ended.
TEST(CliPortTrouble, APortMadeExclusiveByAnotherProgramIsBusy) {
  std::ifstream commFile("/proc/self/comm");
  std::string ourName;
  std::getline(commFile, ourName);
  const std::string busy = "in use by " + ourName + " (pid " + std::to_string(getpid()) + ")";
  for (const int access : {O_WRONLY, O_RDWR}) {  // the other program's descriptor
    SCOPED_TRACE(access);
    PtyPair line;
    const int other = open(line.PortPath().c_str(), access | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    CliProcess cli({"--device", line.PortPath(), "read-status"});
    EXPECT_EQ(cli.Wait(10s), 3) << cli.error;
    EXPECT_EQ(cli.error, "kl395-cli: serial port '" + line.PortPath() + "': " + busy + "\n");
    EXPECT_TRUE(line.Receive(1, 100ms).empty()) << "a request went out";
    int exclusive = 0;
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "the tool cleared a flag it had not set";
    close(other);
  }
}

TEST(CliPortTrouble, APortAnotherProgramReadsNamesThatProgram) {
  PtyPair line;
  const PortHolder holder(line.PortPath(), O_RDONLY);
  ASSERT_GT(holder.pid(), 0);
  CliProcess cli({"--device", line.PortPath(), "read-status"});
  EXPECT_EQ(cli.Wait(10s), 3) << cli.error;
  EXPECT_EQ(cli.error, "kl395-cli: serial port '" + line.PortPath() + "': in use by sleep (pid " +
                           std::to_string(holder.pid()) + ")\n");
}

}  // namespace
