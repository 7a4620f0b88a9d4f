#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <utility>

#include "device/detector.h"
#include "tests/sim/request_frames.h"
#include "tools/sim/console.h"
#include "tools/sim/options.h"

namespace {

// The console drives the first detector of its line.
DetectorBus OneDetector() {
  return DetectorBus(DetectorModel(DetectorStart{}));
}

TEST(SimConsole, CommandsChangeTheDetectorAndAreAcknowledged) {
  DetectorBus bus = OneDetector();
  const DetectorModel& detector = bus.First();
  EXPECT_EQ(RunCommand(bus, 0, "leak 1").reply, "ok leak 1");
  EXPECT_EQ(RunCommand(bus, 0, "  alarm\t5\r").reply, "ok alarm 5");
  EXPECT_EQ(RunCommand(bus, 0, "set 3 65535").reply, "ok set 3 65535");
  EXPECT_EQ(RunCommand(bus, 0, "set 8 7").reply, "ok set 8 7");
  EXPECT_EQ(RunCommand(bus, 0, "fault stray-late").reply, "ok fault stray-late");
  EXPECT_EQ(detector.Register(reg::kLeakState), 1);
  EXPECT_EQ(detector.Register(reg::kAlarmType), 5);
  EXPECT_EQ(detector.Register(reg::kVersion), 65535);
  EXPECT_EQ(detector.Address(), 7);
  EXPECT_EQ(detector.fault(), Fault::kStrayLate);

  EXPECT_EQ(RunCommand(bus, 12, " requests\r").reply, "ok requests 12");

  const CommandOutcome quit = RunCommand(bus, 0, "quit");
  EXPECT_EQ(quit.reply, "ok quit");
  EXPECT_TRUE(quit.quit);
  EXPECT_EQ(RunCommand(bus, 0, "   ").reply, "");
}

TEST(SimConsole, BadLinesChangeNothingAndSayWhy) {
  DetectorBus bus = OneDetector();
  const DetectorModel& detector = bus.First();
  const char* bad[] = {"leak",        "leak -1",   "leak 65536", "alarm x",     "set 5 1",
                       "set 8 256",   "set 9 5",   "set 2",      "fault no",    "quitt",
                       "leak 1 2",    "quit now",  "LEAK 1",     "requests 1",  "burst",
                       "burst 0",     "burst 65",  "burst x",    "burst 3 256", "burst 3 -1",
                       "burst 1 2 3", "burst 0x10"};
  for (const char* line : bad) {
    const CommandOutcome outcome = RunCommand(bus, 0, line);
    EXPECT_EQ(outcome.reply.rfind("error: ", 0), 0u) << line << " -> " << outcome.reply;
    EXPECT_FALSE(outcome.quit) << line;
  }
  EXPECT_EQ(detector.Register(reg::kLeakState), 0);
  EXPECT_EQ(detector.Address(), 1);
  EXPECT_EQ(detector.BaudRate(), 9600);
  EXPECT_EQ(detector.fault(), Fault::kNone);
  EXPECT_EQ(Joined(bus.Respond(Read(1, reg::kVoltage), 9600)).size(), 7u) << "no burst";
}

// On a line of several, "at" reaches a detector other than the first, and only that one.
TEST(SimConsole, AtAnAddressDrivesThatDetectorOfTheLine) {
  DetectorBus bus(DetectorModel(DetectorStart{}), {DetectorModel(DetectorStart{.address = 7})});
  EXPECT_EQ(RunCommand(bus, 0, "at 7 leak 1").reply, "ok at 7 leak 1");
  EXPECT_EQ(RunCommand(bus, 0, "at 7 alarm 2").reply, "ok at 7 alarm 2");
  EXPECT_EQ(RunCommand(bus, 0, "at 7 fault silent").reply, "ok at 7 fault silent");
  EXPECT_EQ(RunCommand(bus, 0, "at 1 set 2 3").reply, "ok at 1 set 2 3");
  const DetectorModel& first = bus.Detector(0);
  const DetectorModel& seventh = bus.Detector(1);
  EXPECT_EQ(seventh.Register(reg::kLeakState), 1);
  EXPECT_EQ(seventh.Register(reg::kAlarmType), 2);
  EXPECT_EQ(seventh.fault(), Fault::kSilent);
  EXPECT_EQ(first.Register(reg::kLeakState), 0);
  EXPECT_EQ(first.Register(reg::kAlarmType), 0);
  EXPECT_EQ(first.Register(reg::kSensitivity), 3);
  EXPECT_EQ(first.fault(), Fault::kNone);

  for (const char* bad : {"at 9 leak 1", "at x leak 1", "at 256 leak 1", "at 7 burst 3",
                          "at 7 quit", "at 7 at 7 leak 1", "at 7 leak", "at 7"}) {
    EXPECT_EQ(RunCommand(bus, 0, bad).reply.rfind("error: ", 0), 0u) << bad;
  }
  EXPECT_EQ(seventh.Register(reg::kLeakState), 1);
}

TEST(SimConsole, BurstIsQueuedOnTheLineForTheNextReply) {
  DetectorBus bus = OneDetector();
  EXPECT_EQ(RunCommand(bus, 0, "burst 3").reply, "ok burst 3 0");
  EXPECT_EQ(RunCommand(bus, 0, "burst 64 170").reply, "ok burst 64 170");  // the last one counts
  const Bytes reply = Joined(bus.Respond(Read(1, reg::kVoltage), 9600));
  ASSERT_EQ(reply.size(), 7u + 64u);
  EXPECT_EQ(Bytes(reply.begin() + 7, reply.end()), Bytes(64, 0xAA));
}

using namespace std::string_literals;

// The answer to a line, which must be one line of valid UTF-8 free of control characters.
std::string AnswerTo(const std::string& line) {
  DetectorBus bus = OneDetector();
  const std::string reply = RunCommand(bus, 0, line).reply;
  for (const char c : reply) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 && byte != 0x7F) << "byte " << int(byte) << " in " << reply;
  }
  return reply;
}

