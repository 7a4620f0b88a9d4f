// kl395-cli: its argument checks, and the real program against the simulated detector.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tools/cli/cli_options.h"

namespace {

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
  };
  for (const auto& arguments : refused) {
    const CliParse bad = ParseCliArguments(arguments);
    EXPECT_FALSE(bad.options) << ::testing::PrintToString(arguments);
    EXPECT_FALSE(bad.message.empty());
    EXPECT_FALSE(bad.helpRequested);
  }
  EXPECT_TRUE(ParseCliArguments({"--help"}).helpRequested);
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
}

}  // namespace
