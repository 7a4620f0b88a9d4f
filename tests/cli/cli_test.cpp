// kl395-cli: its argument checks, and the real program against the simulated detector.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/support/child_process.h"
#include "tests/support/memory_line.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/cli_options.h"

namespace {

using namespace std::chrono_literals;

TEST(CliArguments, DefaultsAreThoseTheWindowStartsWith) {
  const CliParse parse = ParseCliArguments({"read-status"});
  ASSERT_TRUE(parse.options);
  EXPECT_EQ(parse.options->portNumber, 1);
  EXPECT_EQ(parse.options->baudRate, 9600);
  EXPECT_EQ(parse.options->address, 1);
  EXPECT_TRUE(parse.options->devicePath.empty());
}

TEST(CliArguments, SettingsAreCheckedWholeAndInRange) {
  const CliParse parse =
      ParseCliArguments({"--port", "12", "--baud", "19200", "--address", "0", "set-baud", "1200"});
  ASSERT_TRUE(parse.options);
  EXPECT_EQ(parse.options->portNumber, 12);
  EXPECT_EQ(parse.options->baudRate, 19200);
  EXPECT_EQ(parse.options->address, 0);
  EXPECT_EQ(parse.options->command, CliCommand::kSetBaud);
  EXPECT_EQ(parse.options->value, 1200);

  const std::vector<std::vector<std::string>> refused = {
      {},
      {"read-everything"},
      {"--baud", "9601", "read-status"},
      {"--address", "256", "read-status"},
      {"--address", "12ab", "read-status"},
      {"--port", "0", "read-status"},
      {"--port"},
      {"--parity", "even", "read-status"},
      {"read-status", "extra"},
      {"set-address"},
      {"set-address", "-1"},
      {"set-sensitivity", "0"},
      {"set-sensitivity", "4"},
      {"set-baud", "115200"},
      {"--port", "256", "read-status"},
      // Each option once, and the port named one way.
      {"--baud", "9600", "--baud", "9600", "read-status"},
      {"--address", "1", "read-status", "--address", "2"},
      {"--port", "3", "--device", "/dev/ttyUSB0", "read-status"},
      {"--device", "/dev/ttyUSB0", "--port", "3", "read-status"},
      {"--device", "/dev/ttyUSB0", "--device", "/dev/ttyUSB1", "read-status"},
      // An empty path is no device, not "no device given".
      {"--device", "", "read-status"},
      {"--trace", "--trace", "read-status"},
      {"--echo", "read-status", "--echo"},
      {"--trace=1", "read-status"},
  };
  for (const auto& arguments : refused) {
    const CliParse bad = ParseCliArguments(arguments);
    EXPECT_FALSE(bad.options) << ::testing::PrintToString(arguments);
    EXPECT_FALSE(bad.message.empty());
    EXPECT_FALSE(bad.helpRequested);
  }
  EXPECT_TRUE(ParseCliArguments({"--help"}).helpRequested);
  // The flags take no value, anywhere on the line.
  const CliParse flagged =
      ParseCliArguments({"read-version", "--echo", "--address", "2", "--trace"});
  ASSERT_TRUE(flagged.options) << flagged.message;
  EXPECT_TRUE(flagged.options->trace);
  EXPECT_TRUE(flagged.options->echo);
  EXPECT_EQ(flagged.options->address, 2);
  EXPECT_FALSE(ParseCliArguments({"read-version"}).options->trace);
  EXPECT_FALSE(ParseCliArguments({"read-version"}).options->echo);
  // Beyond the window's COM12, as Windows numbers its ports.
  EXPECT_EQ(ParseCliArguments({"--port", "255", "read-status"}).options->portNumber, 255);
}

TEST(CliMessages, ArgumentsAreQuotedPrintableAndShort) {
  EXPECT_EQ(Quoted("/dev/ttyUSB0"), "'/dev/ttyUSB0'");
  EXPECT_EQ(Quoted("漏水检测器"), "'漏水检测器'");
  EXPECT_EQ(Quoted(R"(\\.\COM3)"), R"('\\.\COM3')") << "backslashes are shown as they are";
  EXPECT_EQ(Quoted("a\nb\x1B[2J\x7F"), "'a\\x0Ab\\x1B[2J\\x7F'");
  EXPECT_EQ(Quoted("\xC2\x9B"), "'\\xC2\\x9B'") << "a C1 control, which terminals may obey";
  EXPECT_EQ(Quoted("\xC2\xA0"), "'\xC2\xA0'") << "no-break space, printable";
  // Not UTF-8: a stray byte, a continuation byte, an overlong '/', a surrogate, past
  // U+10FFFF, and a sequence cut short.
  EXPECT_EQ(Quoted("\xFF"), "'\\xFF'");
  EXPECT_EQ(Quoted("\x80"
                   "a"),
            "'\\x80a'");
  EXPECT_EQ(Quoted("\xC0\xAF"), "'\\xC0\\xAF'");
  EXPECT_EQ(Quoted("\xED\xA0\x80"), "'\\xED\\xA0\\x80'");
  EXPECT_EQ(Quoted("\xF4\x90\x80\x80"), "'\\xF4\\x90\\x80\\x80'");
  EXPECT_EQ(Quoted("\xE6\xBC"), "'\\xE6\\xBC'");

  const std::string eighty(80, 'a');
  EXPECT_EQ(Quoted(eighty), "'" + eighty + "'");
  EXPECT_EQ(Quoted(eighty + "b"), "'" + eighty + "'...");
  EXPECT_LE(Quoted(std::string(100000, '\x01')).size(), 90u);

  // What the parser says about such an argument.
  const CliParse bad = ParseCliArguments({"--address", "\x1B[2J" + std::string(5000, '9')});
  ASSERT_FALSE(bad.options);
  EXPECT_LT(bad.message.size(), 200u) << bad.message;
  EXPECT_EQ(bad.message.find('\x1B'), std::string::npos) << bad.message;
  EXPECT_NE(bad.message.find("'\\x1B[2J999"), std::string::npos) << bad.message;
  EXPECT_NE(ParseCliArguments({"\xFFread"}).message.find("'\\xFFread'"), std::string::npos);
}

TEST(CliMessages, PortTroubleSaysWhatThePathIs) {
  CliOptions options;
  options.devicePath = ::testing::TempDir();
  const CommError notFound{CommErrorKind::kNotFound, options.devicePath + ": Is a directory"};
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, notFound),
            "serial port " + Quoted(options.devicePath) + ": is a directory, not a serial device");

  // The backend's message starts with the path, which is not given twice.
  options.devicePath = "/dev/kl395-" + std::string(300, 'x');
  const CommError missing{CommErrorKind::kNotFound,
                          options.devicePath + ": No such file or directory"};
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, missing),
            "serial port " + Quoted(options.devicePath) + ": not found: No such file or directory");

  options = CliOptions{};
  options.portNumber = 4;
  const CommError busy{CommErrorKind::kBusy, "/dev/ttyUSB0: already open elsewhere"};
  EXPECT_EQ(PortTroubleMessage(options, "/dev/ttyUSB0", busy),
            "serial port COM4 ('/dev/ttyUSB0'): in use by another program: already open elsewhere");
  EXPECT_EQ(PortTroubleMessage(options, "", CommError{}).find("serial port COM4: not found"), 0u);
}