TEST(SimConsole, WhatIsQuotedBackIsEscapedAndCut) {
  const std::pair<std::string, std::string> cases[] = {
      {"wh\0at"s, "'wh\\x00at'"},
      {"leak 1\0"s, "'1\\x00'"},
      {"fault \x1b[2J", "'\\x1B[2J'"},
      {"set \x7f 1", "'\\x7F'"},
      {"\xff\xfe", "'\\xFF\\xFE'"},           // not UTF-8 at all
      {"\xe6\xbc", "'\\xE6\\xBC'"},           // a character cut short
      {"\xc0\xaf", "'\\xC0\\xAF'"},           // an overlong '/'
      {"\xed\xa0\x80", "'\\xED\\xA0\\x80'"},  // a surrogate
      {"\xc2\x9b", "'\\xC2\\x9B'"},           // a C1 control, which terminals obey
      {"漏水 1", "'漏水 1'"},                 // valid UTF-8 is shown as it is
  };
  for (const auto& [line, quoted] : cases) {
    EXPECT_NE(AnswerTo(line).find(quoted), std::string::npos) << AnswerTo(line);
  }

  const std::string longAnswer = AnswerTo(std::string(5000, 'x'));
  EXPECT_NE(longAnswer.find("'" + std::string(80, 'x') + "'..."), std::string::npos);
  EXPECT_LT(longAnswer.size(), 200u);
  std::string wide;
  for (int i = 0; i < 100; ++i) wide += "漏";
  std::string eighty;
  for (int i = 0; i < 80; ++i) eighty += "漏";
  EXPECT_NE(AnswerTo(wide).find("'" + eighty + "'..."), std::string::npos);
}

TEST(SimConsole, EveryCommandOfTheErrorTextIsInTheHelp) {
  const std::string reply = AnswerTo("what");
  const std::string usage = Usage();
  std::istringstream commands(reply.substr(reply.find("commands: ") + 10));
  for (std::string command; std::getline(commands >> std::ws, command, ',');) {
    EXPECT_NE(usage.find("\n  " + command + " "), std::string::npos) << command;
  }
}

ParsedArgs Parse(std::initializer_list<std::string_view> args) {
  return ParseArgs(std::span(args.begin(), args.size()));
}

TEST(SimOptions, StartValuesComeFromTheCommandLine) {
  const ParsedArgs defaults = Parse({});
  ASSERT_EQ(defaults.error, "");
  const DetectorModel plain(defaults.options.start);
  EXPECT_EQ(plain.Address(), 1);
  EXPECT_EQ(plain.BaudRate(), 9600);
  EXPECT_EQ(plain.Register(reg::kVersion), 10);
  EXPECT_EQ(plain.Register(reg::kSensitivity), 2);
  EXPECT_EQ(plain.Register(reg::kVoltage), 120);

  const ParsedArgs parsed =
      Parse({"--address", "255",       "--baud=1200", "--version", "65535", "--sensitivity",
             "3",         "--voltage", "0",           "--leak",    "1",     "--alarm",
             "4",         "--fault",   "bytewise",    "--com",     "12",    "--ports-dir",
             "/tmp/x",    "-v"});
  ASSERT_EQ(parsed.error, "");
  const DetectorModel detector(parsed.options.start);
  EXPECT_EQ(detector.Address(), 255);
  EXPECT_EQ(detector.BaudRate(), 1200);
  EXPECT_EQ(detector.Register(reg::kVersion), 65535);
  EXPECT_EQ(detector.Register(reg::kSensitivity), 3);
  EXPECT_EQ(detector.Register(reg::kLeakState), 1);
  EXPECT_EQ(detector.Register(reg::kAlarmType), 4);
  EXPECT_EQ(parsed.options.fault, Fault::kBytewise);
  EXPECT_EQ(parsed.options.comNumber, 12);
  EXPECT_EQ(parsed.options.portsDir, "/tmp/x");
  EXPECT_TRUE(parsed.options.verbose);
}

