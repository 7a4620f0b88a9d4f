#include <gtest/gtest.h>

#include "device/detector.h"
#include "tools/sim/console.h"
#include "tools/sim/options.h"

namespace {

TEST(SimConsole, CommandsChangeTheDetectorAndAreAcknowledged) {
  DetectorModel detector(DetectorStart{});
  EXPECT_EQ(RunCommand(detector, "leak 1").reply, "ok leak 1");
  EXPECT_EQ(RunCommand(detector, "  alarm\t5\r").reply, "ok alarm 5");
  EXPECT_EQ(RunCommand(detector, "set 3 65535").reply, "ok set 3 65535");
  EXPECT_EQ(RunCommand(detector, "set 8 7").reply, "ok set 8 7");
  EXPECT_EQ(RunCommand(detector, "fault stray-late").reply, "ok fault stray-late");
  EXPECT_EQ(detector.Register(reg::kLeakState), 1);
  EXPECT_EQ(detector.Register(reg::kAlarmType), 5);
  EXPECT_EQ(detector.Register(reg::kVersion), 65535);
  EXPECT_EQ(detector.Address(), 7);
  EXPECT_EQ(detector.fault(), Fault::kStrayLate);

  const CommandOutcome quit = RunCommand(detector, "quit");
  EXPECT_EQ(quit.reply, "ok quit");
  EXPECT_TRUE(quit.quit);
  EXPECT_EQ(RunCommand(detector, "   ").reply, "");
}

TEST(SimConsole, BadLinesChangeNothingAndSayWhy) {
  DetectorModel detector(DetectorStart{});
  const char* bad[] = {"leak",      "leak -1",  "leak 65536", "alarm x",  "set 5 1",
                       "set 8 256", "set 9 5",  "set 2",      "fault no", "quitt",
                       "leak 1 2",  "quit now", "LEAK 1"};
  for (const char* line : bad) {
    const CommandOutcome outcome = RunCommand(detector, line);
    EXPECT_EQ(outcome.reply.rfind("error: ", 0), 0u) << line << " -> " << outcome.reply;
    EXPECT_FALSE(outcome.quit) << line;
  }
  EXPECT_EQ(detector.Register(reg::kLeakState), 0);
  EXPECT_EQ(detector.Address(), 1);
  EXPECT_EQ(detector.BaudRate(), 9600);
  EXPECT_EQ(detector.fault(), Fault::kNone);
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

TEST(SimOptions, BadCommandLinesAreRefusedWithAReason) {
  const std::initializer_list<std::string_view> bad[] = {
      {"--address", "256"}, {"--address", "12ab"}, {"--baud", "300"}, {"--baud", "-9600"},
      {"--com", "0"},       {"--fault", "loud"},   {"--version"},     {"--colour", "red"},
      {"--ports-dir="},     {"--voltage", ""},
  };
  for (const auto& args : bad) {
    EXPECT_NE(Parse(args).error, "") << *args.begin();
  }
  EXPECT_TRUE(Parse({"--help"}).help);
}

}  // namespace