TEST(CliMessages, PortTroubleNamesTheGroupToJoinAndTheHolder) {
  CliOptions options;
  options.devicePath = "/dev/ttyUSB0";
  CommError refused{CommErrorKind::kPermission, "/dev/ttyUSB0: Permission denied"};
  refused.group = "dialout";
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, refused),
            "serial port '/dev/ttyUSB0': not permitted: Permission denied\n"
            "  only members of group dialout may open it; to join it, on Debian and Ubuntu:\n"
            "    sudo usermod -aG dialout $USER\n"
            "  then log in again");
  refused.group = "uucp";
  EXPECT_NE(PortTroubleMessage(options, options.devicePath, refused).find("usermod -aG uucp $USER"),
            std::string::npos);
  // Root's group opens far more than a port.
  refused.group = "root";
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, refused).find("usermod"),
            std::string::npos);
  refused.group.clear();
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, refused),
            "serial port '/dev/ttyUSB0': not permitted: Permission denied");

  CommError busy{CommErrorKind::kBusy,
                 "/dev/ttyUSB0: open in another program, by minicom (pid 42)"};
  busy.holderPid = 42;
  busy.holderCommand = "minicom";
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, busy),
            "serial port '/dev/ttyUSB0': in use by minicom (pid 42)");
  busy.holderCommand = "\x1B[2Jx";
  EXPECT_EQ(PortTroubleMessage(options, options.devicePath, busy),
            "serial port '/dev/ttyUSB0': in use by \\x1B[2Jx (pid 42)")
      << "a process may name itself anything";
}