TEST(SimOptions, AlsoPutsMoreDetectorsOnTheLineAtTheFirstOnesRate) {
  const ParsedArgs parsed =
      Parse({"--also", "2:11", "--baud", "4800", "--also=0", "--fault", "silent", "--also", "1"});
  ASSERT_EQ(parsed.error, "");
  const DetectorBus bus = MakeBus(parsed.options);
  const std::pair<unsigned, unsigned> addressAndVersion[] = {{1, 10}, {2, 11}, {0, 10}, {1, 10}};
  for (std::size_t i = 0; i < std::size(addressAndVersion); ++i) {
    SCOPED_TRACE(i);
    const DetectorModel& detector = bus.Detector(i);
    EXPECT_EQ(detector.Address(), addressAndVersion[i].first);
    EXPECT_EQ(detector.Register(reg::kVersion), addressAndVersion[i].second);
    EXPECT_EQ(detector.BaudRate(), 4800);
    EXPECT_EQ(detector.fault(), i == 0 ? Fault::kSilent : Fault::kNone);
  }
  EXPECT_THROW(bus.Detector(4), std::out_of_range);
}

TEST(SimOptions, BadCommandLinesAreRefusedWithAReason) {
  const std::initializer_list<std::string_view> bad[] = {
      {"--address", "256"}, {"--address", "12ab"},  {"--baud", "300"},      {"--baud", "-9600"},
      {"--com", "0"},       {"--fault", "loud"},    {"--version"},          {"--colour", "red"},
      {"--ports-dir="},     {"--voltage", ""},      {"--also", "256"},      {"--also", "1:65536"},
      {"--also", ":1"},     {"--also", "1:"},       {"--also", "1:2:3"},    {"--also", "-1"},
      {"--also"},           {"--sensitivity", "0"}, {"--sensitivity", "4"},
  };
  for (const auto& args : bad) {
    EXPECT_NE(Parse(args).error, "") << *args.begin();
  }
  EXPECT_TRUE(Parse({"--help"}).help);
}

// The command line starts a detector as a write could set it; the console may go beyond
// that, so that the tools meet a sensitivity they cannot name.
TEST(SimOptions, SensitivityIsOneToThreeButTheConsoleMaySetAnyValue) {
  EXPECT_EQ(Parse({"--sensitivity", "9"}).error, "bad value '9' for --sensitivity (1 to 3)");
  for (const char* value : {"1", "3"}) {
    const ParsedArgs parsed = Parse({"--sensitivity", value});
    ASSERT_EQ(parsed.error, "") << value;
    EXPECT_EQ(std::to_string(parsed.options.start.sensitivity), value);
  }
  DetectorBus bus = OneDetector();
  EXPECT_EQ(RunCommand(bus, 0, "set 2 9").reply, "ok set 2 9");
  EXPECT_EQ(bus.First().Register(reg::kSensitivity), 9);
}

TEST(SimOptions, UnknownOptionsAreUnknownWhetherOrNotAValueFollows) {
  EXPECT_EQ(Parse({"--bogus"}).error, "unknown option --bogus");
  EXPECT_EQ(Parse({"--bogus", "1"}).error, "unknown option --bogus");
  EXPECT_EQ(Parse({"--bogus=1"}).error, "unknown option --bogus");
  EXPECT_EQ(Parse({"--leak", "1", "-x"}).error, "unknown option -x");
  EXPECT_EQ(Parse({"--address"}).error, "option --address needs a value");
  EXPECT_EQ(Parse({"--leak", "1", "--com"}).error, "option --com needs a value");
}

TEST(SimOptions, HelpPointsToTheFaultsWhereTheyAre) {
  const std::string usage = Usage();
  const std::size_t faults = usage.find("\nFaults:\n");
  const std::size_t command = usage.find("\n  fault NAME ");
  ASSERT_NE(faults, std::string::npos);
  ASSERT_NE(command, std::string::npos);
  const std::string commandLine =
      usage.substr(command + 1, usage.find('\n', command + 1) - command);
  EXPECT_LT(faults, command);
  EXPECT_NE(commandLine.find("above"), std::string::npos) << commandLine;
}

TEST(SimOptions, EveryFaultIsInTheHelpAndSelectableBothWays) {
  const std::string usage = Usage();
  const std::size_t start = usage.find("\nFaults:\n");
  const std::string faultList = usage.substr(start, usage.find("\n\n", start) - start);
  std::istringstream names(FaultNames());
  for (std::string name; std::getline(names >> std::ws, name, ',');) {
    SCOPED_TRACE(name);
    EXPECT_NE(faultList.find("\n  " + name + " "), std::string::npos);
    const ParsedArgs parsed = Parse({"--fault", name});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(FaultName(parsed.options.fault), name);
    DetectorBus bus = OneDetector();
    EXPECT_EQ(RunCommand(bus, 0, "fault " + name).reply, "ok fault " + name);
    EXPECT_EQ(FaultName(bus.First().fault()), name);
  }
}

}  // namespace