// An outcome as RtuExchange leaves it for a reply of `expected` bytes.
ExchangeOutcome Outcome(ExchangeResult result, std::vector<std::uint8_t> received,
                        std::size_t expected = 7) {
  ExchangeOutcome outcome;
  outcome.result = result;
  outcome.expected = expected;
  outcome.waitMs = 1000;
  outcome.queued = static_cast<unsigned>(received.size());
  outcome.sent = WithCrc({0x05, 0x03, 0x00, 0x03, 0x00, 0x01});
  outcome.received = std::move(received);
  return outcome;
}

TEST(CliMessages, ExceptionsAreNamedAndTheirSlaveGiven) {
  const std::vector<std::pair<std::uint8_t, std::string>> names = {
      {1, "exception 1, illegal function, from slave 5"},
      {2, "exception 2, illegal data address, from slave 5"},
      {3, "exception 3, illegal data value, from slave 5"},
      {4, "exception 4, slave device failure, from slave 5"},
      {5, "exception 5, acknowledge, from slave 5"},
      {6, "exception 6, slave device busy, from slave 5"},
      {0x13, "exception 19, from slave 5"},
  };
  for (const auto& [code, text] : names) {
    ExchangeOutcome outcome = Outcome(ExchangeResult::kException, WithCrc({0x05, 0x83, code}));
    outcome.exceptionCode = code;
    EXPECT_EQ(ExchangeSummary(outcome, false), text);
  }
}

// With --echo, what the tool received begins with the request's echo, which is no part of the
// reply the messages count and name.
TEST(CliMessages, AnExpectedEchoIsNotCountedAsReply) {
  ExchangeOutcome outcome = Outcome(ExchangeResult::kShort, {});
  outcome.received = outcome.sent;
  outcome.received.insert(outcome.received.end(), {0x05, 0x03, 0x02, 0x00});
  outcome.queued = 4;
  EXPECT_EQ(ExchangeSummary(outcome, true), "only 4 of 7 bytes came");

  outcome = Outcome(ExchangeResult::kException, {});
  outcome.received = outcome.sent;
  outcome.received.insert(outcome.received.end(), {0x09, 0x83, 0x02, 0x00, 0x00});
  outcome.exceptionCode = 2;
  EXPECT_EQ(ExchangeSummary(outcome, true), "exception 2, illegal data address, from slave 9");

  // Without an expected echo, a short reply is what came.
  outcome = Outcome(ExchangeResult::kShort, {0x05, 0x03, 0x02});
  EXPECT_EQ(ExchangeSummary(outcome, false), "only 3 of 7 bytes came");
  // All of it came, but part only after the wait.
  outcome = Outcome(ExchangeResult::kShort, {0x05, 0x03, 0x02, 0x00, 0x0A, 0x38, 0x43});
  outcome.queued = 5;
  EXPECT_EQ(ExchangeSummary(outcome, false), "only 5 of 7 bytes came within 1000 ms");
  // No echo at all: the adapter may not echo.
  outcome = Outcome(ExchangeResult::kNoReply, {});
  EXPECT_EQ(ExchangeSummary(outcome, true), "no echo and no reply within 1000 ms");
  EXPECT_NE(ExchangeFailure(outcome, true).find("try without --echo"), std::string::npos);
}

TEST(CliMessages, TooLongRepliesAreSizedInPlainEnglish) {
  ExchangeOutcome outcome = Outcome(ExchangeResult::kTooLong, std::vector<std::uint8_t>(8), 8);
  outcome.queued = 9;
  EXPECT_EQ(ExchangeSummary(outcome, false), "9 bytes queued for an 8-byte reply");
  outcome.expected = 7;
  EXPECT_EQ(ExchangeSummary(outcome, false), "9 bytes queued for a 7-byte reply");
}

TEST(CliMessages, TraceLinesAlignTheirTimes) {
  const std::vector<std::uint8_t> bytes = {0x01, 0x03, 0xAB};
  EXPECT_EQ(TraceFrameLine(0ms, FrameDirection::kSent, bytes), "   0.000 TX 01 03 AB\n");
  EXPECT_EQ(TraceFrameLine(11ms, FrameDirection::kReceived, bytes), "   0.011 RX 01 03 AB\n");
  EXPECT_EQ(TraceFrameLine(1234567ms, FrameDirection::kSent, bytes), "1234.567 TX 01 03 AB\n");
  ExchangeOutcome good = Outcome(ExchangeResult::kGood, WithCrc({0x05, 0x03, 0x02, 0x00, 0x0A}));
  good.replyTime = 11ms;
  EXPECT_EQ(TraceOutcomeLine(good, false), "         good, reply after 11 ms\n");
}

TEST(CliMessages, SearchMissesAreCountedByCause) {
  ResultTally tally;
  EXPECT_EQ(MissSummary(tally), "");
  tally.Count(ExchangeResult::kBadCrc);
  EXPECT_EQ(MissSummary(tally), "1 probe missed: 1 bad CRC");
  tally.Count(ExchangeResult::kNoReply);
  tally.Count(ExchangeResult::kNoReply);
  EXPECT_EQ(tally.Total(), 3u);
  EXPECT_EQ(MissSummary(tally), "3 probes missed: 2 no reply, 1 bad CRC");
}

CommandResult RunCli(const std::string& arguments) {
  return RunProgram(KL395_CLI_PATH, Words(arguments));
}

class CliProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sim_.SlavePath().empty());
    ports_.Link(3, sim_.SlavePath());
  }
  SimProcess sim_{{"--address", "5", "--version", "13", "--voltage", "121"}};
  TempPortsDir ports_;
};

TEST_F(CliProgramTest, ReadsAndWritesThroughAComNumber) {
  CommandResult run = RunCli("--port 3 --address 5 read-version");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "version: 1.3\n");

  run = RunCli("--port 3 --address 5 read-voltage");
  EXPECT_EQ(run.output, "voltage: 12.1 V\n");

  ASSERT_TRUE(sim_.Command("leak 1"));
  ASSERT_TRUE(sim_.Command("alarm 2"));
  run = RunCli("--port 3 --address 5 read-status");
  EXPECT_EQ(run.output, "leak: yes\nalarm: 2 (probe)\n");

  EXPECT_EQ(RunCli("--port 3 --address 5 set-sensitivity 3").status, 0);
  EXPECT_EQ(RunCli("--port 3 --address 5 read-sensitivity").output, "sensitivity: 3 (low)\n");

  EXPECT_EQ(RunCli("--port 3 --address 5 set-baud 2400").status, 0);
  EXPECT_EQ(RunCli("--device " + sim_.SlavePath() + " --baud 2400 --address 5 read-version").status,
            0);
}

TEST_F(CliProgramTest, EachKindOfTroubleHasItsExitStatus) {
  CommandResult run = RunCli("--port 3 --address 6 read-version");
  EXPECT_EQ(run.status, 1) << "nobody at address 6: " << run.output;

  run = RunCli("--port 3 read-status --baud 1234");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("--baud"), std::string::npos) << run.output;

  ports_.Link(4, "/dev/kl395-no-such-device");
  run = RunCli("--port 4 read-status");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("not found"), std::string::npos) << run.output;

  // Another program holding the port, the way our own backend holds it.
  const int holder = open(sim_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  run = RunCli("--port 3 --address 5 read-status");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("in use"), std::string::npos) << run.output;
  close(holder);

  run = RunCli("--device " + ports_.Folder().string() + " read-status");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("is a directory, not a serial device"), std::string::npos)
      << run.output;
  // Anything but a terminal is refused for what it is, whoever else has it open.
  run = RunCli("--device /dev/null read-status");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("'/dev/null': not a serial device\n"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("in use"), std::string::npos) << run.output;
  run = RunCli("--port 9 read-status");
  EXPECT_EQ(run.status, 3) << "no link and no device: " << run.output;
  // COM1, the default, would be taken for an empty path.
  ports_.Link(1, sim_.SlavePath());
  EXPECT_EQ(RunProgram(KL395_CLI_PATH, {"--device", "", "--address", "5", "read-status"}).status,
            2);
  EXPECT_EQ(RunCli("--port 3 --device " + sim_.SlavePath() + " --address 5 read-status").status, 2);
}

TEST(CliHelp, EndsWithANewline) {
  const CommandResult run = RunCli("--help");
  EXPECT_EQ(run.status, 0);
  ASSERT_FALSE(run.output.empty());
  EXPECT_EQ(run.output.back(), '\n');
}

// The result may be lost on the way out, to a full disk or a closed pipe; a set-* command
// has changed the detector by then, and its caller must not take that for a plain success.
TEST_F(CliProgramTest, AResultThatCannotBeWrittenIsAFailure) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const std::vector<std::vector<std::string>> commands = {
      {"--port", "3", "--address", "5", "read-status"},
      {"--port", "3", "--address", "5", "set-sensitivity", "1"},
      {"--port", "3", "search", "9600"},
      {"--help"},
  };
  for (const auto& arguments : commands) {
    CliProcess cli(arguments, full);
    EXPECT_EQ(cli.Wait(30s), 4) << ::testing::PrintToString(arguments) << cli.error;
    EXPECT_NE(cli.error.find("kl395-cli: cannot write the result: No space left on device\n"),
              std::string::npos)
        << cli.error;
  }
  close(full);
  EXPECT_EQ(RunCli("--port 3 --address 5 read-sensitivity").output, "sensitivity: 1 (high)\n");
}

// Started with standard output or error closed, the tool must not get the port in its
// place and write its messages onto the line to the detector. With standard output closed
// a result would go nowhere, so nothing is done at all.
TEST(CliStandardStreams, NothingButTheRequestReachesTheLine) {
  const std::vector<std::uint8_t> request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
  using Command = std::vector<std::string>;
  for (const Command& command : {Command{"read-status"}, Command{"set-sensitivity", "1"}}) {
    PtyPair line;
    Command arguments = {"--device", line.PortPath()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    CliProcess cli(arguments, CliProcess::kClosed);
    EXPECT_EQ(cli.Wait(10s), 4) << cli.error;
    EXPECT_EQ(cli.error, "kl395-cli: cannot write the result: standard output is closed\n");
    EXPECT_TRUE(line.Receive(1, 300ms).empty()) << "nothing is done for a result lost";
  }
  {
    PtyPair line;
    CliProcess cli({"--device", line.PortPath(), "read-status"}, CliProcess::kPiped,
                   CliProcess::kClosed);
    EXPECT_EQ(line.Receive(request.size(), 10s), request);
    EXPECT_EQ(cli.Wait(10s), 1) << "nothing answered";
    EXPECT_TRUE(line.Receive(1, 300ms).empty()) << "the complaint went onto the line";
  }
}

}  // namespace
